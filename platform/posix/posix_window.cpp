// Window services for the POSIX backend: the least that callers need. Windows
// are records in an in-process table; message boxes are shown on the terminal.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/tqPlatform.h"

namespace tqp {

namespace {

int EnvInt(const char* name, int fallback) {
  const char* v = getenv(name);
  if (!v || !*v) return fallback;
  int n = atoi(v);
  return n > 0 ? n : fallback;
}

}  // namespace

// The display size comes from TQ_SCREEN_WIDTH / TQ_SCREEN_HEIGHT, else Full HD.
int ScreenWidth() { return EnvInt("TQ_SCREEN_WIDTH", 1920); }
int ScreenHeight() { return EnvInt("TQ_SCREEN_HEIGHT", 1080); }

bool AdjustWindowRect(Rect& rect, uint32_t style, uint32_t exStyle, bool menu) {
  // Nominal frame metrics of the classic Windows look.
  const uint32_t kCaption = 0x00C00000, kBorder = 0x00800000, kDlgFrame = 0x00400000,
                 kThickFrame = 0x00040000;
  int edge = 0;
  if ((style & kCaption) == kCaption || (style & kDlgFrame)) edge = 3;
  else if (style & kBorder) edge = 1;
  if (style & kThickFrame) edge += 4;
  if (exStyle != 0xFFFFFFFFu && (exStyle & 0x00000200)) edge += 2;  // client edge
  int top = edge;
  if ((style & kCaption) == kCaption) top += 19;
  if (menu) top += 19;
  rect.left -= edge;
  rect.right += edge;
  rect.top -= top;
  rect.bottom += edge;
  return true;
}

}  // namespace tqp

namespace tqp {
void InitUserInterface() {}
void DoneUserInterface() {}
}  // namespace tqp
