// Files, attributes, times and directory search for the POSIX backend, with the
// results Windows callers expect (error numbers, attribute bits, FILETIMEs).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/posix/posix_internal.h"
#include "platform/tqDurable.h"
#include "platform/tqPlatform.h"
#include "platform/tqShiftJis.h"

namespace tqp {
namespace posix {

uint32_t SetErrorFromErrno(int err) {
  uint32_t code;
  switch (err) {
    case 0: code = ERR_SUCCESS; break;
    case ENOENT: code = ERR_FILE_NOT_FOUND; break;
    case ENOTDIR: code = ERR_PATH_NOT_FOUND; break;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: code = ERR_ACCESS_DENIED; break;
    case EBADF: code = ERR_INVALID_HANDLE; break;
    case ENOMEM: code = ERR_NOT_ENOUGH_MEMORY; break;
    case EEXIST: code = ERR_FILE_EXISTS; break;
    case EINVAL: code = ERR_INVALID_PARAMETER; break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: code = ERR_DISK_FULL; break;
    case ENAMETOOLONG: code = ERR_FILENAME_TOO_LONG; break;
    case EBUSY:
    case ETXTBSY: code = ERR_SHARING_VIOLATION; break;
    case ENOTEMPTY: code = 145; break;  // directory not empty
    case EIO: code = ERR_READ_FAULT; break;
    default: code = 31; break;  // a device attached to the system is not functioning
  }
  tqp::SetLastError(code);
  return code;
}

namespace {
constexpr uint64_t kEpochDelta = 116444736000000000ull;  // 1601 to 1970 in 100 ns
constexpr const char* kDosAttr = "user.DOSATTRIB";
}  // namespace

uint64_t FileTimeFromUnix(int64_t seconds, long nanoseconds) {
  return (uint64_t)(seconds * 10000000ll + nanoseconds / 100) + kEpochDelta;
}

void UnixFromFileTime(uint64_t fileTime, int64_t* seconds, long* nanoseconds) {
  int64_t t = (int64_t)(fileTime - kEpochDelta);
  int64_t s = t / 10000000;
  int64_t rem = t % 10000000;
  if (rem < 0) {
    rem += 10000000;
    --s;
  }
  *seconds = s;
  *nanoseconds = (long)(rem * 100);
}

uint32_t ReadDosBits(const std::string& systemPath) {
  char text[32];
  ssize_t n = getxattr(systemPath.c_str(), kDosAttr, text, sizeof text - 1);
  if (n <= 0) return 0;
  text[n] = 0;
  return (uint32_t)strtoul(text, nullptr, 16) & (ATTR_HIDDEN | ATTR_SYSTEM | ATTR_ARCHIVE);
}

void WriteDosBits(const std::string& systemPath, uint32_t bits) {
  bits &= ATTR_HIDDEN | ATTR_SYSTEM | ATTR_ARCHIVE;
  if (!bits) {
    removexattr(systemPath.c_str(), kDosAttr);
    return;
  }
  char text[16];
  int n = snprintf(text, sizeof text, "0x%x", bits);
  // A file system without user attributes keeps only the read-only bit.
  setxattr(systemPath.c_str(), kDosAttr, text, (size_t)n, 0);
}

uint32_t AttributesOf(const std::string& systemPath, uint64_t* size, uint64_t* creation,
                      uint64_t* access, uint64_t* write) {
  struct stat st;
  if (stat(systemPath.c_str(), &st) != 0) {
    SetErrorFromErrno(errno);
    return ATTR_INVALID;
  }
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= ATTR_DIRECTORY;
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) attributes |= ATTR_DEVICE;
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) attributes |= ATTR_READONLY;
  attributes |= ReadDosBits(systemPath);
  if (!attributes) attributes = ATTR_NORMAL;
  if (size) *size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
  if (creation) *creation = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  if (access) *access = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  if (write) *write = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return attributes;
}

