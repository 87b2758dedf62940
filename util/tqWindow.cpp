// Window placement and class registration.
#include <cstring>

#include "util/tqUtil.h"

void tqCenterRect(tqp::Rect* rect, uint32_t style, uint32_t exStyle, bool menu) {
  if (!rect) {
    ErrorBox("rect構造体が未定義です");
    return;
  }
  int width = rect->right - rect->left, height = rect->bottom - rect->top;
  tqp::Rect placed;
  placed.left = (tqp::ScreenWidth() - width) / 2;
  placed.top = (tqp::ScreenHeight() - height) / 2;
  placed.right = placed.left + width;
  placed.bottom = placed.top + height;
  if (tqp::AdjustWindowRect(placed, style, exStyle, menu)) *rect = placed;
}

bool tqCenterWindow(tqp::WindowHandle reference, tqp::WindowHandle window) {
  if (!tqp::IsWindow(reference) || !tqp::IsWindow(window)) return false;
  tqp::Rect a, b;
  if (!tqp::GetWindowRect(reference, a) || !tqp::GetWindowRect(window, b)) return false;
  int x = a.left + ((a.right - a.left) - (b.right - b.left)) / 2;
  int y = a.top + ((a.bottom - a.top) - (b.bottom - b.top)) / 2;
  tqp::MoveWindowTo(window, x, y);
  return true;
}

bool tqWindowClass::Register(const char* className, tqp::WindowProc proc, void* instance,
                             void* largeIcon, void* smallIcon, void* brush, const char* menuName,
                             void* cursor, uint32_t style) {
  tqp::WindowClass cls;
  cls.className = className;
  cls.proc = proc;
  cls.instance = instance;
  cls.largeIcon = largeIcon;
  cls.smallIcon = smallIcon;
  cls.background = brush;
  cls.menuName = menuName;
  cls.cursor = cursor;
  cls.style = style;
  atom_ = tqp::RegisterWindowClass(cls);
  if (!atom_) return false;
  size_t n = className ? strnlen(className, sizeof name_ - 1) : 0;
  memcpy(name_, className, n);
  name_[n] = 0;
  instance_ = instance;
  return true;
}

void tqWindowClass::Unregister() {
  if (!atom_) return;
  tqp::UnregisterWindowClass(name_, instance_);
  atom_ = 0;
}
