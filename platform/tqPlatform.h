// Operating-system services used by the library, behind small functions of our
// own. Only platform/ includes <windows.h> or POSIX headers; every other folder
// sees these declarations. Narrow text is code page 932 on both backends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tqp {

// ---------------------------------------------------------------- errors
uint32_t LastError();
void SetLastError(uint32_t code);

// Win32 error numbers the library tests for; the POSIX backend maps errno
// onto them.
enum : uint32_t {
  ERR_SUCCESS = 0,
  ERR_FILE_NOT_FOUND = 2,
  ERR_PATH_NOT_FOUND = 3,
  ERR_ACCESS_DENIED = 5,
  ERR_INVALID_HANDLE = 6,
  ERR_NOT_ENOUGH_MEMORY = 8,
  ERR_NO_MORE_FILES = 18,
  ERR_WRITE_FAULT = 29,
  ERR_READ_FAULT = 30,
  ERR_SHARING_VIOLATION = 32,
  ERR_HANDLE_EOF = 38,
  ERR_FILE_EXISTS = 80,
  ERR_INVALID_PARAMETER = 87,
  ERR_DISK_FULL = 112,
  ERR_INVALID_NAME = 123,
  ERR_ALREADY_EXISTS = 183,
  ERR_FILENAME_TOO_LONG = 206,
  ERR_NO_UNICODE_TRANSLATION = 1113,
};

// System message text for an error number, without the trailing line break
// (Shift_JIS).
std::string ErrorText(uint32_t code);

// ---------------------------------------------------------------- text
// UTF-16 <-> code page 932. Both return the bytes written including the NUL
// (0 on failure or when the output is too small; the output is then empty).
int NarrowFromWide(const wchar_t* wide, char* out, int outSize);
int WideFromNarrow(const char* narrow, wchar_t* out, int outChars);
// UTF-8 <-> code page 932 as std::string; false when a character has no form
// on the other side.
bool Utf8FromNarrow(const std::string& narrow, std::string& utf8);
bool NarrowFromUtf8(const std::string& utf8, std::string& narrow);
// UTF-16LE code units <-> code page 932.
bool NarrowFromUtf16(const uint16_t* units, size_t count, std::string& narrow);

// ---------------------------------------------------------------- files
using FileHandle = intptr_t;
constexpr FileHandle INVALID_FILE = -1;

enum : uint32_t {
  ACCESS_READ = 0x80000000u,   // GENERIC_READ
  ACCESS_WRITE = 0x40000000u,  // GENERIC_WRITE
  SHARE_READ = 1,
  SHARE_WRITE = 2,
  SHARE_DELETE = 4,
};
// Creation dispositions, numbered as on Windows.
enum : uint32_t {
  DISP_CREATE_NEW = 1,
  DISP_CREATE_ALWAYS = 2,
  DISP_OPEN_EXISTING = 3,
  DISP_OPEN_ALWAYS = 4,
  DISP_TRUNCATE_EXISTING = 5,
};
// File attribute bits, numbered as on Windows.
enum : uint32_t {
  ATTR_READONLY = 0x01,
  ATTR_HIDDEN = 0x02,
  ATTR_SYSTEM = 0x04,
  ATTR_DIRECTORY = 0x10,
  ATTR_ARCHIVE = 0x20,
  ATTR_DEVICE = 0x40,  // POSIX: a FIFO, socket or device node
  ATTR_NORMAL = 0x80,
  ATTR_REPARSE_POINT = 0x400,  // a symbolic link, junction or other reparse point
  ATTR_INVALID = 0xFFFFFFFFu,
};
// Extra open flags.
enum : uint32_t {
  OPEN_NO_BUFFERING = 0x20000000u,  // sector-aligned requests; POSIX: O_DIRECT, else buffered
  OPEN_SEQUENTIAL = 0x08000000u,
  // The last component is never followed, for reading too: a link there
  // fails the open with ERR_ACCESS_DENIED (writes always behave so).
  OPEN_NO_FOLLOW = 0x00200000u,
};

