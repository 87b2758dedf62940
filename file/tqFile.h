// A file on disk behind the file interface.
#pragma once

#include "file/tqFileBase.h"

class tqFile : public tqFileBase {
 public:
  tqFile() = default;
  ~tqFile() override;
  tqFile(const tqFile&) = delete;
  tqFile& operator=(const tqFile&) = delete;

  // Names of 256 bytes or more do not fit the name field and are refused.
  int Open(const char* name, uint32_t mode) override;
  int Close() override;
  int Read(void* buffer, uint32_t count) override;
  int Write(const void* buffer, uint32_t count) override;
  int GetPosition() override;
  // Clamped to the last byte; no relative or end-based seek.
  int Seek(uint32_t position) override;
  const char* GetName(char* dst) override;
  uint32_t GetFileSizeOf(const char* name) override;
  int GetSize() override;
  tqHandle GetHandle() override;
  int Exists(const char* name) override;
  uint32_t GetAttribute(const char* name) override;
  int SetAttribute(const char* name, uint32_t attributes) override;
  int Delete(const char* name, int force) override;

  // Full 64-bit size of a named file (0 when missing or a directory).
  static uint64_t GetFileSizeOf64(const char* name);

  bool IsOpen() const { return handle_ != TQ_INVALID_HANDLE; }

 private:
  int32_t mode_ = -1;
  tqHandle handle_ = TQ_INVALID_HANDLE;
  char name_[256] = {};
  uint32_t position_ = 0;
};
