// tqBigFile: reads one archive entry through its archive's handle table.
#include "file/tqBigFile.h"

#include <cstring>

tqBigFile::~tqBigFile() { Close(); }

int tqBigFile::Open(const char* name, uint32_t mode) {
  if (!archive_ || !(mode & TQFILE_READ)) return 0;
  // Replacing a held handle without freeing it would leak a slot of the
  // archive's table for good.
  Close();
  tqArchiveHandle* handle = archive_->OpenEntry(name);
  if (handle == TQARC_INVALID_HANDLE || !handle) return 0;
  handle_ = handle;
  return 1;
}

int tqBigFile::Close() {
  if (!archive_ || !handle_) return 0;
  archive_->CloseEntry(handle_);
  handle_ = nullptr;
  return 1;
}

int tqBigFile::Read(void* buffer, uint32_t count) {
  if (!archive_) {
    DebugPrint("tqBigFile : 統合ファイルがオープンされていません");
    return -1;
  }
  if (!handle_) {
    DebugPrint("tqBigFile : ファイルハンドルが無効です");
    return -1;
  }
  return archive_->ReadEntry(handle_, buffer, count);
}

int tqBigFile::Write(const void*, uint32_t) { return -1; }

int tqBigFile::GetPosition() {
  if (!archive_ || !handle_ || !archive_->IsValidHandle(handle_)) return 0;
  return (int)handle_->position;
}

int tqBigFile::Seek(uint32_t position) {
  if (!archive_ || !handle_) return 0;
  return archive_->SeekEntry(handle_, (int32_t)position, 0);
}

const char* tqBigFile::GetName(char* dst) {
  if (!archive_ || !handle_ || !archive_->IsValidHandle(handle_)) return nullptr;
  if (dst) strcpy(dst, handle_->name);
  return handle_->name;
}

uint32_t tqBigFile::GetFileSizeOf(const char*) { return 0xFFFFFFFFu; }

int tqBigFile::GetSize() {
  if (!archive_ || !handle_) return -1;
  if (!archive_->IsValidHandle(handle_)) return 0;
  return (int)handle_->size;
}

tqHandle tqBigFile::GetHandle() { return TQ_INVALID_HANDLE; }

int tqBigFile::Exists(const char* name) { return archive_ ? archive_->Contains(name) : 0; }

uint32_t tqBigFile::GetAttribute(const char*) { return 0x80; }

int tqBigFile::SetAttribute(const char*, uint32_t) { return 0; }

int tqBigFile::Delete(const char*, int) { return 0; }
