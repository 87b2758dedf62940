// Windows, dialogs, the message loop and painting: the system's own.
#include <cstring>

#include "platform/win32/win32.h"
#include <shellapi.h>

#undef CreateWindow
#undef DefWindowProc
#undef PostMessage
#undef GetMessage
#undef DispatchMessage
#undef DialogBox
#undef SetDlgItemText
#undef GetDlgItemText
#undef SetWindowText
#undef GetWindowText

#include "platform/tqGui.h"

namespace tqp {

namespace {

// What a dialog's creation parameter carries: our procedure and the
// caller's user data. It lives on DialogBox's stack while the modal dialog runs.
struct DialogStart {
  DialogProc proc;
  void* userData;
};

// Our dialog procedures use the C calling convention; the system calls
// CALLBACK ones. The procedure travels in the creation parameter and then in
// the dialog's DWLP_USER slot; the caller's data goes to GWLP_USERDATA.
INT_PTR CALLBACK DialogTrampoline(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogProc proc;
  if (message == WM_INITDIALOG) {
    const auto* start = reinterpret_cast<const DialogStart*>(lParam);
    proc = start ? start->proc : nullptr;
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(proc));
    SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(start ? start->userData : nullptr));
    return proc ? proc(dialog, message, wParam, 0) : FALSE;
  }
  proc = reinterpret_cast<DialogProc>(GetWindowLongPtrA(dialog, DWLP_USER));
  return proc ? proc(dialog, message, wParam, lParam) : FALSE;
}

}  // namespace

void* ModuleInstance() { return GetModuleHandleA(nullptr); }

WindowHandle CreateWindow(uint32_t exStyle, const char* className, const char* title,
                          uint32_t style, int x, int y, int width, int height, WindowHandle parent,
                          void* instance, void* userData) {
  // The class entry procedure moves userData into GWLP_USERDATA at WM_NCCREATE.
  return CreateWindowExA(exStyle, className, title, style, x, y, width, height,
                         static_cast<HWND>(parent), nullptr, static_cast<HINSTANCE>(instance),
                         userData);
}

void* GetWindowUserData(WindowHandle window) {
  return reinterpret_cast<void*>(GetWindowLongPtrA(static_cast<HWND>(window), GWLP_USERDATA));
}

bool SetWindowUserData(WindowHandle window, void* userData) {
  ::SetLastError(0);
  LONG_PTR previous =
      SetWindowLongPtrA(static_cast<HWND>(window), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(userData));
  return previous != 0 || ::GetLastError() == 0;
}

bool DestroyWindow(WindowHandle window) { return ::DestroyWindow(static_cast<HWND>(window)) != 0; }

intptr_t DefWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return DefWindowProcA(static_cast<HWND>(window), message, wParam, lParam);
}

bool PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostMessageA(static_cast<HWND>(window), message, wParam, lParam) != 0;
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

int GetMessage(Message& message) {
  MSG msg;
  BOOL got = GetMessageA(&msg, nullptr, 0, 0);
  message.window = msg.hwnd;
  message.message = msg.message;
  message.wParam = msg.wParam;
  message.lParam = msg.lParam;
  return got == -1 ? -1 : got ? 1 : 0;
}

static MSG ToMsg(const Message& message) {
  MSG msg = {};
  msg.hwnd = static_cast<HWND>(message.window);
  msg.message = message.message;
  msg.wParam = message.wParam;
  msg.lParam = message.lParam;
  return msg;
}

void TranslateMessage(const Message& message) {
  MSG msg = ToMsg(message);
  ::TranslateMessage(&msg);
}

intptr_t DispatchMessage(const Message& message) {
  MSG msg = ToMsg(message);
  return DispatchMessageA(&msg);
}

bool ShowWindow(WindowHandle window, int command) {
  return ::ShowWindow(static_cast<HWND>(window), command) != 0;
}

bool UpdateWindow(WindowHandle window) { return ::UpdateWindow(static_cast<HWND>(window)) != 0; }

bool SetWindowText(WindowHandle window, const char* text) {
  return SetWindowTextA(static_cast<HWND>(window), text) != 0;
}

bool GetWindowText(WindowHandle window, char* out, int size) {
  if (!out || size <= 0) return false;
  out[0] = 0;
  GetWindowTextA(static_cast<HWND>(window), out, size);
  return IsWindow(window);
}

intptr_t DialogBox(void* instance, int resourceId, WindowHandle owner, DialogProc proc,
                   void* userData) {
  DialogStart start{proc, userData};
  return DialogBoxParamA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(resourceId),
                         static_cast<HWND>(owner), DialogTrampoline,
                         reinterpret_cast<LPARAM>(&start));
}

bool EndDialog(WindowHandle dialog, intptr_t result) {
  return ::EndDialog(static_cast<HWND>(dialog), result) != 0;
}

bool SetDlgItemText(WindowHandle dialog, int id, const char* text) {
  return SetDlgItemTextA(static_cast<HWND>(dialog), id, text) != 0;
}

bool GetDlgItemText(WindowHandle dialog, int id, char* out, int size) {
  if (!out || size <= 0) return false;
  out[0] = 0;
  return GetDlgItemTextA(static_cast<HWND>(dialog), id, out, size) > 0 ||
         GetDlgItem(static_cast<HWND>(dialog), id) != nullptr;
}

static_assert(sizeof(PAINTSTRUCT) <= sizeof(PaintInfo::reserved), "paint record fits");

DeviceContext BeginPaint(WindowHandle window, PaintInfo& paint) {
  auto* ps = reinterpret_cast<PAINTSTRUCT*>(paint.reserved);
  paint.dc = ::BeginPaint(static_cast<HWND>(window), ps);
  return paint.dc;
}

void EndPaint(WindowHandle window, PaintInfo& paint) {
  ::EndPaint(static_cast<HWND>(window), reinterpret_cast<PAINTSTRUCT*>(paint.reserved));
}

DeviceContext GetDC(WindowHandle window) { return ::GetDC(static_cast<HWND>(window)); }

void ReleaseDC(WindowHandle window, DeviceContext dc) {
  ::ReleaseDC(static_cast<HWND>(window), static_cast<HDC>(dc));
}

int StretchDIBits(DeviceContext dc, int x, int y, int width, int height, const void* pixels,
                  int bitsPerPixel, uint32_t imageSize) {
  // The header with one zeroed colour entry after it.
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[1];
  } info;
  memset(&info, 0, sizeof info);
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = width;
  info.header.biHeight = height;
  info.header.biPlanes = 1;
  info.header.biBitCount = (WORD)bitsPerPixel;
  info.header.biCompression = BI_RGB;
  info.header.biSizeImage = imageSize;
  int h = height < 0 ? -height : height;
  return ::StretchDIBits(static_cast<HDC>(dc), x, y, width, h, 0, 0, width, h, pixels,
                         reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY);
}

int ExtractIcons(const char* file, void** large, void** small) {
  HICON l = nullptr, s = nullptr;
  UINT n = ExtractIconExA(file, 0, &l, &s, 1);
  if (large) *large = l;
  if (small) *small = s;
  return n == UINT_MAX ? 0 : (int)n;
}

void* LoadIconResource(void* instance, int id) {
  return LoadIconA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(id));
}

void DestroyIcon(void* icon) {
  if (icon) ::DestroyIcon(static_cast<HICON>(icon));
}

}  // namespace tqp
