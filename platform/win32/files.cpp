// Win32 backend: files, attributes, folders, directory search, current
// directory and module name. Thin calls of the A functions.
#include <cstring>
#include <set>
#include <string>

#include "platform/tqDurable.h"
#include "platform/win32/win32.h"

namespace tqp {

namespace win32 {

namespace {
SRWLOCK unbufferedLock = SRWLOCK_INIT;
std::set<HANDLE>& UnbufferedHandles() {
  static std::set<HANDLE> handles;
  return handles;
}
}  // namespace

void RememberUnbuffered(HANDLE h) {
  AcquireSRWLockExclusive(&unbufferedLock);
  UnbufferedHandles().insert(h);
  ReleaseSRWLockExclusive(&unbufferedLock);
}

void ForgetUnbuffered(HANDLE h) {
  AcquireSRWLockExclusive(&unbufferedLock);
  UnbufferedHandles().erase(h);
  ReleaseSRWLockExclusive(&unbufferedLock);
}

bool IsUnbuffered(HANDLE h) {
  AcquireSRWLockShared(&unbufferedLock);
  bool found = UnbufferedHandles().count(h) != 0;
  ReleaseSRWLockShared(&unbufferedLock);
  return found;
}

bool CopyOut(const char* text, char* out, size_t size) {
  if (!out || size == 0) return false;
  size_t n = strlen(text);
  if (n >= size) {
    out[0] = 0;
    return false;
  }
  memcpy(out, text, n + 1);
  return true;
}

// Only name surrogates (symbolic links, junctions, mount points) lead
// elsewhere; other reparse points, such as cloud-file placeholders, are the
// files themselves and are treated as such.
constexpr DWORD kNameSurrogate = 0x20000000;  // IsReparseTagNameSurrogate

// A tag of 0 is none the system gives out: the tag was not reported (Wine
// leaves it unset), and the entry counts as a link to be safe.
bool IsLinkTag(DWORD tag) { return tag == 0 || (tag & kNameSurrogate) != 0; }

// The attributes of name itself, with the reparse bit kept only for links.
DWORD LinkAttributes(const char* name) {
  DWORD attributes = ::GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return attributes;
  WIN32_FIND_DATAA found;
  memset(&found, 0, sizeof found);
  HANDLE h = ::FindFirstFileA(name, &found);
  if (h == INVALID_HANDLE_VALUE) return attributes;  // cannot tell: a link, to be safe
  ::FindClose(h);
  return IsLinkTag(found.dwReserved0) ? attributes : attributes & ~FILE_ATTRIBUTE_REPARSE_POINT;
}

}  // namespace win32

using win32::ToHandle;

FileHandle FileOpen(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                    uint32_t attributes, uint32_t flags) {
  if (!name) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE;
  }
  // A write never goes through a link: one that is there is refused, and the
  // open itself takes the reparse point rather than its target, so one planted
  // after this check is found on the handle below.
  const bool noFollow = (access & ACCESS_WRITE) || (flags & OPEN_NO_FOLLOW);
  flags &= ~OPEN_NO_FOLLOW;  // the flag is set below only where it is wanted
  DWORD before = noFollow ? win32::LinkAttributes(name) : INVALID_FILE_ATTRIBUTES;
  if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_FILE;
  }
  // A reparse point that is no link (a cloud placeholder) opens as usual.
  const bool plain = before == INVALID_FILE_ATTRIBUTES ||
                     !(::GetFileAttributesA(name) & FILE_ATTRIBUTE_REPARSE_POINT);
  DWORD extra = noFollow && plain ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
  // Our flag values are the system's FILE_FLAG_NO_BUFFERING and
  // FILE_FLAG_SEQUENTIAL_SCAN.
  HANDLE h = ::CreateFileA(name, access, share, nullptr, disposition, attributes | flags | extra,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return INVALID_FILE;
  DWORD created = ::GetLastError();  // ERROR_ALREADY_EXISTS for the "always" dispositions
  FILE_ATTRIBUTE_TAG_INFO info;
  bool regular = ::GetFileType(h) == FILE_TYPE_DISK &&
                 (!extra || (::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info) &&
                             !((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                               win32::IsLinkTag(info.ReparseTag))));
  if (!regular) {
    // A device, a pipe or a planted link: nothing has been read or written.
    ::CloseHandle(h);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_FILE;
  }
  ::SetLastError(created);
  if (flags & OPEN_NO_BUFFERING) win32::RememberUnbuffered(h);
  iofault::NoteOpen(reinterpret_cast<FileHandle>(h), access, flags);
  return reinterpret_cast<FileHandle>(h);
}

