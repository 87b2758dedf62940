// Disk files behind the file interface.
#include "file/tqFile.h"

#include <cstring>

namespace {

constexpr uint32_t kAccessMask = TQFILE_READ | TQFILE_WRITE;

}  // namespace

tqFile::~tqFile() {
  if (IsOpen()) Close();
}

int tqFile::Open(const char* name, uint32_t mode) {
  if (IsOpen()) {
    ErrorBox("既に違うファイルがオープンされています");
    return 0;
  }
  if (!(mode & kAccessMask)) {
    ErrorBox("TQFILE_READ 又は TQFILE_WRITE を指定してください");
    return 0;
  }
  // The name field holds 255 bytes and its terminator; a longer name is refused.
  if (!name || strlen(name) >= sizeof name_) {
    tqp::SetLastError(tqp::ERR_FILENAME_TOO_LONG);
    return 0;
  }
  bool reading = mode & TQFILE_READ;
  uint32_t access = reading ? tqp::ACCESS_READ : tqp::ACCESS_WRITE;
  uint32_t share = reading ? (uint32_t)tqp::SHARE_READ : 0u;
  tqHandle handle;
  if (mode & TQFILE_CREATE) {
    if (reading) {
      ErrorBox("TQFILE_READ ではアクセス出来ません");
      return 0;
    }
    handle = tqp::FileOpen(name, access, 0, tqp::DISP_CREATE_NEW, tqp::ATTR_NORMAL);
    if (handle == TQ_INVALID_HANDLE)
      handle = tqp::FileOpen(name, access, 0, tqp::DISP_TRUNCATE_EXISTING, tqp::ATTR_NORMAL);
  } else {
    uint32_t creation = 0;
    if (mode & TQFILE_EXISTING) creation = 3;
    if (mode & TQFILE_NEW) creation |= 1;
    if (mode & TQFILE_ALWAYS) creation |= 4;
    if (creation == 0 || creation == 7) {
      tqp::SetLastError(tqp::ERR_INVALID_PARAMETER);
      return 0;
    }
    handle = tqp::FileOpen(name, access, share, creation, reading ? 0u : (uint32_t)tqp::ATTR_NORMAL);
  }
  if (handle == TQ_INVALID_HANDLE) return 0;
  handle_ = handle;
  strcpy(name_, name);
  mode_ = (int32_t)mode;
  position_ = 0;
  return 1;
}

int tqFile::Close() {
  if (!IsOpen()) return 0;
  if (!tqp::FileClose(handle_)) return 0;
  handle_ = TQ_INVALID_HANDLE;
  mode_ = -1;
  name_[0] = 0;
  position_ = 0;
  return 1;
}

int tqFile::Read(void* buffer, uint32_t count) {
  if (!IsOpen()) {
    DebugPrint("tqFile : ハンドルが無効です");
    return -1;
  }
  if (!(mode_ & TQFILE_READ)) {
    ErrorBox("読み込みモードでオープンされていません : %s", name_);
    return -1;
  }
  uint32_t done = 0;
  if (!buffer && count) {
    tqp::SetLastError(tqp::ERR_INVALID_PARAMETER);
    DebugPrint("Read file failed : %d", (int)tqp::LastError());
    return -1;
  }
  if (!tqp::FileRead(handle_, buffer, count, &done)) {
    DebugPrint("Read file failed : %d", (int)tqp::LastError());
    return -1;
  }
  position_ += done;
  return (int)done;
}

int tqFile::Write(const void* buffer, uint32_t count) {
  if (!IsOpen()) return -1;
  if (!(mode_ & TQFILE_WRITE)) {
    ErrorBox("書き込みモードでオープンされていません : %s", name_);
    return -1;
  }
  uint32_t done = 0;
  // A file opened for reading as well has no write access: the system refuses.
  bool ok = (buffer || !count) && !(mode_ & TQFILE_READ) &&
            tqp::FileWrite(handle_, buffer, count, &done);
  if (!ok) {
    if (mode_ & TQFILE_READ) tqp::SetLastError(tqp::ERR_ACCESS_DENIED);
    DebugPrint("Write file failed : %d", (int)tqp::LastError());
    return -1;
  }
  position_ += done;
  return (int)done;
}

int tqFile::GetPosition() { return IsOpen() ? (int)position_ : -1; }

int tqFile::Seek(uint32_t position) {
  if (!IsOpen()) return -1;
  int64_t size = tqp::FileSize(handle_);
  if (size < 0) return -1;
  int64_t target = position;
  if (target >= size) target = size - 1;
  if (target < 0) return -1;  // an empty file has no byte to stand on
  int64_t now = tqp::FileSeek(handle_, target, 0);
  if (now < 0) return -1;
  position_ = (uint32_t)now;
  return (int)position_;
}

const char* tqFile::GetName(char* dst) {
  if (!IsOpen()) return nullptr;
  if (dst) strcpy(dst, name_);
  return name_;
}

uint32_t tqFile::GetFileSizeOf(const char* name) { return (uint32_t)GetFileSizeOf64(name); }

uint64_t tqFile::GetFileSizeOf64(const char* name) {
  if (!name) return 0;
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst(name, data);
  if (!h) return 0;
  tqp::FindClose(h);
  return (data.attributes & tqp::ATTR_DIRECTORY) ? 0 : data.size;
}

int tqFile::GetSize() {
  if (!IsOpen()) return -1;
  int64_t size = tqp::FileSize(handle_);
  return size < 0 ? -1 : (int)(uint32_t)size;
}

tqHandle tqFile::GetHandle() { return handle_; }

int tqFile::Exists(const char* name) {
  if (!name) return 0;
  tqp::NoCriticalErrorDialogs quiet;
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst(name, data);
  if (!h) return 0;
  tqp::FindClose(h);
  return (data.attributes & tqp::ATTR_DIRECTORY) ? 0 : 1;
}

uint32_t tqFile::GetAttribute(const char* name) {
  if (!name) return 0xFFFFFFFFu;
  tqp::NoCriticalErrorDialogs quiet;
  return tqp::GetAttributes(name);
}

int tqFile::SetAttribute(const char* name, uint32_t attributes) {
  return name && tqp::SetAttributes(name, attributes) ? 1 : 0;
}

int tqFile::Delete(const char* name, int force) {
  uint32_t attributes = GetAttribute(name);
  if (attributes == 0xFFFFFFFFu) return 0;
  if (!force) {
    if (attributes & (tqp::ATTR_READONLY | tqp::ATTR_HIDDEN | tqp::ATTR_SYSTEM | tqp::ATTR_DIRECTORY))
      return 0;
    return tqp::DeleteFile(name) ? 1 : 0;
  }
  SetAttribute(name, tqp::ATTR_NORMAL);
  if (attributes & tqp::ATTR_DIRECTORY) return 0;
  return tqp::DeleteFile(name) ? 1 : 0;
}
