// The POSIX window system of the library: an in-process table of windows and
// one message queue. Window and dialog procedures run exactly as on Windows:
// creation and destruction are sent, everything else is posted and dispatched
// by the loop. Message boxes are shown on the terminal.
#include <langinfo.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "platform/posix/posix_internal.h"
#include "platform/tqGui.h"
#include "platform/tqPlatform.h"

namespace tqp {

namespace {

struct Window {
  WindowProc proc = nullptr;     // class procedure, or the dialog procedure
  bool dialog = false;
  bool ended = false;
  intptr_t result = 0;
  bool visible = false;
  Rect rect{0, 0, 0, 0};
  std::string title;
  WindowHandle owner = nullptr;
  void* userData = nullptr;
  std::map<int, std::string> items;
  int paintedWidth = 0, paintedHeight = 0, paintedBits = 0;
};

struct State {
  std::recursive_mutex lock;
  std::map<std::string, WindowClass> classes;
  uint16_t nextAtom = 0xC000;
  std::map<WindowHandle, Window> windows;
  uintptr_t nextHandle = 0x10000;

  std::mutex queueLock;
  std::condition_variable queueSignal;
  std::deque<Message> queue;
  bool quitPending = false;
  int quitCode = 0;

  void (*idleHook)(void*) = nullptr;
  void* idleUser = nullptr;
  uint32_t idleInterval = 100;
  int answerMode = 0;
};

State& S() {
  static State* state = new State;
  return *state;
}

// The procedure of a window, or null when it does not exist.
WindowProc ProcOf(WindowHandle w) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  auto it = S().windows.find(w);
  return it == S().windows.end() ? nullptr : it->second.proc;
}

intptr_t Send(WindowHandle w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  WindowProc proc = ProcOf(w);
  return proc ? proc(w, message, wParam, lParam) : 0;
}

WindowHandle NewHandle(Window window) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  auto handle = reinterpret_cast<WindowHandle>(S().nextHandle);
  S().nextHandle += 4;
  S().windows[handle] = std::move(window);
  return handle;
}

Window* Find(WindowHandle w) {
  auto it = S().windows.find(w);
  return it == S().windows.end() ? nullptr : &it->second;
}

std::string ForTerminal(const char* text) {
  const char* codeset = nl_langinfo(CODESET);
  if (!codeset || !strcmp(codeset, "ANSI_X3.4-1968")) codeset = "UTF-8";
  std::string out;
  if (!text || !posix::Convert("CP932", codeset, text, strlen(text), out)) return text ? text : "";
  return out;
}

}  // namespace

void* ModuleInstance() {
  static char module;
  return &module;
}

// ------------------------------------------------------------ classes and windows

uint16_t RegisterWindowClass(const WindowClass& cls) {
  if (!cls.className || !cls.proc) {
    SetLastError(ERR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  if (S().classes.count(cls.className)) {
    SetLastError(1410);  // class already exists
    return 0;
  }
  WindowClass stored = cls;
  static char defaultIcon, arrow, blackBrush;
  if (!stored.largeIcon) stored.largeIcon = &defaultIcon;
  if (!stored.smallIcon) stored.smallIcon = &defaultIcon;
  if (!stored.cursor) stored.cursor = &arrow;
  if (!stored.background) stored.background = &blackBrush;
  S().classes[cls.className] = stored;
  return S().nextAtom++;
}

bool UnregisterWindowClass(const char* className, void*) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  if (!className || !S().classes.erase(className)) {
    SetLastError(1411);  // class does not exist
    return false;
  }
  return true;
}

WindowHandle CreateWindow(uint32_t, const char* className, const char* title, uint32_t style,
                          int x, int y, int width, int height, WindowHandle parent, void*,
                          void* userData) {
  Window window;
  window.userData = userData;
  {
    std::lock_guard<std::recursive_mutex> lock(S().lock);
    auto it = className ? S().classes.find(className) : S().classes.end();
    if (it == S().classes.end()) {
      SetLastError(1407);  // cannot find window class
      return nullptr;
    }
    window.proc = it->second.proc;
  }
  window.title = title ? title : "";
  window.rect = Rect{x, y, x + width, y + height};
  window.visible = (style & 0x10000000u) != 0;  // visible style
  window.owner = parent;
  WindowHandle handle = NewHandle(std::move(window));
  if (Send(handle, WM_CREATE_, 0, 0) == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  return handle;
}

WindowHandle CreatePlainWindow(int x, int y, int width, int height) {
  Window window;
  window.rect = Rect{x, y, x + width, y + height};
  return NewHandle(std::move(window));
}

void DestroyPlainWindow(WindowHandle w) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  S().windows.erase(w);
}

bool DestroyWindow(WindowHandle window) {
  if (!IsWindow(window)) {
    SetLastError(1400);  // invalid window handle
    return false;
  }
  Send(window, WM_DESTROY_, 0, 0);
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  S().windows.erase(window);
  return true;
}

void* GetWindowUserData(WindowHandle w) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* window = Find(w);
  return window ? window->userData : nullptr;
}

