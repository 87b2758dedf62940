// Durable renames, flushes, free space and the locked-file probe on POSIX.
//
// What the probe can and cannot see here: Linux has no mandatory locking, so
// a file another program merely has open is invisible. The probe finds what
// would stop the copy or the swap: a missing write permission, a folder in
// the file's place, a program being run from the file (ETXTBSY), and an
// exclusive flock() held by another process (Wine and our own tools take
// one on files they hold open without sharing).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_internal.h"
#include "platform/tqDurable.h"

namespace tqp {

namespace {

bool SystemPathOf(const char* path, std::string& out) {
  if (!path) {
    SetLastError(ERR_INVALID_PARAMETER);
    return false;
  }
  return ToSystemPath(path, out);
}

bool SyncPath(const std::string& path, int flags) {
  int fd;
  do fd = open(path.c_str(), flags | O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    posix::SetErrorFromErrno(errno);
    return false;
  }
  int result = fsync(fd);
  int err = errno;
  close(fd);
  if (result != 0) {
    posix::SetErrorFromErrno(err);
    return false;
  }
  return true;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool FlushFileByName(const char* path) {
  std::string p;
  return SystemPathOf(path, p) && SyncPath(p, 0);
}

void StartWriteback(const char* path) {
  std::string p;
  if (!SystemPathOf(path, p)) return;
  int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
#ifdef __linux__
  sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  close(fd);
}

bool FlushFolder(const char* path) {
  std::string p;
  return SystemPathOf(path, p) && SyncPath(p, O_DIRECTORY);
}

bool MoveReplace(const char* from, const char* to) {
  std::string a, b;
  if (!SystemPathOf(from, a) || !SystemPathOf(to, b)) return false;
  if (rename(a.c_str(), b.c_str()) != 0) {
    posix::SetErrorFromErrno(errno);
    return false;
  }
  // The rename is durable once both folders' entries are.
  std::string parentA = ParentOf(a), parentB = ParentOf(b);
  if (!SyncPath(parentB, O_DIRECTORY)) return false;
  return parentA == parentB || SyncPath(parentA, O_DIRECTORY);
}

bool VolumeFreeBytes(const char* path, uint64_t* bytes) {
  std::string p;
  if (!bytes || !SystemPathOf(path, p)) return false;
  struct statvfs vfs;
  if (statvfs(p.c_str(), &vfs) != 0) {
    posix::SetErrorFromErrno(errno);
    return false;
  }
  *bytes = (uint64_t)vfs.f_bavail * (uint64_t)vfs.f_frsize;
  return true;
}

uint32_t ProbeExclusiveWrite(const char* path) {
  std::string p;
  if (!SystemPathOf(path, p)) return LastError();
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return posix::SetErrorFromErrno(errno);
  // As FileOpen: Windows refuses to write a folder or a read-only file.
  if (S_ISDIR(st.st_mode) || !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) {
    SetLastError(ERR_ACCESS_DENIED);
    return ERR_ACCESS_DENIED;
  }
  int fd;
  do fd = open(p.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return posix::SetErrorFromErrno(errno);
  uint32_t code = ERR_SUCCESS;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    code = errno == EWOULDBLOCK ? ERR_SHARING_VIOLATION : posix::SetErrorFromErrno(errno);
  else
    flock(fd, LOCK_UN);
  close(fd);
  SetLastError(code);
  return code;
}

void KillSelfForTests() {
  raise(SIGKILL);
  _exit(137);
}

void StopSelfForTests() { raise(SIGSTOP); }

}  // namespace tqp
