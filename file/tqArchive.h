// Archives: many files packed into one disk file, read entry by entry through
// tqBigFile, optionally enciphered with the block transform.
//
// On-disk format, version 1 (every number little-endian):
//
//   offset size  header
//        0    4  signature "TQAR"
//        4    2  version, 1
//        6    2  flags: bit 0 = entry data enciphered; other bits must be 0
//        8    4  entry count
//       12    4  handle capacity: entries that may be open at once, 1..4096
//       16    4  index offset (at or after the end of the header)
//       20    4  index size in bytes (at most 64 MiB)
//       24    4  CRC-32 of the index bytes
//       28    4  reserved, 0
//       32   16  key salt, random for every archive
//       48       entry data, then the index (the writer puts it last)
//
//   index record, one per entry, back to back:
//        0    4  data offset from the start of the file
//        4    4  data size
//        8    4  CRC-32 of the plain data (the entry's third value)
//       12    2  name length n, 1..259
//       14    n  name: Shift_JIS, '/' between folder levels, letters in the
//                case the file was given (lookups upper-case it)
//
// Every field is checked when the archive is opened: data and index must lie
// inside the file, the index must be consumed exactly by its records and
// match its CRC, names must not repeat once upper-cased, and must not hold
// control bytes, '\' or ':' (outside double-byte characters), a split
// double-byte character, or empty, "." or ".." levels.
//
// Enciphered data: counted from the entry's first byte, every complete 8-byte
// block is enciphered on its own with tqProtect; a final block shorter than 8
// bytes is stored plain. The key is 16 bytes: the salt enciphered with the
// application secret (tqProtect keyed with the secret, the two salt blocks in
// ECB). Without an application secret the library's default secret is used,
// so two archives never share a key unless they share a salt.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "file/tqFileBase.h"
#include "file/tqProtect.h"
#include "platform/tqPlatform.h"

constexpr uint32_t TQARC_HEADER_SIZE = 48;
constexpr uint32_t TQARC_VERSION = 1;
constexpr uint32_t TQARC_FLAG_ENCRYPTED = 0x0001;
constexpr uint32_t TQARC_MAX_HANDLES = 4096;
constexpr uint32_t TQARC_MAX_INDEX = 64u << 20;
constexpr uint32_t TQARC_RECORD_FIXED = 14;
constexpr uint32_t TQARC_MAX_NAME = 259;
// "OPEN" in memory: the marker of a handle in use.
constexpr uint32_t TQARC_HANDLE_OPEN = 0x4E45504F;

// CRC-32 (the common reflected polynomial 0xEDB88320), continued from crc.
uint32_t tqCrc32(uint32_t crc, const void* data, size_t size);

struct tqArchiveEntry {
  uint32_t offset;  // from the start of the archive file
  uint32_t size;
  uint32_t third;   // CRC-32 of the plain data; carried into the handle only
};

struct tqArchiveHandle {
  uint32_t marker;      // TQARC_HANDLE_OPEN while in use, 0 when free
  uint32_t start;       // the entry's data offset
  uint32_t fileOffset;  // archive file offset of the position
  uint32_t position;    // within the entry
  uint32_t size;
  char name[260];       // the name the entry was opened with
  uint32_t third;
};

// The invalid handle result of OpenEntry.
#define TQARC_INVALID_HANDLE (reinterpret_cast<tqArchiveHandle*>(-1))

class tqArchive : public tqClassBase {
 public:
  tqArchive();
  ~tqArchive();
  tqArchive(const tqArchive&) = delete;
  tqArchive& operator=(const tqArchive&) = delete;

  // Opens and checks an archive file; 1 on success, 0 (with a debug line
  // naming the fault) for a missing, damaged or hostile file. name is the
  // archive's name compared with group names; null takes the file name less
  // its last extension. secret is the application secret (null: default).
  int Open(const char* path, const char* name = nullptr, const void* secret = nullptr,
           uint32_t secretLength = 0);
  // Frees the index, the handles and the file; open handles become invalid.
  void Close();
  bool IsOpen() const { return index_ != nullptr; }

