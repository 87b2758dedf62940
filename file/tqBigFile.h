// One archive entry behind the file interface. The archive is not owned and
// must outlive the object.
#pragma once

#include "file/tqArchive.h"
#include "file/tqFileBase.h"

class tqBigFile : public tqFileBase {
 public:
  explicit tqBigFile(tqArchive* archive = nullptr) : archive_(archive) {}
  ~tqBigFile() override;
  tqBigFile(const tqBigFile&) = delete;
  tqBigFile& operator=(const tqBigFile&) = delete;

  // Needs TQFILE_READ; a handle already held is closed first.
  int Open(const char* name, uint32_t mode) override;
  int Close() override;
  int Read(void* buffer, uint32_t count) override;
  // Archives are read-only.
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

  tqArchive* Archive() const { return archive_; }
  tqArchiveHandle* Handle() const { return handle_; }

 private:
  tqArchive* archive_;
  tqArchiveHandle* handle_ = nullptr;
};