bool FileClose(FileHandle h) {
  if (h == INVALID_FILE) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  win32::ForgetUnbuffered(ToHandle(h));
  iofault::NoteClose(h);
  return ::CloseHandle(ToHandle(h)) != 0;
}

bool FileRead(FileHandle h, void* buffer, uint32_t count, uint32_t* done) {
  if (iofault::Fails(h, false)) {
    if (done) *done = 0;
    return false;
  }
  DWORD n = 0;
  BOOL ok = ::ReadFile(ToHandle(h), buffer, count, &n, nullptr);
  if (done) *done = n;
  return ok != 0;
}

bool FileWrite(FileHandle h, const void* buffer, uint32_t count, uint32_t* done) {
  if (iofault::Fails(h, true)) {
    if (done) *done = 0;
    return false;
  }
  DWORD n = 0;
  BOOL ok = ::WriteFile(ToHandle(h), buffer, count, &n, nullptr);
  if (done) *done = n;
  return ok != 0;
}

int64_t FileSeek(FileHandle h, int64_t offset, int whence) {
  if (whence < 0 || whence > 2) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  // FILE_BEGIN, FILE_CURRENT and FILE_END are 0, 1 and 2.
  if (!::SetFilePointerEx(ToHandle(h), distance, &position, (DWORD)whence)) return -1;
  return position.QuadPart;
}

int64_t FileSize(FileHandle h) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(ToHandle(h), &size)) return -1;
  return size.QuadPart;
}

bool FileSetEnd(FileHandle h) { return ::SetEndOfFile(ToHandle(h)) != 0; }

bool FileFlush(FileHandle h) { return ::FlushFileBuffers(ToHandle(h)) != 0; }

bool FileGetTimes(FileHandle h, uint64_t* creation, uint64_t* access, uint64_t* write) {
  FILETIME c, a, w;
  if (!::GetFileTime(ToHandle(h), &c, &a, &w)) return false;
  if (creation) *creation = win32::FromFileTime(c);
  if (access) *access = win32::FromFileTime(a);
  if (write) *write = win32::FromFileTime(w);
  return true;
}

bool FileSetTimes(FileHandle h, const uint64_t* creation, const uint64_t* access,
                  const uint64_t* write) {
  FILETIME c, a, w;
  if (creation) c = win32::ToFileTime(*creation);
  if (access) a = win32::ToFileTime(*access);
  if (write) w = win32::ToFileTime(*write);
  return ::SetFileTime(ToHandle(h), creation ? &c : nullptr, access ? &a : nullptr,
                       write ? &w : nullptr) != 0;
}

bool FileIsUnbuffered(FileHandle h) { return win32::IsUnbuffered(ToHandle(h)); }

uint32_t GetAttributes(const char* name) {
  if (!name) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return ATTR_INVALID;
  }
  return ::GetFileAttributesA(name);
}

uint32_t GetAttributesNoFollow(const char* name) {
  if (!name) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return ATTR_INVALID;
  }
  return win32::LinkAttributes(name);
}

bool SetAttributes(const char* name, uint32_t attributes) {
  return name && ::SetFileAttributesA(name, attributes) != 0;
}

bool DeleteFile(const char* name) { return name && ::DeleteFileA(name) != 0; }

bool CreateDirectory(const char* name) { return name && ::CreateDirectoryA(name, nullptr) != 0; }

bool RemoveDirectory(const char* name) { return name && ::RemoveDirectoryA(name) != 0; }

bool MoveFile(const char* from, const char* to) {
  return from && to && ::MoveFileA(from, to) != 0;
}

