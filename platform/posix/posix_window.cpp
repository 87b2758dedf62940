// Window services for the POSIX backend: the least that callers need. Windows
// are records in an in-process table; message boxes are shown on the terminal.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/tqPlatform.h"

namespace tqp {

namespace {

std::mutex g_lock;
std::map<std::string, WindowClass> g_classes;
std::map<std::string, uint16_t> g_atoms;
uint16_t g_nextAtom = 0xC000;

struct Window {
  Rect rect;
};
std::map<WindowHandle, Window> g_windows;

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

bool IsWindow(WindowHandle w) {
  std::lock_guard<std::mutex> lock(g_lock);
  return w && g_windows.count(w) != 0;
}

bool GetWindowRect(WindowHandle w, Rect& rect) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_windows.find(w);
  if (it == g_windows.end()) {
    SetLastError(1400);  // invalid window handle
    return false;
  }
  rect = it->second.rect;
  return true;
}

bool MoveWindowTo(WindowHandle w, int x, int y) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_windows.find(w);
  if (it == g_windows.end()) {
    SetLastError(1400);
    return false;
  }
  Rect& r = it->second.rect;
  r.right = x + (r.right - r.left);
  r.bottom = y + (r.bottom - r.top);
  r.left = x;
  r.top = y;
  return true;
}

WindowHandle CreatePlainWindow(int x, int y, int width, int height) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto* key = new char;  // a unique address serves as the handle
  g_windows[key] = Window{{x, y, x + width, y + height}};
  return key;
}

void DestroyPlainWindow(WindowHandle w) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_windows.erase(w)) delete static_cast<char*>(w);
}

uint16_t RegisterWindowClass(const WindowClass& cls) {
  if (!cls.className || !cls.proc) {
    SetLastError(ERR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_classes.count(cls.className)) {
    SetLastError(1410);  // class already exists
    return 0;
  }
  WindowClass stored = cls;
  static char defaultIcon, arrow, blackBrush;
  if (!stored.largeIcon) stored.largeIcon = &defaultIcon;
  if (!stored.smallIcon) stored.smallIcon = &defaultIcon;
  if (!stored.cursor) stored.cursor = &arrow;
  if (!stored.background) stored.background = &blackBrush;
  g_classes[cls.className] = stored;
  uint16_t atom = g_nextAtom++;
  g_atoms[cls.className] = atom;
  return atom;
}

bool UnregisterWindowClass(const char* className, void*) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!className || !g_classes.erase(className)) {
    SetLastError(1411);  // class does not exist
    return false;
  }
  g_atoms.erase(className);
  return true;
}

int MessageBox(WindowHandle, const char* text, const char* caption, uint32_t type) {
  std::string t, c;
  if (!Utf8FromNarrow(text ? text : "", t)) t = text ? text : "";
  if (!Utf8FromNarrow(caption ? caption : "", c)) c = caption ? caption : "";
  fprintf(stderr, "[%s]\n%s\n", c.c_str(), t.c_str());
  if ((type & 0xF) != MB_OKCANCEL_) return 1;
  // OK or Cancel: a line starting with y or o means OK; anything else Cancel.
  fprintf(stderr, "OK? [y/N] ");
  fflush(stderr);
  char line[64];
  if (!fgets(line, sizeof line, stdin)) return 2;
  return (line[0] | 0x20) == 'y' || (line[0] | 0x20) == 'o' ? 1 : 2;
}

}  // namespace tqp

namespace tqp {
void InitUserInterface() {}
void DoneUserInterface() {}
}  // namespace tqp
