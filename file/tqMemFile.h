// A file whose bytes live in one block of the library's private heap: a copy
// of another file, a read-only view of caller bytes, or a growing output.
#pragma once

#include <cstdint>

#include "file/tqFileBase.h"

class tqMemFile : public tqFileBase {
 public:
  tqMemFile() = default;
  ~tqMemFile() override;
  tqMemFile(const tqMemFile&) = delete;
  tqMemFile& operator=(const tqMemFile&) = delete;

  // Each of these fails with 0 when the file already holds a buffer.
  // size bytes, not cleared; the growth step of later writes is size too.
  int Create(uint32_t size);
  // A copy of the whole of another open file (its name, size and bytes).
  int LoadFromFile(tqFileBase* file);
  // A copy of caller bytes under the given name.
  int LoadFromMemory(const char* name, const void* data, uint32_t size);
  // Uses the other memory file's buffer without owning it; the other file
  // must outlive this one.
  int Share(tqMemFile* other);
  // The buffer and the current position (for a file written from the start,
  // the number of bytes written).
  int GetBuffer(uint8_t** data, uint32_t* length);

  int Open(const char* name, uint32_t mode) override;
  int Close() override;
  int Read(void* buffer, uint32_t count) override;
  int Write(const void* buffer, uint32_t count) override;
  int GetPosition() override;
  int Seek(uint32_t position) override;
  const char* GetName(char* dst) override;
  uint32_t GetFileSizeOf(const char* name) override;
  int GetSize() override;
  tqHandle GetHandle() override;
  int Exists(const char* name) override;
  uint32_t GetAttribute(const char* name) override;
  int SetAttribute(const char* name, uint32_t attributes) override;
  int Delete(const char* name, int force) override;

  bool IsOpen() const { return buffer_ != nullptr; }

 private:
  void SetName(const char* name);

  char name_[256] = {};
  uint32_t position_ = 0;
  uint8_t* buffer_ = nullptr;
  uint32_t size_ = 0;        // buffer length; the capacity of a growing file
  uint32_t growthStep_ = 0;  // set by Create only
  int32_t borrowed_ = 0;     // the buffer belongs to another memory file
};
