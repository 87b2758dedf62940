// The file interface every byte of the program goes through, with its three
// implementations: disk files, archive entries and memory buffers.
#pragma once

#include <cstdint>

#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"

enum : uint32_t {
  TQFILE_READ = 0x0001,
  TQFILE_WRITE = 0x0002,
  TQFILE_EXISTING = 0x0100,
  TQFILE_NEW = 0x0200,
  TQFILE_CREATE = 0x0400,
  TQFILE_ALWAYS = 0x0800,
};

using tqHandle = tqp::FileHandle;
constexpr tqHandle TQ_INVALID_HANDLE = tqp::INVALID_FILE;

// Fifteen virtual operations in this slot order; each default reports failure.
class tqFileBase : public tqClassBase {
 public:
  virtual ~tqFileBase() = default;
  virtual int Open(const char* name, uint32_t mode) { (void)name; (void)mode; return 0; }
  virtual int Close() { return 0; }
  virtual int Read(void* buffer, uint32_t count) { (void)buffer; (void)count; return -1; }
  virtual int Write(const void* buffer, uint32_t count) { (void)buffer; (void)count; return -1; }
  virtual int GetPosition() { return -1; }
  virtual int Seek(uint32_t position) { (void)position; return -1; }
  virtual const char* GetName(char* dst) { (void)dst; return nullptr; }
  virtual uint32_t GetFileSizeOf(const char* name) { (void)name; return 0xFFFFFFFFu; }
  virtual int GetSize() { return -1; }
  virtual tqHandle GetHandle() { return TQ_INVALID_HANDLE; }
  virtual int Exists(const char* name) { (void)name; return 0; }
  virtual uint32_t GetAttribute(const char* name) { (void)name; return 0xFFFFFFFFu; }
  virtual int SetAttribute(const char* name, uint32_t attributes) { (void)name; (void)attributes; return 0; }
  virtual int Delete(const char* name, int force) { (void)name; (void)force; return 0; }
};