  // A free handle on the entry, or TQARC_INVALID_HANDLE.
  tqArchiveHandle* OpenEntry(const char* name);
  // Bytes read (n = count clamped to what is left), 0 for an invalid handle,
  // no buffer or a count of 0, -1 when the system read fails.
  int ReadEntry(tqArchiveHandle* handle, void* buffer, uint32_t count);
  // origin 0: from the start, 1: from the position. See tqArchive.cpp.
  int SeekEntry(tqArchiveHandle* handle, int32_t offset, int origin);
  // 1 when the handle was open and is now free, else 0.
  int CloseEntry(tqArchiveHandle* handle);
  bool IsValidHandle(const tqArchiveHandle* handle) const;
  // Whether the index holds the name (compared upper-cased).
  int Contains(const char* name) const;
  const char* GetName() const { return name_; }
  void SetName(const char* name);

  uint32_t HandleCapacity() const { return capacity_; }
  bool Encrypted() const { return encrypted_ != 0; }
  // Entries in index order, with their names as stored.
  struct Listed {
    std::string name;
    tqArchiveEntry entry;
  };
  const std::vector<Listed>& Entries() const { return listed_; }
  const char* Path() const { return path_; }

  // Derives the 16-byte key of an archive from its salt.
  static void DeriveKey(const uint8_t salt[16], const void* secret, uint32_t secretLength,
                        uint8_t key[16]);
  // Upper-cases single-byte letters, stepping over double-byte characters.
  static std::string UpperName(const char* name);
  // Whether a stored entry name is acceptable (see the format note).
  static bool ValidEntryName(const char* name, size_t length);

 private:
  // Raw reads of the shared file handle: callers hold lock_.
  bool ReadAt(uint32_t offset, void* buffer, uint32_t count, uint32_t* done);
  int Reject(const char* why);

  uint32_t capacity_ = 0;
  uint8_t* indexMemory_ = nullptr;
  std::map<std::string, tqArchiveEntry>* index_ = nullptr;
  std::vector<Listed> listed_;
  tqArchiveHandle* handles_ = nullptr;
  tqp::FileHandle file_ = tqp::INVALID_FILE;
  char name_[264] = {};
  char path_[264] = {};
  uint32_t encrypted_ = 0;
  tqProtect* protect_ = nullptr;
  // Serialises the shared file pointer and the handle table, so that the
  // preload worker and other threads may read one archive at once.
  mutable tqp::CriticalSection lock_;
};

// Writes an archive: Begin, one Add per entry, then Finish. Entries are
// streamed; the index follows them.
class tqArchiveWriter {
 public:
  tqArchiveWriter() = default;
  ~tqArchiveWriter();
  tqArchiveWriter(const tqArchiveWriter&) = delete;
  tqArchiveWriter& operator=(const tqArchiveWriter&) = delete;

  // salt: 16 bytes, or null for a random one. 1 on success.
  int Begin(const char* path, bool encrypt, uint32_t handleCapacity = 16,
            const uint8_t* salt = nullptr, const void* secret = nullptr,
            uint32_t secretLength = 0);
  // Adds one entry from memory. 0 for a bad or repeated name or a full archive.
  int Add(const char* name, const void* data, uint32_t size);
  // Adds one entry read from an open file (all of it, from its start).
  // progress (may be null) is called after every chunk with the bytes done.
  int AddFile(const char* name, tqFileBase* file, void (*progress)(void* user, uint32_t done) = nullptr,
              void* user = nullptr);
  // Writes the index and the header; 1 on success. The archive is complete
  // only after this.
  int Finish();
  // Removes an unfinished archive.
  void Abort();
  const char* Error() const { return error_; }

 private:
  int Fail(const char* why);
  bool AddName(const char* name, uint32_t* slot);
  bool WriteAll(const void* data, uint32_t size);
  // Enciphers when asked (a chunk is whole blocks unless it is the last one)
  // and appends.
  bool WriteChunk(uint8_t* data, uint32_t size);

  tqp::FileHandle file_ = tqp::INVALID_FILE;
  std::string path_;
  bool encrypt_ = false;
  uint32_t capacity_ = 0;
  uint8_t salt_[16] = {};
  tqProtect protect_;
  uint64_t offset_ = 0;
  std::vector<uint8_t> index_;
  std::map<std::string, int> names_;
  uint32_t count_ = 0;
  uint8_t* chunk_ = nullptr;  // 1 MiB staging block of AddFile and Add
  char error_[300] = {};
};