// Only regular files open: a FIFO, device or socket is refused
// (ERR_ACCESS_DENIED) without waiting for a peer. With write access the last
// component of name is never followed: a symbolic link or reparse point there
// is refused the same way, so a write cannot land outside through it.
FileHandle FileOpen(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                    uint32_t attributes, uint32_t flags = 0);
bool FileClose(FileHandle h);
bool FileRead(FileHandle h, void* buffer, uint32_t count, uint32_t* done);
bool FileWrite(FileHandle h, const void* buffer, uint32_t count, uint32_t* done);
// Moves the file pointer (whence 0 = start, 1 = current, 2 = end); returns the
// new position or -1.
int64_t FileSeek(FileHandle h, int64_t offset, int whence);
int64_t FileSize(FileHandle h);
bool FileSetEnd(FileHandle h);
bool FileFlush(FileHandle h);
// Times as Windows FILETIME values (100 ns units since 1601-01-01 UTC); a null
// pointer leaves that time alone.
bool FileGetTimes(FileHandle h, uint64_t* creation, uint64_t* access, uint64_t* write);
bool FileSetTimes(FileHandle h, const uint64_t* creation, const uint64_t* access,
                  const uint64_t* write);
// True when the handle was really opened without buffering (POSIX may fall back).
bool FileIsUnbuffered(FileHandle h);

uint32_t GetAttributes(const char* name);
// The attributes of name itself when it is a link (ATTR_REPARSE_POINT set;
// ATTR_DEVICE for POSIX special files); ATTR_INVALID when missing.
uint32_t GetAttributesNoFollow(const char* name);
bool SetAttributes(const char* name, uint32_t attributes);
bool DeleteFile(const char* name);
bool CreateDirectory(const char* name);
bool RemoveDirectory(const char* name);
bool MoveFile(const char* from, const char* to);
// Bytes per sector of the volume holding path (512 when unknown).
uint32_t SectorSize(const char* path);

// Directory search, first/next. The pattern's last component may hold * and ?.
// Entries are reported as themselves: a link carries ATTR_REPARSE_POINT (and
// ATTR_DIRECTORY when it names a folder), a POSIX special file ATTR_DEVICE.
// A name with no code-page-932 form ends the search with
// ERR_NO_UNICODE_TRANSLATION rather than being changed or skipped; name then
// holds it with '?' for each character that has no form, for messages.
struct FindData {
  uint32_t attributes = 0;
  uint64_t creation = 0, access = 0, write = 0;
  uint64_t size = 0;
  char name[260] = {};
};
using FindHandle = void*;
FindHandle FindFirst(const char* pattern, FindData& data);  // null when nothing found
bool FindNext(FindHandle h, FindData& data);
void FindClose(FindHandle h);

// Switches off the system's critical-error dialogs for its lifetime.
class NoCriticalErrorDialogs {
 public:
  NoCriticalErrorDialogs();
  ~NoCriticalErrorDialogs();
  NoCriticalErrorDialogs(const NoCriticalErrorDialogs&) = delete;
  NoCriticalErrorDialogs& operator=(const NoCriticalErrorDialogs&) = delete;

 private:
  [[maybe_unused]] unsigned previous_;
};

// Current directory in the library's form (backslashes, code page 932).
bool GetCurrentDirectory(char* out, size_t size);
bool SetCurrentDirectory(const char* path);
// Full path of the running program.
bool GetModuleFileName(char* out, size_t size);

#ifndef _WIN32
// POSIX boundary: a library path (code page 932, backslashes, drive letters)
// to the system's UTF-8 path, and back. False when a name has no form on the
// other side.
bool ToSystemPath(const char* path, std::string& out);
bool FromSystemPath(const std::string& path, std::string& out);
#endif

// ---------------------------------------------------------------- heap
using HeapHandle = void*;
HeapHandle HeapCreate(size_t initialSize);
void* HeapAlloc(HeapHandle heap, size_t size);
bool HeapFree(HeapHandle heap, void* block);
bool HeapDestroy(HeapHandle heap);

// ---------------------------------------------------------------- time
struct LocalTime {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
LocalTime GetLocalTime();
uint32_t TickCount();
void Sleep(uint32_t milliseconds);

// The user's default UI language identifier (1041 Japanese, 1033 US English).
// POSIX derives it from LC_ALL, LC_MESSAGES or LANG.
uint16_t UserDefaultUILanguage();

// ---------------------------------------------------------------- sync
using MutexHandle = void*;
// Creates or opens a named process-wide mutex; alreadyExists tells that another
// holder has it (error 183). Null on failure, LastError() then tells why.
// POSIX: a locked file in a folder only the user can write (the runtime
// folder, else a per-user folder of mode 0700 under /tmp), opened without
// following links; a folder that fails those checks fails the call.
MutexHandle CreateNamedMutex(const char* name, bool* alreadyExists);
void CloseNamedMutex(MutexHandle h);

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  void* impl_;
};

