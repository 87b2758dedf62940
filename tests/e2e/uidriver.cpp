// uidriver: walks a Windows program's message boxes and dialogs for the
// end-to-end tests. It starts the program itself (so that it only ever looks
// at that program's windows), waits for boxes by caption or class, reports
// their texts as hexadecimal bytes (the program's ANSI code page, so Shift_JIS
// under a Japanese locale), presses their buttons, holds named mutexes and
// samples or saves what a window shows on the screen.
//
// Commands come from the command line (one command, fields as arguments) or,
// without arguments, from standard input, one per line with fields separated
// by tabs. Every command answers with one line on standard output, starting
// with "ok" or "error":
//
//   start DIR PROGRAM [ARG...]   start a program in DIR -> ok proc=N pid=P
//   wait [proc=N|any] [class=NAME] [caption=HEX] [kind=box|dialog]
//        [timeout=MS]            wait for a visible top-level window not yet
//                                pressed -> ok window ... (see Describe)
//   box ... press=ID             wait as above, then press button ID
//   press HWND ID                WM_COMMAND for button ID (1 OK, 2 Cancel)
//   item HWND ID                 -> ok text=HEX (a control's text)
//   rect HWND                    -> ok window=L,T,R,B client=L,T,R,B
//   pixels HWND X,Y...           colours on the screen at client points
//                                -> ok RRGGBB... ("covered" where another
//                                window lies over the point)
//   move HWND X Y                move a window (to uncover what is below)
//   screen                       -> ok WIDTHxHEIGHT
//   shot HWND FILE [client]      the window (or its client area) as it is
//                                on the screen, saved as a 24-bit BMP
//   list [proc=N|any]            -> one "window" line each, then ok N
//   mutex NAME                   create and hold a named mutex -> ok existed=0|1
//   event NAME                   create and hold a named event (a name
//                                taken by an object of another kind)
//   hold FILE                    open an existing file for writing with no
//                                sharing and keep it open (another program
//                                holding the file)
//   errtext CODE                 -> ok text=HEX (the system's message for an
//                                error number, without the line break)
//   setenv NAME [VALUE]          set (or clear) a variable for programs
//                                started after it
//   exit [proc=N] [timeout=MS]   wait for the end -> ok code=C
//   sleep MS
//   quit
//
// A window line: ok window hwnd=H pid=P proc=N class=C caption=HEX text=HEX
// textid=ID buttons=1,2 owner=H owner_class=C rect=L,T,R,B. The text is that
// of a message box's text control (0xFFFF) or the progress text (1005), else
// the window's own.
//
// Watchdog: --deadline MS (first argument, or the DEADLINE environment
// variable) ends the driver and every program it started after that time.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Fields = std::vector<std::string>;

struct Started {
  HANDLE process;
  DWORD pid;
};
std::vector<Started> g_started;
std::set<HWND> g_pressed;
std::vector<HANDLE> g_mutexes;  // and events: held until the driver ends

void Reply(const std::string& line) {
  fputs(line.c_str(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool Unhex(const std::string& hex, std::string* out) {
  if (hex.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    std::string pair = hex.substr(i, 2);
    long v = strtol(pair.c_str(), &end, 16);
    if (*end) return false;
    out->push_back((char)v);
  }
  return true;
}

std::string Format(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string HandleText(HWND h) { return Format("%08llx", (unsigned long long)(uintptr_t)h); }

HWND ParseHandle(const std::string& text) {
  return (HWND)(uintptr_t)strtoull(text.c_str(), nullptr, 16);
}

// key=value fields after the command name.
std::string Option(const Fields& f, const char* key, const char* fallback = "") {
  std::string prefix = std::string(key) + "=";
  for (size_t i = 1; i < f.size(); ++i)
    if (f[i].compare(0, prefix.size(), prefix) == 0) return f[i].substr(prefix.size());
  return fallback;
}

std::string ClassOf(HWND h) {
  char name[256] = "";
  if (h) GetClassNameA(h, name, sizeof name);
  return name;
}

std::string TextOf(HWND h) {
  char text[4096] = "";
  GetWindowTextA(h, text, sizeof text);
  return text;
}

// A control's text; WM_GETTEXT crosses into the owning process.
std::string ItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) return "";
  char text[4096] = "";
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(item, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &copied);
  text[sizeof text - 1] = 0;
  return text;
}

int ProcIndexOf(HWND h) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  for (size_t i = 0; i < g_started.size(); ++i)
    if (g_started[i].pid == pid) return (int)i;
  return -1;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM list) {
  if (ClassOf(child) == "Button" && IsWindowVisible(child)) {
    auto* out = reinterpret_cast<std::string*>(list);
    if (!out->empty()) *out += ',';
    *out += Format("%d", GetDlgCtrlID(child));
  }
  return TRUE;
}

std::string Describe(HWND h) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  int textId = 0;
  std::string text;
  if (GetDlgItem(h, 0xFFFF)) {
    textId = 0xFFFF;
    text = ItemText(h, 0xFFFF);
  } else if (GetDlgItem(h, 1005)) {
    textId = 1005;
    text = ItemText(h, 1005);
  } else {
    text = TextOf(h);
  }
  std::string buttons;
  EnumChildWindows(h, CollectButton, (LPARAM)&buttons);
  HWND owner = GetWindow(h, GW_OWNER);
  RECT r{};
  GetWindowRect(h, &r);
  return Format("window hwnd=%s pid=%lu proc=%d class=%s caption=%s text=%s textid=%d "
                "buttons=%s owner=%s owner_class=%s rect=%ld,%ld,%ld,%ld",
                HandleText(h).c_str(), (unsigned long)pid, ProcIndexOf(h), ClassOf(h).c_str(),
                Hex(TextOf(h)).c_str(), Hex(text).c_str(), textId,
                buttons.empty() ? "-" : buttons.c_str(), HandleText(owner).c_str(),
                owner ? ClassOf(owner).c_str() : "-", r.left, r.top, r.right, r.bottom);
}