uint32_t AttributesNoFollow(const std::string& systemPath, uint64_t* size, uint64_t* creation,
                            uint64_t* access, uint64_t* write) {
  struct stat st;
  if (lstat(systemPath.c_str(), &st) != 0) {
    SetErrorFromErrno(errno);
    return ATTR_INVALID;
  }
  if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
    return AttributesOf(systemPath, size, creation, access, write);
  // A link is reported as Windows reports one: its own times, the folder
  // bit of what it names (when it names anything), no size.
  uint32_t attributes = S_ISLNK(st.st_mode) ? ATTR_REPARSE_POINT : ATTR_DEVICE;
  struct stat target;
  if (S_ISLNK(st.st_mode) && stat(systemPath.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
    attributes |= ATTR_DIRECTORY;
  if (size) *size = 0;
  if (creation) *creation = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  if (access) *access = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  if (write) *write = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return attributes;
}

}  // namespace posix

using posix::SetErrorFromErrno;

namespace {

std::mutex g_unbufferedLock;
std::unordered_set<int> g_unbuffered;

bool SystemPath(const char* name, std::string& out) {
  if (!name) {
    SetLastError(ERR_INVALID_PARAMETER);
    return false;
  }
  return ToSystemPath(name, out);
}

// A system call on one path: false, with the error, when it fails.
bool PathCall(const char* name, int (*call)(const char*)) {
  std::string path;
  if (!SystemPath(name, path)) return false;
  if (call(path.c_str()) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  return true;
}

}  // namespace

FileHandle FileOpen(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                    uint32_t attributes, uint32_t flags) {
  (void)share;  // POSIX has no mandatory sharing modes
  std::string path;
  if (!SystemPath(name, path)) return INVALID_FILE;
  bool read = access & ACCESS_READ, write = access & ACCESS_WRITE;
  int oflags = O_CLOEXEC;
  oflags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case DISP_CREATE_NEW: oflags |= O_CREAT | O_EXCL; break;
    case DISP_CREATE_ALWAYS: oflags |= O_CREAT | O_TRUNC; break;
    case DISP_OPEN_EXISTING: break;
    case DISP_OPEN_ALWAYS: oflags |= O_CREAT; break;
    case DISP_TRUNCATE_EXISTING:
      if (!write) {
        SetLastError(ERR_INVALID_PARAMETER);
        return INVALID_FILE;
      }
      oflags |= O_TRUNC;
      break;
    default: SetLastError(ERR_INVALID_PARAMETER); return INVALID_FILE;
  }
  // Windows refuses to write a read-only file and to open a folder as a file.
  // A write never goes through a link at the last component.
  struct stat st;
  const bool noFollow = write || (flags & OPEN_NO_FOLLOW);
  bool existed = (noFollow ? lstat(path.c_str(), &st) : stat(path.c_str(), &st)) == 0;
  if (existed && S_ISLNK(st.st_mode)) {
    SetLastError(ERR_ACCESS_DENIED);
    return INVALID_FILE;
  }
  if (noFollow) oflags |= O_NOFOLLOW;
  // Opening a FIFO or a device must not wait for a peer: the open does not
  // block, and anything but a regular file is refused once it is open.
  oflags |= O_NONBLOCK;
  if (existed && S_ISDIR(st.st_mode)) {
    SetLastError(ERR_ACCESS_DENIED);
    return INVALID_FILE;
  }
  if (existed && (write || (oflags & O_TRUNC)) && !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) {
    SetLastError(ERR_ACCESS_DENIED);
    return INVALID_FILE;
  }
  mode_t mode = (attributes & ATTR_READONLY) ? 0444 : 0666;
  int fd = -1;
  bool unbuffered = false;
  if (flags & OPEN_NO_BUFFERING) {
    fd = open(path.c_str(), oflags | O_DIRECT, mode);
    if (fd >= 0) unbuffered = true;
  }
  if (fd < 0) {
    // Some file systems (tmpfs) refuse unbuffered access: read through the cache.
    do fd = open(path.c_str(), oflags, mode);
    while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) {
    // ELOOP: a link planted after the check above; ENXIO: a FIFO nobody reads.
    if (errno == ELOOP || errno == ENXIO) {
      SetLastError(ERR_ACCESS_DENIED);
      return INVALID_FILE;
    }
    uint32_t code = SetErrorFromErrno(errno);
    if (code == ERR_FILE_EXISTS && disposition != DISP_CREATE_NEW) SetLastError(ERR_ALREADY_EXISTS);
    return INVALID_FILE;
  }
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    SetLastError(ERR_ACCESS_DENIED);
    return INVALID_FILE;
  }
  if (!existed && (oflags & O_CREAT)) posix::WriteDosBits(path, attributes & ~ATTR_NORMAL);
  if (flags & OPEN_SEQUENTIAL) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  iofault::NoteOpen(fd, access, flags);
  if (unbuffered) {
    std::lock_guard<std::mutex> lock(g_unbufferedLock);
    g_unbuffered.insert(fd);
  }
  // Windows reports "already exists" for CREATE_ALWAYS and OPEN_ALWAYS on an
  // existing file even though the open succeeds.
  SetLastError(existed && (disposition == DISP_CREATE_ALWAYS || disposition == DISP_OPEN_ALWAYS)
                   ? ERR_ALREADY_EXISTS
                   : ERR_SUCCESS);
  return fd;
}