using EventHandle = void*;
EventHandle CreateEvent(bool manualReset, bool initiallySignalled);
bool SetEvent(EventHandle h);
bool ResetEvent(EventHandle h);
// True when signalled within the time; 0xFFFFFFFF waits without limit.
bool WaitEvent(EventHandle h, uint32_t milliseconds);
void CloseEvent(EventHandle h);

constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;
constexpr uint32_t STILL_ACTIVE = 259;

using ThreadHandle = void*;
using ThreadProc = uint32_t (*)(void* arg);
ThreadHandle CreateThread(ThreadProc proc, void* arg, uint32_t* threadId);
// Exit code, or STILL_ACTIVE while the thread runs; false for a bad handle.
bool GetThreadExitCode(ThreadHandle h, uint32_t* code);
bool WaitThread(ThreadHandle h, uint32_t milliseconds);
bool SetThreadPriority(ThreadHandle h, int priority);
void CloseThread(ThreadHandle h);
uint32_t CurrentThreadId();

// ---------------------------------------------------------------- system
// Special folders by CSIDL number, in the library's path form.
bool GetSpecialFolder(int csidl, char* out, size_t size);
bool GetTempPath(char* out, size_t size);
bool GetWindowsDirectory(char* out, size_t size);
// Value of the per-user "Shell Folders" key (none on POSIX).
bool GetShellFolderValue(const char* valueName, char* out, size_t size);

// File version resource: the translation pairs and the strings under
// "\StringFileInfo\<lang><codepage>\<name>". The Windows backend asks the
// system; the POSIX backend parses the PE resource section itself.
class VersionResource {
 public:
  bool Load(const char* file);
  // First "\VarFileInfo\Translation" pair as language << 16 | code page.
  bool FirstTranslation(uint32_t* pair) const;
  // Narrow text of a string value; false when absent.
  bool QueryString(const char* subBlock, std::string& value) const;
  const std::vector<uint8_t>& Block() const { return block_; }

 private:
  std::vector<uint8_t> block_;
};
// Parser for a raw VS_VERSIONINFO block from the resource section (shared by
// the POSIX backend and the fuzz target).
bool VersionBlockFromPe(const uint8_t* data, size_t size, std::vector<uint8_t>& block);
bool VersionBlockTranslation(const std::vector<uint8_t>& block, uint32_t* pair);
bool VersionBlockString(const std::vector<uint8_t>& block, const char* subBlock,
                        std::string& value);

// ---------------------------------------------------------------- windows
struct Rect {
  int32_t left, top, right, bottom;
};
using WindowHandle = void*;
int ScreenWidth();
int ScreenHeight();
// Grows a client rectangle by the frame of a style (extended style -1: none).
bool AdjustWindowRect(Rect& rect, uint32_t style, uint32_t exStyle, bool menu);
bool IsWindow(WindowHandle w);
bool GetWindowRect(WindowHandle w, Rect& rect);
bool MoveWindowTo(WindowHandle w, int x, int y);
// A bare top-level window of the given rectangle, hidden, with no class of
// ours and no messages of interest: used to place and measure.
WindowHandle CreatePlainWindow(int x, int y, int width, int height);
void DestroyPlainWindow(WindowHandle w);

using WindowProc = intptr_t (*)(WindowHandle, uint32_t, uintptr_t, intptr_t);
struct WindowClass {
  const char* className = nullptr;
  WindowProc proc = nullptr;
  void* instance = nullptr;
  void* largeIcon = nullptr;
  void* smallIcon = nullptr;
  void* background = nullptr;
  const char* menuName = nullptr;
  void* cursor = nullptr;
  uint32_t style = 0;
};
// Missing icons, cursor and brush get the platform's defaults; returns the atom.
uint16_t RegisterWindowClass(const WindowClass& cls);
bool UnregisterWindowClass(const char* className, void* instance);

// Message boxes: the return value is the button pressed (1 OK, 2 Cancel), 0
// on failure.
enum : uint32_t {
  MB_OK_ = 0x0,
  MB_OKCANCEL_ = 0x1,
  MB_ICONSTOP_ = 0x10,
  MB_ICONQUESTION_ = 0x20,
  MB_ICONEXCLAMATION_ = 0x30,
  MB_ICONINFORMATION_ = 0x40,
};
int MessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type);

// Common controls and COM for the calling thread (Windows); nothing on POSIX.
void InitUserInterface();
void DoneUserInterface();

// Debugger output (OutputDebugString on Windows, stderr on POSIX).
void DebugOutput(const char* text);

}  // namespace tqp
