// Windows, dialogs, the message loop and painting. On Windows these are the
// system's own; on POSIX an in-process message queue runs the very same
// window and dialog procedures, message boxes appear on the terminal and
// painting draws nothing.
#pragma once

#include <cstdint>

#include "platform/tqPlatform.h"

namespace tqp {

enum : uint32_t {
  WM_CREATE_ = 0x0001,
  WM_DESTROY_ = 0x0002,
  WM_PAINT_ = 0x000F,
  WM_CLOSE_ = 0x0010,
  WM_QUIT_ = 0x0012,
  WM_INITDIALOG_ = 0x0110,
  WM_COMMAND_ = 0x0111,
  WM_TIMER_ = 0x0113,
  WM_USER_ = 0x0400,
};

struct Message {
  WindowHandle window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// The program's module (instance) handle.
void* ModuleInstance();

// userData is in the window's user-data slot before WM_CREATE arrives, so a
// procedure can find the object it forwards to from its first message on.
WindowHandle CreateWindow(uint32_t exStyle, const char* className, const char* title,
                          uint32_t style, int x, int y, int width, int height, WindowHandle parent,
                          void* instance, void* userData = nullptr);
// The per-window user-data slot of windows and dialogs (null when unset).
void* GetWindowUserData(WindowHandle window);
bool SetWindowUserData(WindowHandle window, void* userData);
bool DestroyWindow(WindowHandle window);
intptr_t DefWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
bool PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void PostQuitMessage(int exitCode);
// 1 for a message, 0 for the quit message, -1 on failure.
int GetMessage(Message& message);
void TranslateMessage(const Message& message);
intptr_t DispatchMessage(const Message& message);
bool ShowWindow(WindowHandle window, int command);
bool UpdateWindow(WindowHandle window);
bool SetWindowText(WindowHandle window, const char* text);
bool GetWindowText(WindowHandle window, char* out, int size);

// Modal dialog from the program's resources; returns what EndDialog was given
// (-1 on failure). The procedure answers 0 for messages it leaves to the
// dialog manager.
using DialogProc = WindowProc;
// userData is in the dialog's user-data slot before WM_INITDIALOG arrives.
intptr_t DialogBox(void* instance, int resourceId, WindowHandle owner, DialogProc proc,
                   void* userData = nullptr);
bool EndDialog(WindowHandle dialog, intptr_t result);
bool SetDlgItemText(WindowHandle dialog, int id, const char* text);
bool GetDlgItemText(WindowHandle dialog, int id, char* out, int size);

// Painting a device-independent bitmap.
using DeviceContext = void*;
struct PaintInfo {
  DeviceContext dc;
  // Room for the system's paint record: 64 bytes on 32-bit Windows, 72 on
  // 64-bit, pointer-aligned on both.
  alignas(8) uint8_t reserved[96];
};
DeviceContext BeginPaint(WindowHandle window, PaintInfo& paint);
void EndPaint(WindowHandle window, PaintInfo& paint);
DeviceContext GetDC(WindowHandle window);
void ReleaseDC(WindowHandle window, DeviceContext dc);
// Rows bottom-up when height > 0; bitsPerPixel 24 or 32; the colour table is
// empty. Returns the number of rows drawn (0 on failure).
int StretchDIBits(DeviceContext dc, int x, int y, int width, int height, const void* pixels,
                  int bitsPerPixel, uint32_t imageSize);

// Icons: the first large and small icon of an icon file (returns how many
// were extracted), and icon resources of the program.
int ExtractIcons(const char* file, void** large, void** small);
void* LoadIconResource(void* instance, int id);
void DestroyIcon(void* icon);

#ifndef _WIN32
// POSIX front ends: called about every `intervalMs` while the message loop
// waits, on the loop's thread (for example to draw a progress bar).
void SetIdleHook(void (*hook)(void* user), void* user, uint32_t intervalMs);
// How message boxes with OK and Cancel are answered: 0 asks on the terminal
// (a line starting with y or o means OK; anything else or the end of input
// Cancel), 1 answers OK at once.
void SetMessageBoxAnswer(int mode);
// The last picture painted into a window (for tests): its size and bits per
// pixel, false when none was painted.
bool LastPainted(WindowHandle window, int* width, int* height, int* bitsPerPixel);
#endif

}  // namespace tqp