struct Filter {
  int proc = -2;  // -2: any program we started, -1: any process at all
  std::string className, caption;
  bool hasCaption = false;
  std::string kind;
  std::vector<HWND> found;
};

bool Matches(HWND h, const Filter& f) {
  if (!IsWindowVisible(h) || g_pressed.count(h)) return false;
  int proc = ProcIndexOf(h);
  if (f.proc == -2 && proc < 0) return false;
  if (f.proc >= 0 && proc != f.proc) return false;
  std::string cls = ClassOf(h);
  if (!f.className.empty() && cls != f.className) return false;
  if (f.kind == "box" && (cls != "#32770" || !GetDlgItem(h, 0xFFFF))) return false;
  if (f.kind == "dialog" && cls != "#32770") return false;
  if (f.hasCaption && TextOf(h) != f.caption) return false;
  return true;
}

BOOL CALLBACK CollectWindow(HWND h, LPARAM data) {
  auto* f = reinterpret_cast<Filter*>(data);
  if (Matches(h, *f)) f->found.push_back(h);
  return TRUE;
}

bool ParseFilter(const Fields& f, Filter* filter, std::string* error) {
  std::string proc = Option(f, "proc");
  if (proc == "any") {
    filter->proc = -1;
  } else if (!proc.empty()) {
    filter->proc = atoi(proc.c_str());
    if (filter->proc < 0 || filter->proc >= (int)g_started.size()) {
      *error = "no such proc";
      return false;
    }
  }
  filter->className = Option(f, "class");
  filter->kind = Option(f, "kind");
  std::string caption = Option(f, "caption", "\x01");
  if (caption != "\x01") {
    filter->hasCaption = true;
    if (!Unhex(caption, &filter->caption)) {
      *error = "caption must be hexadecimal";
      return false;
    }
  }
  return true;
}

// Waits for a matching window; nullptr after the time-out.
HWND WaitFor(Filter& filter, DWORD timeout) {
  DWORD start = GetTickCount();
  for (;;) {
    filter.found.clear();
    EnumWindows(CollectWindow, (LPARAM)&filter);
    if (!filter.found.empty()) return filter.found.front();
    if (GetTickCount() - start >= timeout) return nullptr;
    Sleep(15);
  }
}

std::string Press(HWND h, int id) {
  if (!IsWindow(h)) return "error no such window";
  HWND button = GetDlgItem(h, id);
  if (!button) return Format("error no button %d", id);
  g_pressed.insert(h);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button,
                           SMTO_ABORTIFHUNG, 5000, &result))
    return "error the window does not answer";
  return Format("ok pressed %d", id);
}

POINT ClientOrigin(HWND h) {
  POINT p{0, 0};
  ClientToScreen(h, &p);
  return p;
}