uint32_t SectorSize(const char* path) {
  // The root of the volume: "X:\" for a drive path, "\\server\share\" for a
  // UNC path, the current drive otherwise.
  char root[MAX_PATH] = {};
  const char* rootArg = nullptr;
  if (path && path[0] && path[1] == ':') {
    root[0] = path[0];
    root[1] = ':';
    root[2] = '\\';
    rootArg = root;
  } else if (path && path[0] == '\\' && path[1] == '\\') {
    int separators = 0;
    size_t i = 0;
    for (; path[i] && i + 2 < sizeof root; ++i) {
      if (::IsDBCSLeadByte((BYTE)path[i]) && path[i + 1]) {
        root[i] = path[i];
        ++i;
        root[i] = path[i];
        continue;
      }
      root[i] = path[i];
      if (path[i] == '\\' && ++separators == 4) break;
    }
    if (separators < 4 && i + 1 < sizeof root) root[i++] = '\\';
    rootArg = root;
  }
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!::GetDiskFreeSpaceA(rootArg, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &clusters) ||
      bytesPerSector == 0)
    return 512;
  return bytesPerSector;
}

namespace {

// The system's names are UTF-16; a name the ANSI code page cannot hold would
// come back from the A functions with '?' or a look-alike in its place, so
// the search converts itself and stops at such a name.
bool NarrowName(const wchar_t* wide, char (&out)[260]) {
  BOOL usedDefault = FALSE;
  const bool utf8 = ::GetACP() == CP_UTF8;
  int n = ::WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, wide,
                                -1, out, (int)sizeof out, nullptr, utf8 ? nullptr : &usedDefault);
  if (n == 0 || usedDefault) {
    // For messages only: what has no form becomes '?'.
    if (!::WideCharToMultiByte(CP_ACP, 0, wide, -1, out, (int)sizeof out, nullptr, nullptr)) out[0] = 0;
    ::SetLastError(n == 0 && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER
                       ? ERROR_FILENAME_EXCED_RANGE
                       : ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  return true;
}

bool FromFindData(const WIN32_FIND_DATAW& in, FindData& out) {
  out.attributes = in.dwFileAttributes;
  if ((out.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !win32::IsLinkTag(in.dwReserved0))
    out.attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
  out.creation = win32::FromFileTime(in.ftCreationTime);
  out.access = win32::FromFileTime(in.ftLastAccessTime);
  out.write = win32::FromFileTime(in.ftLastWriteTime);
  out.size = (uint64_t)in.nFileSizeHigh << 32 | in.nFileSizeLow;
  return NarrowName(in.cFileName, out.name);
}

}  // namespace

FindHandle FindFirst(const char* pattern, FindData& data) {
  if (!pattern) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  int chars = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pattern, -1, nullptr, 0);
  if (chars <= 0) return nullptr;
  std::wstring wide((size_t)chars, L'\0');
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pattern, -1, wide.data(), chars);
  WIN32_FIND_DATAW found;
  memset(&found, 0, sizeof found);
  HANDLE h = ::FindFirstFileW(wide.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (!FromFindData(found, data)) {
    DWORD error = ::GetLastError();
    ::FindClose(h);
    ::SetLastError(error);
    return nullptr;
  }
  return h;
}

bool FindNext(FindHandle h, FindData& data) {
  if (!h) return false;
  WIN32_FIND_DATAW found;
  memset(&found, 0, sizeof found);
  if (!::FindNextFileW(h, &found)) return false;
  return FromFindData(found, data);
}

void FindClose(FindHandle h) {
  if (h) ::FindClose(h);
}

NoCriticalErrorDialogs::NoCriticalErrorDialogs() : previous_(::SetErrorMode(SEM_FAILCRITICALERRORS)) {}

NoCriticalErrorDialogs::~NoCriticalErrorDialogs() { ::SetErrorMode(previous_); }

bool GetCurrentDirectory(char* out, size_t size) {
  if (!out || size == 0) return false;
  DWORD n = ::GetCurrentDirectoryA((DWORD)size, out);
  if (n == 0 || n >= size) {
    out[0] = 0;
    return false;
  }
  return true;
}

bool SetCurrentDirectory(const char* path) { return path && ::SetCurrentDirectoryA(path) != 0; }

bool GetModuleFileName(char* out, size_t size) {
  if (!out || size == 0) return false;
  DWORD n = ::GetModuleFileNameA(nullptr, out, (DWORD)size);
  if (n == 0 || n >= size) {  // n == size: cut short
    out[0] = 0;
    return false;
  }
  return true;
}

}  // namespace tqp
