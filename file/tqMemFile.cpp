// Memory files: every read and write is bounded by the buffer; writes past
// the end grow it in whole growth steps.
#include "file/tqMemFile.h"

#include <cstring>

#include "tqClassBase/tqClassBase.h"
#include "tqClassBase/tqDebug.h"

namespace {
const char kNotOpen[] = "tqMemFile : ファイルがオープンされていません";
}

tqMemFile::~tqMemFile() {
  if (buffer_) Close();
}

void tqMemFile::SetName(const char* name) {
  if (!name) {
    name_[0] = 0;
    return;
  }
  size_t n = strnlen(name, sizeof name_ - 1);
  memcpy(name_, name, n);
  name_[n] = 0;
}

int tqMemFile::Create(uint32_t size) {
  if (buffer_) return 0;
  uint8_t* block = static_cast<uint8_t*>(PrivateAlloc(0, size));
  if (!block) return 0;
  buffer_ = block;
  size_ = size;
  growthStep_ = size;
  position_ = 0;
  borrowed_ = 0;
  return 1;
}

int tqMemFile::LoadFromFile(tqFileBase* file) {
  if (buffer_ || !file) return 0;
  int size = file->GetSize();
  if (size < 0) return 0;
  uint8_t* block = static_cast<uint8_t*>(PrivateAlloc(0, (uint32_t)size));
  if (!block) return 0;
  // A short read would leave bytes nobody wrote: refuse it rather than keep
  // a partial copy.
  if (size > 0 && file->Read(block, (uint32_t)size) != size) {
    PrivateFree(block);
    return 0;
  }
  SetName(file->GetName(nullptr));
  buffer_ = block;
  size_ = (uint32_t)size;
  position_ = 0;
  borrowed_ = 0;
  return 1;
}

int tqMemFile::LoadFromMemory(const char* name, const void* data, uint32_t size) {
  if (buffer_ || !data) return 0;
  uint8_t* block = static_cast<uint8_t*>(PrivateAlloc(0, size));
  if (!block) return 0;
  memcpy(block, data, size);
  SetName(name);
  buffer_ = block;
  size_ = size;
  position_ = 0;
  borrowed_ = 0;
  return 1;
}

int tqMemFile::Share(tqMemFile* other) {
  if (buffer_ || !other) return 0;
  memcpy(name_, other->name_, sizeof name_);
  position_ = other->position_;
  buffer_ = other->buffer_;
  size_ = other->size_;
  borrowed_ = 1;
  return 1;
}

int tqMemFile::GetBuffer(uint8_t** data, uint32_t* length) {
  if (!buffer_) return 0;
  if (data) *data = buffer_;
  if (length) *length = position_;
  return 1;
}

int tqMemFile::Open(const char*, uint32_t) { return 1; }

int tqMemFile::Close() {
  if (!buffer_) return 0;
  if (!borrowed_) PrivateFree(buffer_);
  buffer_ = nullptr;
  size_ = 0;
  return 1;
}

int tqMemFile::Read(void* buffer, uint32_t count) {
  if (!buffer_) {
    DebugPrint("%s", kNotOpen);
    return -1;
  }
  if (position_ >= size_) return -1;
  uint32_t left = size_ - position_;
  if (count > left) count = left;
  if (count > 0x7FFFFFFFu) count = 0x7FFFFFFFu;  // the result is a signed count
  memcpy(buffer, buffer_ + position_, count);
  position_ += count;
  return (int)count;
}

int tqMemFile::Write(const void* buffer, uint32_t count) {
  if (!buffer_) {
    DebugPrint("%s", kNotOpen);
    return -1;
  }
  if (count > 0x7FFFFFFFu) return -1;
  uint64_t end = (uint64_t)position_ + count;
  if (end >= size_) {
    // Grow by whole steps to a length above the end of this write. A file
    // that was not made by Create has no step; it grows by its own size (at
    // least 4 KiB) so that appending stays linear.
    uint64_t step = growthStep_ ? growthStep_ : (size_ > 4096 ? size_ : 4096);
    uint64_t steps = (end - size_) / step + 1;
    uint64_t grown = (uint64_t)size_ + steps * step;
    if (grown > 0xFFFFFFFFu) return -1;  // sizes are 32-bit
    uint8_t* block = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)grown));
    if (!block) return -1;
    memset(block, 0, (size_t)grown);
    memcpy(block, buffer_, size_);
    // A borrowed buffer still belongs to its owner: the grown copy is ours.
    if (!borrowed_) PrivateFree(buffer_);
    borrowed_ = 0;
    buffer_ = block;
    size_ = (uint32_t)grown;
  }
  uint32_t left = size_ - position_;
  if (count > left) count = left;
  memcpy(buffer_ + position_, buffer, count);
  position_ += count;
  return (int)count;
}

int tqMemFile::GetPosition() { return buffer_ ? (int)position_ : -1; }

int tqMemFile::Seek(uint32_t position) {
  // An empty buffer has no byte to point at: like an empty disk file, fail.
  if (!buffer_ || size_ == 0) return -1;
  if (position >= size_) position = size_ - 1;
  position_ = position;
  return (int)position_;
}

const char* tqMemFile::GetName(char* dst) {
  if (!buffer_) return nullptr;
  if (dst) strcpy(dst, name_);
  return name_;
}

uint32_t tqMemFile::GetFileSizeOf(const char*) { return 0xFFFFFFFFu; }

int tqMemFile::GetSize() { return buffer_ ? (int)size_ : -1; }

tqHandle tqMemFile::GetHandle() { return TQ_INVALID_HANDLE; }

int tqMemFile::Exists(const char*) { return 0; }

uint32_t tqMemFile::GetAttribute(const char*) { return 0; }

int tqMemFile::SetAttribute(const char*, uint32_t) { return 0; }

int tqMemFile::Delete(const char*, int) { return 0; }