BOOL CALLBACK RepaintWindow(HWND h, LPARAM) {
  // Sent to the window's own thread: returns once it has painted.
  if (IsWindowVisible(h) && ProcIndexOf(h) >= 0)
    RedrawWindow(h, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  return TRUE;
}

// Lets the started programs finish pending painting before the screen is
// read (a box just shown may not have drawn its text and buttons yet).
void Settle() {
  EnumWindows(RepaintWindow, 0);
  Sleep(50);
}

// Screen colours, read through the screen's device context.
std::string Pixels(HWND h, const Fields& f) {
  if (!IsWindow(h)) return "error no such window";
  Settle();
  POINT origin = ClientOrigin(h);
  HDC screen = GetDC(nullptr);
  std::string out = "ok";
  for (size_t i = 2; i < f.size(); ++i) {
    int x = 0, y = 0;
    if (sscanf(f[i].c_str(), "%d,%d", &x, &y) != 2) {
      ReleaseDC(nullptr, screen);
      return "error points are X,Y";
    }
    POINT at{origin.x + x, origin.y + y};
    HWND top = WindowFromPoint(at);
    if (top && GetAncestor(top, GA_ROOT) != h) {
      out += " covered";
      continue;
    }
    COLORREF c = GetPixel(screen, at.x, at.y);
    out += Format(" %02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
  }
  ReleaseDC(nullptr, screen);
  return out;
}

std::string Shot(HWND h, const std::string& file, bool client) {
  if (!IsWindow(h)) return "error no such window";
  RECT r{};
  if (client) {
    GetClientRect(h, &r);
    POINT o = ClientOrigin(h);
    OffsetRect(&r, o.x, o.y);
  } else {
    GetWindowRect(h, &r);
  }
  int w = r.right - r.left, height = r.bottom - r.top;
  if (w <= 0 || height <= 0) return "error empty window";
  Settle();
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::string result = "error no bitmap";
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);
    DWORD pitch = ((DWORD)w * 3 + 3) & ~3u;
    DWORD imageSize = pitch * (DWORD)height;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    FILE* out = fopen(file.c_str(), "wb");
    if (out) {
      bool ok = fwrite(&header, sizeof header, 1, out) == 1 &&
                fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                fwrite(bits, imageSize, 1, out) == 1;
      ok = fclose(out) == 0 && ok;
      result = ok ? Format("ok %dx%d", w, height) : "error cannot write " + file;
    } else {
      result = "error cannot create " + file;
    }
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return result;
}

std::string Quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string out = "\"";
  for (char c : argument) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Start(const Fields& f) {
  if (f.size() < 3) return "error start DIR PROGRAM [ARG...]";
  std::string line = Quote(f[2]);
  for (size_t i = 3; i < f.size(); ++i) line += " " + Quote(f[i]);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::vector<char> command(line.begin(), line.end());
  command.push_back(0);
  if (!CreateProcessA(f[2].c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      f[1].c_str(), &si, &pi))
    return Format("error CreateProcess failed with %lu", GetLastError());
  CloseHandle(pi.hThread);
  g_started.push_back({pi.hProcess, pi.dwProcessId});
  return Format("ok proc=%d pid=%lu", (int)g_started.size() - 1, (unsigned long)pi.dwProcessId);
}

DWORD Timeout(const Fields& f, DWORD fallback) {
  std::string t = Option(f, "timeout");
  return t.empty() ? fallback : (DWORD)strtoul(t.c_str(), nullptr, 10);
}

std::string Run(const Fields& f) {
  const std::string& command = f[0];
  if (command == "start") return Start(f);
  if (command == "wait" || command == "box") {
    Filter filter;
    std::string error;
    if (!ParseFilter(f, &filter, &error)) return "error " + error;
    HWND h = WaitFor(filter, Timeout(f, 20000));
    if (!h) return "error timeout";
    std::string line = "ok " + Describe(h);
    if (command == "box") {
      std::string press = Option(f, "press");
      if (press.empty()) return "error box needs press=ID";
      std::string pressed = Press(h, atoi(press.c_str()));
      if (pressed.compare(0, 2, "ok") != 0) return pressed + " " + Describe(h);
    }
    return line;
  }
  if (command == "press" && f.size() == 3) return Press(ParseHandle(f[1]), atoi(f[2].c_str()));
  if (command == "item" && f.size() == 3) {
    HWND h = ParseHandle(f[1]);
    if (!IsWindow(h)) return "error no such window";
    int id = (int)strtol(f[2].c_str(), nullptr, 0);
    if (!GetDlgItem(h, id)) return "error no such control";
    return "ok text=" + Hex(ItemText(h, id));
  }
  if (command == "rect" && f.size() == 2) {
    HWND h = ParseHandle(f[1]);
    if (!IsWindow(h)) return "error no such window";
    RECT w{}, c{};
    GetWindowRect(h, &w);
    GetClientRect(h, &c);
    POINT o = ClientOrigin(h);
    return Format("ok window=%ld,%ld,%ld,%ld client=%ld,%ld,%ld,%ld", w.left, w.top, w.right,
                  w.bottom, o.x, o.y, o.x + c.right, o.y + c.bottom);
  }
  if (command == "pixels" && f.size() >= 2) return Pixels(ParseHandle(f[1]), f);
  if (command == "move" && f.size() == 4) {
    HWND h = ParseHandle(f[1]);
    if (!SetWindowPos(h, nullptr, atoi(f[2].c_str()), atoi(f[3].c_str()), 0, 0,
                      SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
      return Format("error SetWindowPos failed with %lu", GetLastError());
    return "ok";
  }
  if (command == "screen")
    return Format("ok %dx%d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  if (command == "shot" && f.size() >= 3)
    return Shot(ParseHandle(f[1]), f[2], f.size() > 3 && f[3] == "client");
  if (command == "list") {
    Filter filter;
    std::string error;
    if (!ParseFilter(f, &filter, &error)) return "error " + error;
    EnumWindows(CollectWindow, (LPARAM)&filter);
    for (HWND h : filter.found) Reply(Describe(h));
    return Format("ok %d", (int)filter.found.size());
  }
  if (command == "mutex" && f.size() == 2) {
    HANDLE m = CreateMutexA(nullptr, TRUE, f[1].c_str());
    DWORD error = GetLastError();
    if (!m) return Format("error CreateMutex failed with %lu", error);
    g_mutexes.push_back(m);
    return Format("ok existed=%d", error == ERROR_ALREADY_EXISTS ? 1 : 0);
  }
  if (command == "event" && f.size() == 2) {
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, f[1].c_str());
    DWORD error = GetLastError();
    if (!e) return Format("error CreateEvent failed with %lu", error);
    g_mutexes.push_back(e);
    return Format("ok existed=%d", error == ERROR_ALREADY_EXISTS ? 1 : 0);
  }
  if (command == "hold" && f.size() == 2) {
    HANDLE h = CreateFileA(f[1].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Format("error CreateFile failed with %lu", GetLastError());
    g_mutexes.push_back(h);
    return "ok";
  }
  if (command == "errtext" && f.size() == 2) {
    char text[1024] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             (DWORD)strtoul(f[1].c_str(), nullptr, 10), 0, text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return "ok text=" + Hex(message);
  }
  if (command == "setenv" && (f.size() == 2 || f.size() == 3)) {
    if (!SetEnvironmentVariableA(f[1].c_str(), f.size() == 3 ? f[2].c_str() : nullptr) && f.size() == 3)
      return Format("error SetEnvironmentVariable failed with %lu", GetLastError());
    return "ok";
  }
  if (command == "exit") {
    int proc = atoi(Option(f, "proc", "0").c_str());
    if (proc < 0 || proc >= (int)g_started.size()) return "error no such proc";
    if (WaitForSingleObject(g_started[proc].process, Timeout(f, 30000)) != WAIT_OBJECT_0)
      return "error timeout";
    DWORD code = 0;
    GetExitCodeProcess(g_started[proc].process, &code);
    return Format("ok code=%lu", (unsigned long)code);
  }
  if (command == "sleep" && f.size() == 2) {
    Sleep((DWORD)strtoul(f[1].c_str(), nullptr, 10));
    return "ok";
  }
  return "error unknown command " + command;
}

// Ends whatever we started and is still running.
void EndStarted() {
  for (const Started& s : g_started) {
    if (WaitForSingleObject(s.process, 0) == WAIT_TIMEOUT) {
      fprintf(stderr, "uidriver: ending pid %lu, still running\n", (unsigned long)s.pid);
      TerminateProcess(s.process, 99);
      WaitForSingleObject(s.process, 5000);
    }
  }
}

DWORD WINAPI Watchdog(LPVOID milliseconds) {
  Sleep((DWORD)(uintptr_t)milliseconds);
  fprintf(stderr, "uidriver: deadline reached\n");
  EndStarted();
  fflush(stdout);
  ExitProcess(3);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  int first = 1;
  DWORD deadline = 0;
  if (argc > 2 && !strcmp(argv[1], "--deadline")) {
    deadline = (DWORD)strtoul(argv[2], nullptr, 10);
    first = 3;
  } else if (const char* env = getenv("UIDRIVER_DEADLINE")) {
    deadline = (DWORD)strtoul(env, nullptr, 10);
  }
  if (deadline) CreateThread(nullptr, 0, Watchdog, (LPVOID)(uintptr_t)deadline, 0, nullptr);

  if (argc > first) {
    Fields f(argv + first, argv + argc);
    std::string reply = Run(f);
    Reply(reply);
    return reply.compare(0, 2, "ok") == 0 ? 0 : 1;
  }
  char line[8192];
  while (fgets(line, sizeof line, stdin)) {
    size_t n = strlen(line);
    while (n && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
    Fields f;
    std::string field;
    for (size_t i = 0; i <= n; ++i) {
      if (i == n || line[i] == '\t') {
        f.push_back(field);
        field.clear();
      } else {
        field += line[i];
      }
    }
    if (f.empty() || f[0].empty()) continue;
    if (f[0] == "quit") break;
    Reply(Run(f));
  }
  EndStarted();
  return 0;
}
