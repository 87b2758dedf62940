// Bare windows for placement and measuring.
#include "platform/win32/win32.h"

namespace tqp {

WindowHandle CreatePlainWindow(int x, int y, int width, int height) {
  return ::CreateWindowExA(0, "STATIC", "", WS_POPUP, x, y, width, height, nullptr, nullptr,
                           ::GetModuleHandleA(nullptr), nullptr);
}

void DestroyPlainWindow(WindowHandle w) {
  if (w) ::DestroyWindow(static_cast<HWND>(w));
}

}  // namespace tqp