bool FileClose(FileHandle h) {
  if (h < 0) {
    SetLastError(ERR_INVALID_HANDLE);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(g_unbufferedLock);
    g_unbuffered.erase((int)h);
  }
  iofault::NoteClose(h);
  if (close((int)h) != 0 && errno != EINTR) {
    SetErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool FileIsUnbuffered(FileHandle h) {
  std::lock_guard<std::mutex> lock(g_unbufferedLock);
  return g_unbuffered.count((int)h) != 0;
}

bool FileRead(FileHandle h, void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  if (h < 0) {
    SetLastError(ERR_INVALID_HANDLE);
    return false;
  }
  if (iofault::Fails(h, false)) return false;
  uint32_t total = 0;
  while (total < count) {
    ssize_t n = read((int)h, (char*)buffer + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetErrorFromErrno(errno);
      if (done) *done = total;
      return false;
    }
    if (n == 0) break;
    total += (uint32_t)n;
  }
  if (done) *done = total;
  return true;
}

bool FileWrite(FileHandle h, const void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  if (h < 0) {
    SetLastError(ERR_INVALID_HANDLE);
    return false;
  }
  if (iofault::Fails(h, true)) return false;
  uint32_t total = 0;
  while (total < count) {
    ssize_t n = write((int)h, (const char*)buffer + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetErrorFromErrno(errno);
      if (done) *done = total;
      return false;
    }
    total += (uint32_t)n;
  }
  if (done) *done = total;
  return true;
}

int64_t FileSeek(FileHandle h, int64_t offset, int whence) {
  int w = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
  off_t r = lseek((int)h, (off_t)offset, w);
  if (r < 0) {
    SetErrorFromErrno(errno);
    return -1;
  }
  return (int64_t)r;
}

int64_t FileSize(FileHandle h) {
  struct stat st;
  if (fstat((int)h, &st) != 0) {
    SetErrorFromErrno(errno);
    return -1;
  }
  return (int64_t)st.st_size;
}

bool FileSetEnd(FileHandle h) {
  off_t pos = lseek((int)h, 0, SEEK_CUR);
  if (pos < 0 || ftruncate((int)h, pos) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool FileFlush(FileHandle h) {
  if (fsync((int)h) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool FileGetTimes(FileHandle h, uint64_t* creation, uint64_t* access, uint64_t* write) {
  struct stat st;
  if (fstat((int)h, &st) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  if (creation) *creation = posix::FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  if (access) *access = posix::FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  if (write) *write = posix::FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return true;
}

bool FileSetTimes(FileHandle h, const uint64_t* creation, const uint64_t* access,
                  const uint64_t* write) {
  (void)creation;  // POSIX keeps no settable creation time
  struct timespec times[2];
  times[0].tv_nsec = times[1].tv_nsec = UTIME_OMIT;
  times[0].tv_sec = times[1].tv_sec = 0;
  int64_t s;
  long ns;
  if (access) {
    posix::UnixFromFileTime(*access, &s, &ns);
    times[0].tv_sec = (time_t)s;
    times[0].tv_nsec = ns;
  }
  if (write) {
    posix::UnixFromFileTime(*write, &s, &ns);
    times[1].tv_sec = (time_t)s;
    times[1].tv_nsec = ns;
  }
  if (futimens((int)h, times) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  return true;
}

uint32_t GetAttributes(const char* name) {
  std::string path;
  if (!SystemPath(name, path)) return ATTR_INVALID;
  return posix::AttributesOf(path, nullptr, nullptr, nullptr, nullptr);
}

uint32_t GetAttributesNoFollow(const char* name) {
  std::string path;
  if (!SystemPath(name, path)) return ATTR_INVALID;
  return posix::AttributesNoFollow(path, nullptr, nullptr, nullptr, nullptr);
}

bool SetAttributes(const char* name, uint32_t attributes) {
  std::string path;
  if (!SystemPath(name, path)) return false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  mode_t mode = st.st_mode & 07777;
  if (attributes & ATTR_READONLY)
    mode &= ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH);
  else
    mode |= S_IWUSR;
  if (chmod(path.c_str(), mode) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  posix::WriteDosBits(path, attributes);
  return true;
}

bool DeleteFile(const char* name) {
  std::string path;
  if (!SystemPath(name, path)) return false;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode) || !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) {
    SetLastError(ERR_ACCESS_DENIED);
    return false;
  }
  if (unlink(path.c_str()) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool CreateDirectory(const char* name) {
  std::string path;
  if (!SystemPath(name, path)) return false;
  if (mkdir(path.c_str(), 0777) != 0) {
    uint32_t code = SetErrorFromErrno(errno);
    if (code == ERR_FILE_EXISTS) SetLastError(ERR_ALREADY_EXISTS);
    if (code == ERR_FILE_NOT_FOUND) SetLastError(ERR_PATH_NOT_FOUND);
    return false;
  }
  return true;
}

bool RemoveDirectory(const char* name) { return PathCall(name, rmdir); }

bool MoveFile(const char* from, const char* to) {
  std::string a, b;
  if (!SystemPath(from, a) || !SystemPath(to, b)) return false;
  struct stat st;
  if (lstat(b.c_str(), &st) == 0) {
    SetLastError(ERR_ALREADY_EXISTS);
    return false;
  }
  if (rename(a.c_str(), b.c_str()) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  return true;
}

uint32_t SectorSize(const char* path) {
  std::string p;
  struct statvfs vfs;
  if (path && ToSystemPath(path, p) && statvfs(p.c_str(), &vfs) == 0) {
    // The file system block is a safe alignment for unbuffered requests.
    unsigned long size = vfs.f_bsize;
    if (size >= 512 && size <= 65536 && (size & (size - 1)) == 0) return (uint32_t)size;
  }
  return 512;
}

// ------------------------------------------------------------ directory search

namespace {

struct Search {
  DIR* dir = nullptr;
  std::string folder;  // system path of the folder, ending in '/'
  std::string mask;    // Shift_JIS mask of the last component
  bool single = false; // no wildcard: the one entry has been returned
};

unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Case-insensitive (ASCII) wildcard match with * and ?, double-byte aware for ?.
bool Match(const char* mask, const char* name) {
  const char* starMask = nullptr;
  const char* starName = nullptr;
  while (*name) {
    unsigned char m = (unsigned char)*mask, n = (unsigned char)*name;
    int width = IsSjisLeadByte(n) && name[1] ? 2 : 1;
    if (m == '*') {
      starMask = ++mask;
      starName = name;
      continue;
    }
    if (m == '?') {
      ++mask;
      name += width;
      continue;
    }
    if (m && Fold(m) == Fold(n) && (width == 1 || mask[1] == name[1])) {
      mask += width;
      name += width;
      continue;
    }
    if (!starMask) return false;
    mask = starMask;
    int w = IsSjisLeadByte((unsigned char)*starName) ? 2 : 1;
    starName += w;
    name = starName;
  }
  while (*mask == '*') ++mask;
  return *mask == 0;
}

bool FillFrom(const std::string& systemPath, const std::string& narrowName, FindData& data) {
  uint32_t attributes = posix::AttributesNoFollow(systemPath, &data.size, &data.creation,
                                                  &data.access, &data.write);
  if (attributes == ATTR_INVALID) return false;
  data.attributes = attributes;
  snprintf(data.name, sizeof data.name, "%s", narrowName.c_str());
  return true;
}

// A name for messages only: each character without a Shift_JIS form (or
// each byte that is no UTF-8) as '?'.
void ShownName(const char* utf8, FindData& data) {
  std::string shown;
  for (size_t i = 0; utf8[i] && shown.size() + 2 < sizeof data.name;) {
    unsigned char c = (unsigned char)utf8[i];
    size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    std::string one;
    if (strnlen(utf8 + i, length) == length && NarrowFromUtf8(std::string(utf8 + i, length), one))
      shown += one;
    else
      shown += '?';
    i += strnlen(utf8 + i, length);
  }
  snprintf(data.name, sizeof data.name, "%s", shown.c_str());
}

// Next matching entry of an open search; false at the end or on an error.
bool NextEntry(Search* s, FindData& data) {
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(s->dir);
    if (!e) {
      SetLastError(errno ? SetErrorFromErrno(errno) : ERR_NO_MORE_FILES);
      return false;
    }
    std::string narrow;
    if (!NarrowFromUtf8(e->d_name, narrow)) {
      // A name without a Shift_JIS form ends the search with an error; the
      // name comes back with '?' for what has no form, to be shown.
      ShownName(e->d_name, data);
      SetLastError(ERR_NO_UNICODE_TRANSLATION);
      return false;
    }
    if (narrow.size() >= sizeof data.name) continue;
    if (!Match(s->mask.c_str(), narrow.c_str())) continue;
    if (FillFrom(s->folder + e->d_name, narrow, data)) return true;
  }
}

}  // namespace

FindHandle FindFirst(const char* pattern, FindData& data) {
  if (!pattern || !*pattern) {
    SetLastError(ERR_FILE_NOT_FOUND);
    return nullptr;
  }
  // Split at the last separator, never at a trail byte.
  size_t split = std::string::npos;
  for (size_t i = 0; pattern[i]; ++i) {
    unsigned char c = (unsigned char)pattern[i];
    if (IsSjisLeadByte(c) && pattern[i + 1]) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') split = i;
  }
  std::string folder, mask;
  if (split == std::string::npos) {
    if (pattern[1] == ':') {
      folder.assign(pattern, 2);
      mask = pattern + 2;
    } else {
      folder = ".";
      mask = pattern;
    }
  } else {
    folder.assign(pattern, split == 0 ? 1 : split);
    if (split == 2 && pattern[1] == ':') folder.assign(pattern, 3);
    mask = pattern + split + 1;
  }
  if (mask.empty()) {
    SetLastError(ERR_FILE_NOT_FOUND);
    return nullptr;
  }
  std::string systemFolder;
  if (!ToSystemPath(folder.c_str(), systemFolder)) return nullptr;
  if (systemFolder.empty() || systemFolder.back() != '/') systemFolder += '/';
  if (mask.find_first_of("*?") == std::string::npos) {
    std::string utf8;
    if (!Utf8FromNarrow(mask, utf8)) return nullptr;
    if (!FillFrom(systemFolder + utf8, mask, data)) {
      if (LastError() == ERR_FILE_NOT_FOUND) {
        struct stat st;
        if (stat(systemFolder.c_str(), &st) != 0) SetLastError(ERR_PATH_NOT_FOUND);
      }
      return nullptr;
    }
    auto* s = new Search;
    s->single = true;
    return s;
  }
  if (mask == "*.*") mask = "*";
  DIR* dir = opendir(systemFolder.c_str());
  if (!dir) {
    uint32_t code = SetErrorFromErrno(errno);
    if (code == ERR_FILE_NOT_FOUND) SetLastError(ERR_PATH_NOT_FOUND);
    return nullptr;
  }
  auto* s = new Search;
  s->dir = dir;
  s->folder = systemFolder;
  s->mask = mask;
  if (!NextEntry(s, data)) {
    uint32_t code = LastError();
    closedir(dir);
    delete s;
    SetLastError(code == ERR_NO_MORE_FILES ? ERR_FILE_NOT_FOUND : code);
    return nullptr;
  }
  return s;
}

bool FindNext(FindHandle h, FindData& data) {
  auto* s = static_cast<Search*>(h);
  if (!s) {
    SetLastError(ERR_INVALID_HANDLE);
    return false;
  }
  if (s->single) {
    SetLastError(ERR_NO_MORE_FILES);
    return false;
  }
  return NextEntry(s, data);
}

void FindClose(FindHandle h) {
  auto* s = static_cast<Search*>(h);
  if (!s) return;
  if (s->dir) closedir(s->dir);
  delete s;
}

NoCriticalErrorDialogs::NoCriticalErrorDialogs() : previous_(0) {}
NoCriticalErrorDialogs::~NoCriticalErrorDialogs() = default;

// ------------------------------------------------------------ folders

bool GetCurrentDirectory(char* out, size_t size) {
  if (!out || !size) return false;
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) {
    SetErrorFromErrno(errno);
    return false;
  }
  std::string narrow;
  if (!FromSystemPath(buffer, narrow)) return false;
  if (narrow.size() + 1 > size) {
    SetLastError(ERR_FILENAME_TOO_LONG);
    return false;
  }
  memcpy(out, narrow.c_str(), narrow.size() + 1);
  return true;
}

bool SetCurrentDirectory(const char* path) { return PathCall(path, chdir); }

bool GetModuleFileName(char* out, size_t size) {
  if (!out || !size) return false;
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  buffer[n] = 0;
  std::string narrow;
  if (!FromSystemPath(buffer, narrow) || narrow.size() + 1 > size) return false;
  memcpy(out, narrow.c_str(), narrow.size() + 1);
  return true;
}

}  // namespace tqp