bool SetWindowUserData(WindowHandle w, void* userData) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* window = Find(w);
  if (!window) {
    SetLastError(1400);  // invalid window handle
    return false;
  }
  window->userData = userData;
  return true;
}

bool IsWindow(WindowHandle w) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  return w && S().windows.count(w) != 0;
}

bool GetWindowRect(WindowHandle w, Rect& rect) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* window = Find(w);
  if (!window) {
    SetLastError(1400);
    return false;
  }
  rect = window->rect;
  return true;
}

bool MoveWindowTo(WindowHandle w, int x, int y) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* window = Find(w);
  if (!window) {
    SetLastError(1400);
    return false;
  }
  Rect& r = window->rect;
  r.right = x + (r.right - r.left);
  r.bottom = y + (r.bottom - r.top);
  r.left = x;
  r.top = y;
  return true;
}

intptr_t DefWindowProc(WindowHandle window, uint32_t message, uintptr_t, intptr_t) {
  if (message == WM_CLOSE_) DestroyWindow(window);
  return 0;
}

bool ShowWindow(WindowHandle window, int command) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* w = Find(window);
  if (!w) return false;
  bool was = w->visible;
  w->visible = command != 0;
  return was;
}

bool UpdateWindow(WindowHandle window) {
  bool visible;
  {
    std::lock_guard<std::recursive_mutex> lock(S().lock);
    Window* w = Find(window);
    if (!w) return false;
    visible = w->visible;
  }
  if (visible) Send(window, WM_PAINT_, 0, 0);
  return true;
}

bool SetWindowText(WindowHandle window, const char* text) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* w = Find(window);
  if (!w) return false;
  w->title = text ? text : "";
  return true;
}

bool GetWindowText(WindowHandle window, char* out, int size) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* w = Find(window);
  if (!w || !out || size <= 0) return false;
  snprintf(out, (size_t)size, "%s", w->title.c_str());
  return true;
}

// ------------------------------------------------------------ the message loop

bool PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (window && !IsWindow(window)) {
    SetLastError(1400);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(S().queueLock);
    S().queue.push_back(Message{window, message, wParam, lParam});
  }
  S().queueSignal.notify_one();
  return true;
}

void PostQuitMessage(int exitCode) {
  {
    std::lock_guard<std::mutex> lock(S().queueLock);
    S().quitPending = true;
    S().quitCode = exitCode;
  }
  S().queueSignal.notify_one();
}

int GetMessage(Message& message) {
  std::unique_lock<std::mutex> lock(S().queueLock);
  for (;;) {
    if (!S().queue.empty()) {
      message = S().queue.front();
      S().queue.pop_front();
      return 1;
    }
    // The quit message comes when nothing else is waiting, as on Windows.
    if (S().quitPending) {
      S().quitPending = false;
      message = Message{nullptr, WM_QUIT_, (uintptr_t)S().quitCode, 0};
      return 0;
    }
    if (S().idleHook) {
      auto hook = S().idleHook;
      void* user = S().idleUser;
      if (!S().queueSignal.wait_for(lock, std::chrono::milliseconds(S().idleInterval),
                                    [] { return !S().queue.empty() || S().quitPending; })) {
        lock.unlock();
        hook(user);
        lock.lock();
      }
    } else {
      S().queueSignal.wait(lock, [] { return !S().queue.empty() || S().quitPending; });
    }
  }
}

void TranslateMessage(const Message&) {}

intptr_t DispatchMessage(const Message& message) {
  if (!message.window) return 0;  // thread messages have no procedure here
  return Send(message.window, message.message, message.wParam, message.lParam);
}

