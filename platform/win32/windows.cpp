// Win32 backend: screen size, window frames and positions, window classes,
// message boxes and debugger output.
#include <map>

#include "platform/win32/win32.h"

namespace tqp {

int ScreenWidth() { return ::GetSystemMetrics(SM_CXSCREEN); }

int ScreenHeight() { return ::GetSystemMetrics(SM_CYSCREEN); }

bool AdjustWindowRect(Rect& rect, uint32_t style, uint32_t exStyle, bool menu) {
  RECT r{rect.left, rect.top, rect.right, rect.bottom};
  BOOL ok = exStyle == 0xFFFFFFFFu ? ::AdjustWindowRect(&r, style, menu)
                                   : ::AdjustWindowRectEx(&r, style, menu, exStyle);
  if (!ok) return false;
  rect = Rect{r.left, r.top, r.right, r.bottom};
  return true;
}

bool IsWindow(WindowHandle w) { return ::IsWindow(static_cast<HWND>(w)) != 0; }

bool GetWindowRect(WindowHandle w, Rect& rect) {
  RECT r;
  if (!::GetWindowRect(static_cast<HWND>(w), &r)) return false;
  rect = Rect{r.left, r.top, r.right, r.bottom};
  return true;
}

bool MoveWindowTo(WindowHandle w, int x, int y) {
  return ::SetWindowPos(static_cast<HWND>(w), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER) != 0;
}

namespace {

// Our window procedures use the C calling convention; the system calls
// CALLBACK (stdcall on i686) procedures. Every class we register gets the
// same system procedure, which finds ours through the class atom.
SRWLOCK classLock = SRWLOCK_INIT;
std::map<ATOM, WindowProc>& ClassProcs() {
  static std::map<ATOM, WindowProc> procs;
  return procs;
}

WindowProc ProcOf(ATOM atom) {
  AcquireSRWLockShared(&classLock);
  auto& procs = ClassProcs();
  auto it = procs.find(atom);
  WindowProc proc = it == procs.end() ? nullptr : it->second;
  ReleaseSRWLockShared(&classLock);
  return proc;
}

LRESULT CALLBACK ClassEntry(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The creation parameter becomes the window's user data before WM_CREATE.
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    if (create && create->lpCreateParams)
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  WindowProc proc = ProcOf((ATOM)::GetClassWord(window, GCW_ATOM));
  if (!proc) return ::DefWindowProcA(window, message, wParam, lParam);
  return proc(window, message, wParam, lParam);
}

}  // namespace

uint16_t RegisterWindowClass(const WindowClass& cls) {
  if (!cls.className || !cls.proc) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.style = cls.style;
  wc.lpfnWndProc = ClassEntry;
  wc.hInstance = static_cast<HINSTANCE>(cls.instance);
  wc.hIcon = cls.largeIcon ? static_cast<HICON>(cls.largeIcon) : ::LoadIconA(nullptr, IDI_APPLICATION);
  wc.hIconSm = cls.smallIcon ? static_cast<HICON>(cls.smallIcon) : ::LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = cls.cursor ? static_cast<HCURSOR>(cls.cursor) : ::LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground =
      cls.background ? static_cast<HBRUSH>(cls.background) : static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
  wc.lpszMenuName = cls.menuName;
  wc.lpszClassName = cls.className;
  // Held across the registration so that no window of the class can run
  // before its procedure is known.
  AcquireSRWLockExclusive(&classLock);
  ATOM atom = ::RegisterClassExA(&wc);
  if (atom) ClassProcs()[atom] = cls.proc;
  ReleaseSRWLockExclusive(&classLock);
  return atom;
}

bool UnregisterWindowClass(const char* className, void* instance) {
  if (!className) return false;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  ATOM atom = (ATOM)::GetClassInfoExA(static_cast<HINSTANCE>(instance), className, &wc);
  if (!::UnregisterClassA(className, static_cast<HINSTANCE>(instance))) return false;
  if (atom) {
    AcquireSRWLockExclusive(&classLock);
    ClassProcs().erase(atom);
    ReleaseSRWLockExclusive(&classLock);
  }
  return true;
}

int MessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type) {
  // Without a display the system answers -1; callers know 0 as failure.
  int pressed = ::MessageBoxA(static_cast<HWND>(owner), text, caption, type);
  return pressed < 0 ? 0 : pressed;
}

void DebugOutput(const char* text) {
  if (text) ::OutputDebugStringA(text);
}

}  // namespace tqp