void SetIdleHook(void (*hook)(void*), void* user, uint32_t intervalMs) {
  std::lock_guard<std::mutex> lock(S().queueLock);
  S().idleHook = hook;
  S().idleUser = user;
  S().idleInterval = intervalMs ? intervalMs : 100;
}

// ------------------------------------------------------------ dialogs
// Dialog templates are not needed here: a dialog is a window whose controls
// come into being when their text is first set.

intptr_t DialogBox(void*, int, WindowHandle owner, DialogProc proc, void* userData) {
  if (!proc) return -1;
  Window window;
  window.userData = userData;
  window.proc = proc;
  window.dialog = true;
  window.visible = true;
  window.owner = owner;
  WindowHandle dialog = NewHandle(std::move(window));
  Send(dialog, WM_INITDIALOG_, 0, 0);
  intptr_t result = -1;
  for (;;) {
    {
      std::lock_guard<std::recursive_mutex> lock(S().lock);
      Window* w = Find(dialog);
      if (!w) break;
      if (w->ended) {
        result = w->result;
        break;
      }
    }
    Message message;
    int got = GetMessage(message);
    if (got <= 0) {
      PostQuitMessage((int)message.wParam);  // leave the quit to the outer loop
      break;
    }
    DispatchMessage(message);
  }
  if (IsWindow(dialog)) DestroyWindow(dialog);
  return result;
}

bool EndDialog(WindowHandle dialog, intptr_t result) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* w = Find(dialog);
  if (!w || !w->dialog) return false;
  w->ended = true;
  w->result = result;
  w->visible = false;
  return true;
}

bool SetDlgItemText(WindowHandle dialog, int id, const char* text) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* w = Find(dialog);
  if (!w) return false;
  w->items[id] = text ? text : "";
  return true;
}

bool GetDlgItemText(WindowHandle dialog, int id, char* out, int size) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* w = Find(dialog);
  if (!w || !out || size <= 0) return false;
  auto it = w->items.find(id);
  if (it == w->items.end()) return false;
  snprintf(out, (size_t)size, "%s", it->second.c_str());
  return true;
}

// ------------------------------------------------------------ painting

DeviceContext BeginPaint(WindowHandle window, PaintInfo& paint) {
  paint.dc = IsWindow(window) ? window : nullptr;
  return paint.dc;
}

void EndPaint(WindowHandle, PaintInfo&) {}

DeviceContext GetDC(WindowHandle window) { return IsWindow(window) ? window : nullptr; }

void ReleaseDC(WindowHandle, DeviceContext) {}

int StretchDIBits(DeviceContext dc, int, int, int width, int height, const void* pixels,
                  int bitsPerPixel, uint32_t) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* w = Find(dc);
  if (!w || !pixels || width <= 0 || height == 0) return 0;
  w->paintedWidth = width;
  w->paintedHeight = height < 0 ? -height : height;
  w->paintedBits = bitsPerPixel;
  return w->paintedHeight;
}

bool LastPainted(WindowHandle window, int* width, int* height, int* bitsPerPixel) {
  std::lock_guard<std::recursive_mutex> lock(S().lock);
  Window* w = Find(window);
  if (!w || !w->paintedWidth) return false;
  if (width) *width = w->paintedWidth;
  if (height) *height = w->paintedHeight;
  if (bitsPerPixel) *bitsPerPixel = w->paintedBits;
  return true;
}

int ExtractIcons(const char*, void** large, void** small) {
  if (large) *large = nullptr;
  if (small) *small = nullptr;
  return 0;
}

void* LoadIconResource(void*, int) { return nullptr; }
void DestroyIcon(void*) {}

// ------------------------------------------------------------ message boxes

void SetMessageBoxAnswer(int mode) { S().answerMode = mode; }

int MessageBox(WindowHandle, const char* text, const char* caption, uint32_t type) {
  fprintf(stderr, "\n[%s]\n%s\n", ForTerminal(caption).c_str(), ForTerminal(text).c_str());
  if ((type & 0xF) != MB_OKCANCEL_) return 1;
  if (S().answerMode == 1) {
    fprintf(stderr, "OK\n");
    return 1;
  }
  fprintf(stderr, "OK / Cancel? [y/N] ");
  fflush(stderr);
  char line[64];
  if (!fgets(line, sizeof line, stdin)) return 2;
  return (line[0] | 0x20) == 'y' || (line[0] | 0x20) == 'o' ? 1 : 2;
}

}  // namespace tqp
