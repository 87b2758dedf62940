// Opening, checking and reading archives, and writing them; the format is
// described in tqArchive.h.
#include "file/tqArchive.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include "util/tqUtil.h"
#include "platform/tqShiftJis.h"

namespace {

constexpr char kSignature[4] = {'T', 'Q', 'A', 'R'};
// Used when the application gives no secret of its own.
constexpr char kDefaultSecret[] = "tqArchive/1 default secret";
constexpr uint32_t kChunk = 1u << 20;

uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
void Put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

bool IsLead(unsigned char c) { return tqp::IsSjisLeadByte(c); }
bool IsTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// Archive name from a path: the last component less its last extension;
// double-byte aware, so a trail byte 0x5C is never taken for a separator.
void DefaultName(const char* path, char* out, size_t size) {
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (IsLead((unsigned char)p[0]) && IsTrail((unsigned char)p[1])) {
      ++p;
      continue;
    }
    if (*p == '\\' || *p == '/') base = p + 1;
  }
  const char* dot = nullptr;
  for (const char* p = base; *p; ++p) {
    if (IsLead((unsigned char)p[0]) && IsTrail((unsigned char)p[1])) {
      ++p;
      continue;
    }
    if (*p == '.') dot = p;
  }
  size_t n = dot && dot != base ? (size_t)(dot - base) : strlen(base);
  if (n >= size) n = size - 1;
  memcpy(out, base, n);
  out[n] = 0;
}

void CopyText(char* out, size_t size, const char* text) {
  size_t n = text ? strlen(text) : 0;
  if (n >= size) n = size - 1;
  if (n) memcpy(out, text, n);
  out[n] = 0;
}

}  // namespace

uint32_t tqCrc32(uint32_t crc, const void* data, size_t size) {
  static const struct Table {
    uint32_t t[256];
    Table() {
      for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
      }
    }
  } table;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table.t[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// ------------------------------------------------------------------ tqArchive

tqArchive::tqArchive() = default;

tqArchive::~tqArchive() { Close(); }

void tqArchive::DeriveKey(const uint8_t salt[16], const void* secret, uint32_t secretLength,
                          uint8_t key[16]) {
  tqProtect master;
  if (!secret || secretLength == 0) {
    secret = kDefaultSecret;
    secretLength = sizeof kDefaultSecret - 1;
  }
  master.SetKey(secret, secretLength);
  master.Encrypt(key, salt, 16);
}

std::string tqArchive::UpperName(const char* name) {
  std::string out = name ? name : "";
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = (unsigned char)out[i];
    if (IsLead(c) && i + 1 < out.size() && IsTrail((unsigned char)out[i + 1])) {
      ++i;
      continue;
    }
    if (c >= 'a' && c <= 'z') out[i] = (char)(c - 'a' + 'A');
  }
  return out;
}

bool tqArchive::ValidEntryName(const char* name, size_t length) {
  if (length == 0 || length > TQARC_MAX_NAME) return false;
  size_t levelStart = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i == length || name[i] == '/') {
      size_t n = i - levelStart;
      const char* level = name + levelStart;
      if (n == 0 || (n == 1 && level[0] == '.') || (n == 2 && level[0] == '.' && level[1] == '.'))
        return false;
      levelStart = i + 1;
      continue;
    }
    unsigned char c = (unsigned char)name[i];
    if (IsLead(c)) {
      if (i + 1 >= length || !IsTrail((unsigned char)name[i + 1])) return false;
      ++i;
      continue;
    }
    if (c < 0x20 || c == 0x7F || c == '\\' || c == ':') return false;
  }
  return true;
}

void tqArchive::SetName(const char* name) { CopyText(name_, sizeof name_, name); }

int tqArchive::Reject(const char* why) {
  DebugPrint("tqArchive : 統合ファイルが不正です (%s) : %s", why, path_);
  Close();
  return 0;
}

bool tqArchive::ReadAt(uint32_t offset, void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  if (tqp::FileSeek(file_, offset, 0) != (int64_t)offset) return false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  while (*done < count) {
    uint32_t got = 0;
    if (!tqp::FileRead(file_, out + *done, count - *done, &got)) return false;
    if (got == 0) break;
    *done += got;
  }
  return true;
}

int tqArchive::Open(const char* path, const char* name, const void* secret, uint32_t secretLength) {
  Close();
  if (!path) return 0;
  CopyText(path_, sizeof path_, path);
  if (name)
    SetName(name);
  else
    DefaultName(path, name_, sizeof name_);

  file_ = tqp::FileOpen(path, tqp::ACCESS_READ, tqp::SHARE_READ, tqp::DISP_OPEN_EXISTING, 0, 0);
  if (file_ == tqp::INVALID_FILE) {
    DebugPrint("tqArchive : 統合ファイルが開けません : %s", path);
    return 0;
  }
  int64_t fileSize = tqp::FileSize(file_);
  uint8_t header[TQARC_HEADER_SIZE];
  uint32_t done = 0;
  if (fileSize < (int64_t)TQARC_HEADER_SIZE || !ReadAt(0, header, sizeof header, &done) ||
      done != sizeof header)
    return Reject("short header");
  if (memcmp(header, kSignature, 4) != 0) return Reject("signature");
  if (Get16(header + 4) != TQARC_VERSION) return Reject("version");
  uint32_t flags = Get16(header + 6);
  if (flags & ~TQARC_FLAG_ENCRYPTED) return Reject("flags");
  uint32_t count = Get32(header + 8);
  uint32_t capacity = Get32(header + 12);
  uint32_t indexOffset = Get32(header + 16);
  uint32_t indexSize = Get32(header + 20);
  uint32_t indexCrc = Get32(header + 24);
  if (Get32(header + 28) != 0) return Reject("reserved field");
  if (capacity == 0 || capacity > TQARC_MAX_HANDLES) return Reject("handle capacity");
  if (indexOffset < TQARC_HEADER_SIZE || indexSize > TQARC_MAX_INDEX ||
      (int64_t)indexOffset + indexSize > fileSize)
    return Reject("index outside the file");
  if (count > indexSize / TQARC_RECORD_FIXED) return Reject("entry count");

  indexMemory_ = static_cast<uint8_t*>(PrivateAlloc(0, indexSize ? indexSize : 1));
  if (!indexMemory_) return Reject("no memory for the index");
  if (indexSize && (!ReadAt(indexOffset, indexMemory_, indexSize, &done) || done != indexSize))
    return Reject("short index");
  if (tqCrc32(0, indexMemory_, indexSize) != indexCrc) return Reject("index checksum");

  std::unique_ptr<std::map<std::string, tqArchiveEntry>> index(
      new std::map<std::string, tqArchiveEntry>);
  listed_.clear();
  listed_.reserve(count);
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (indexSize - at < TQARC_RECORD_FIXED) {
      return Reject("index record cut short");
    }
    const uint8_t* rec = indexMemory_ + at;
    tqArchiveEntry entry{Get32(rec), Get32(rec + 4), Get32(rec + 8)};
    uint32_t nameLength = Get16(rec + 12);
    at += TQARC_RECORD_FIXED;
    if (nameLength > indexSize - at) {
      return Reject("entry name cut short");
    }
    const char* stored = reinterpret_cast<const char*>(indexMemory_ + at);
    at += nameLength;
    if (!ValidEntryName(stored, nameLength)) {
      return Reject("entry name");
    }
    if (entry.offset < TQARC_HEADER_SIZE || (uint64_t)entry.offset + entry.size > indexOffset) {
      return Reject("entry data outside the file");
    }
    std::string storedName(stored, nameLength);
    std::string key = UpperName(storedName.c_str());
    if (!index->emplace(key, entry).second) {
      return Reject("repeated entry name");
    }
    listed_.push_back({storedName, entry});
  }
  if (at != indexSize) {
    return Reject("index longer than its records");
  }

  handles_ = static_cast<tqArchiveHandle*>(PrivateAlloc(0, sizeof(tqArchiveHandle) * capacity));
  if (!handles_) {
    return Reject("no memory for the handles");
  }
  memset(handles_, 0, sizeof(tqArchiveHandle) * capacity);
  capacity_ = capacity;
  encrypted_ = flags & TQARC_FLAG_ENCRYPTED;
  if (encrypted_) {
    protect_ = new tqProtect;
    uint8_t key[16];
    if (!protect_) {
      return Reject("no memory for the key");
    }
    DeriveKey(header + 32, secret, secretLength, key);
    protect_->SetKey(key, sizeof key);
  }
  index_ = index.release();
  return 1;
}

void tqArchive::Close() {
  lock_.Enter();
  delete index_;
  index_ = nullptr;
  listed_.clear();
  if (indexMemory_) PrivateFree(indexMemory_);
  indexMemory_ = nullptr;
  if (handles_) PrivateFree(handles_);
  handles_ = nullptr;
  capacity_ = 0;
  if (file_ != tqp::INVALID_FILE) tqp::FileClose(file_);
  file_ = tqp::INVALID_FILE;
  delete protect_;
  protect_ = nullptr;
  encrypted_ = 0;
  lock_.Leave();
}

bool tqArchive::IsValidHandle(const tqArchiveHandle* handle) const {
  if (!index_ || !handle || handle == TQARC_INVALID_HANDLE) return false;
  // Only handles of this archive's own table count.
  uintptr_t at = reinterpret_cast<uintptr_t>(handle), first = reinterpret_cast<uintptr_t>(handles_);
  if (at < first || at >= first + sizeof(tqArchiveHandle) * capacity_ ||
      (at - first) % sizeof(tqArchiveHandle))
    return false;
  return handle->marker == TQARC_HANDLE_OPEN;
}

int tqArchive::Contains(const char* name) const {
  if (!index_ || !name) return 0;
  return index_->count(UpperName(name)) ? 1 : 0;
}

tqArchiveHandle* tqArchive::OpenEntry(const char* name) {
  if (!index_ || !name) return TQARC_INVALID_HANDLE;
  lock_.Enter();
  tqArchiveHandle* handle = nullptr;
  for (uint32_t i = 0; i < capacity_; ++i) {
    if (handles_[i].marker != TQARC_HANDLE_OPEN) {
      handle = &handles_[i];
      break;
    }
  }
  if (!handle) {
    lock_.Leave();
    ErrorBox("同時にオープンできるファイル数を超えています (MAX:%d) : %s", (int)capacity_, name);
    return TQARC_INVALID_HANDLE;
  }
  auto it = index_->find(UpperName(name));
  if (it == index_->end()) {
    lock_.Leave();
    return TQARC_INVALID_HANDLE;
  }
  handle->start = it->second.offset;
  handle->fileOffset = it->second.offset;
  handle->position = 0;
  handle->size = it->second.size;
  CopyText(handle->name, sizeof handle->name, name);
  handle->third = it->second.third;
  handle->marker = TQARC_HANDLE_OPEN;
  lock_.Leave();
  return handle;
}

int tqArchive::CloseEntry(tqArchiveHandle* handle) {
  lock_.Enter();
  int result = 0;
  if (IsValidHandle(handle)) {
    memset(handle, 0, sizeof *handle);
    result = 1;
  }
  lock_.Leave();
  return result;
}

// The target is clamped into the entry: one not below the size goes to the
// last byte, and the result is offset less the overshoot past the size. A
// relative move to before the start stops at 0 (the result is then the move
// actually made). An empty entry stays at position 0.
int tqArchive::SeekEntry(tqArchiveHandle* handle, int32_t offset, int origin) {
  if (!IsValidHandle(handle)) return 0;
  int64_t attempted;
  if (origin == 0)
    attempted = (uint32_t)offset;
  else if (origin == 1)
    attempted = (int64_t)handle->position + offset;
  else {
    ErrorBox("ファイルポインタ移動タイプが不正です");
    return 0;
  }
  int64_t size = handle->size;
  int64_t result = origin == 0 ? (int64_t)(uint32_t)offset : offset;
  int64_t target = attempted;
  if (attempted >= size) {
    target = size > 0 ? size - 1 : 0;
    result -= attempted - size;
  } else if (attempted < 0) {
    target = 0;
    result -= attempted;
  }
  handle->position = (uint32_t)target;
  handle->fileOffset = handle->start + (uint32_t)target;
  return (int)result;
}

int tqArchive::ReadEntry(tqArchiveHandle* handle, void* buffer, uint32_t count) {
  if (!IsValidHandle(handle)) return 0;
  if (!buffer) {
    ErrorBox("読み込み先バッファが指定されていません");
    return 0;
  }
  if (count == 0 || handle->position >= handle->size) return 0;
  const uint32_t size = handle->size;
  uint32_t position = handle->position;
  uint32_t fileOffset = handle->fileOffset;
  const uint32_t n = count < size - position ? count : size - position;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;

  if (!encrypted_) {
    lock_.Enter();
    bool ok = ReadAt(fileOffset, out, n, &done);
    lock_.Leave();
    if (!ok) {
      ErrorBox("読み込みに失敗 (%s:%d)", handle->name, (int)size);
      return -1;
    }
    handle->position += done;
    handle->fileOffset += done;
    return (int)done;
  }

  // Enciphered: the raw bytes are read under the lock, deciphered after it.
  uint32_t r = n;
  uint8_t head[8], tail[8] = {};
  uint32_t headFrom = 0, headCount = 0, bodyCount = 0, tailCount = 0;
  bool tailEnciphered = false;
  bool ok = true;
  lock_.Enter();
  if (position % 8 && (position >> 3) != (size >> 3)) {
    headFrom = position % 8;
    ok = ReadAt(fileOffset - headFrom, head, 8, &done) && done == 8;
    if (ok) {
      headCount = r < 8 - headFrom ? r : 8 - headFrom;
      position += headCount;
      fileOffset += headCount;
      r -= headCount;
    }
  }
  if (ok && r >= 8) {
    bodyCount = r - r % 8;
    ok = ReadAt(fileOffset, out + headCount, bodyCount, &done) && done == bodyCount;
    if (ok) {
      position += bodyCount;
      fileOffset += bodyCount;
      r -= bodyCount;
    }
  }
  if (ok && r > 0) {
    tailCount = r < size - position ? r : size - position;
    if (size - position >= 8) {
      tailEnciphered = true;
      ok = ReadAt(fileOffset, tail, 8, &done) && done == 8;
    } else {
      ok = ReadAt(fileOffset, out + headCount + bodyCount, tailCount, &done) && done == tailCount;
    }
    if (ok) {
      position += tailCount;
      fileOffset += tailCount;
    }
  }
  lock_.Leave();
  if (!ok) {
    ErrorBox("読み込みに失敗 (%s:%d)", handle->name, (int)size);
    return -1;
  }

  if (headCount) {
    protect_->Decrypt(head, head, 8);
    memcpy(out, head + headFrom, headCount);
  }
  if (bodyCount) protect_->Decrypt(out + headCount, out + headCount, bodyCount);
  if (tailEnciphered) {
    protect_->Decrypt(tail, tail, 8);
    memcpy(out + headCount + bodyCount, tail, tailCount);
  }
  handle->position = position;
  handle->fileOffset = fileOffset;
  if (tailCount != r) ErrorBox("暗号化解除エラー (%s:%d)", handle->name, (int)size);
  return (int)n;
}

// ------------------------------------------------------------------ writer

tqArchiveWriter::~tqArchiveWriter() { Abort(); }

int tqArchiveWriter::Fail(const char* why) {
  snprintf(error_, sizeof error_, "%s", why);
  return 0;
}

bool tqArchiveWriter::WriteAll(const void* data, uint32_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (size) {
    uint32_t done = 0;
    if (!tqp::FileWrite(file_, p, size, &done) || done == 0) return false;
    p += done;
    size -= done;
    offset_ += done;
  }
  return true;
}

int tqArchiveWriter::Begin(const char* path, bool encrypt, uint32_t handleCapacity,
                           const uint8_t* salt, const void* secret, uint32_t secretLength) {
  Abort();
  error_[0] = 0;
  if (!path) return Fail("no archive path");
  if (handleCapacity == 0 || handleCapacity > TQARC_MAX_HANDLES)
    return Fail("the handle capacity must be 1 to 4096");
  chunk_ = static_cast<uint8_t*>(PrivateAlloc(0, kChunk));
  if (!chunk_) return Fail("no memory");
  file_ = tqp::FileOpen(path, tqp::ACCESS_WRITE, 0, tqp::DISP_CREATE_ALWAYS, tqp::ATTR_NORMAL, 0);
  if (file_ == tqp::INVALID_FILE) return Fail("cannot create the archive file");
  path_ = path;
  encrypt_ = encrypt;
  capacity_ = handleCapacity;
  if (salt) {
    memcpy(salt_, salt, 16);
  } else {
    std::random_device device;
    uint32_t mix = tqp::TickCount();
    for (int i = 0; i < 16; i += 4) Put32(salt_ + i, device() ^ (mix *= 2654435761u));
  }
  if (encrypt_) {
    uint8_t key[16];
    tqArchive::DeriveKey(salt_, secret, secretLength, key);
    protect_.SetKey(key, sizeof key);
  }
  uint8_t header[TQARC_HEADER_SIZE] = {};
  offset_ = 0;
  if (!WriteAll(header, sizeof header)) return Fail("cannot write the archive file");
  return 1;
}

bool tqArchiveWriter::AddName(const char* name, uint32_t* slot) {
  size_t length = name ? strlen(name) : 0;
  if (!tqArchive::ValidEntryName(name, length)) return Fail("bad entry name"), false;
  if (!names_.emplace(tqArchive::UpperName(name), 0).second)
    return Fail("repeated entry name"), false;
  if (count_ == 0xFFFFFFFFu || index_.size() + TQARC_RECORD_FIXED + length > TQARC_MAX_INDEX)
    return Fail("too many entries"), false;
  *slot = (uint32_t)index_.size();
  index_.resize(index_.size() + TQARC_RECORD_FIXED + length);
  Put16(&index_[*slot + 12], (uint16_t)length);
  memcpy(&index_[*slot + TQARC_RECORD_FIXED], name, length);
  return true;
}

bool tqArchiveWriter::WriteChunk(uint8_t* data, uint32_t size) {
  uint32_t whole = size - size % 8;
  if (encrypt_ && whole) protect_.Encrypt(data, data, whole);
  return WriteAll(data, size);
}

int tqArchiveWriter::Add(const char* name, const void* data, uint32_t size) {
  if (file_ == tqp::INVALID_FILE) return Fail("no archive begun");
  if (!data && size) return Fail("no data");
  if (offset_ + size > 0xFFFFFFFFull) return Fail("the archive would reach 4 GiB");
  uint32_t slot;
  if (!AddName(name, &slot)) return 0;
  uint32_t start = (uint32_t)offset_;
  uint32_t crc = 0;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (uint32_t at = 0; at < size;) {
    uint32_t n = size - at < kChunk ? size - at : kChunk;
    memcpy(chunk_, p + at, n);
    crc = tqCrc32(crc, chunk_, n);
    if (!WriteChunk(chunk_, n)) return Fail("cannot write the archive file");
    at += n;
  }
  Put32(&index_[slot], start);
  Put32(&index_[slot + 4], size);
  Put32(&index_[slot + 8], crc);
  ++count_;
  return 1;
}

int tqArchiveWriter::AddFile(const char* name, tqFileBase* file,
                             void (*progress)(void* user, uint32_t done), void* user) {
  if (file_ == tqp::INVALID_FILE) return Fail("no archive begun");
  if (!file) return Fail("no file");
  int size = file->GetSize();
  if (size < 0) return Fail("cannot size the file");
  if (offset_ + (uint32_t)size > 0xFFFFFFFFull) return Fail("the archive would reach 4 GiB");
  uint32_t slot;
  if (!AddName(name, &slot)) return 0;
  uint32_t start = (uint32_t)offset_;
  uint32_t crc = 0, total = 0;
  while (total < (uint32_t)size) {
    uint32_t want = (uint32_t)size - total < kChunk ? (uint32_t)size - total : kChunk;
    int got = file->Read(chunk_, want);
    // Every chunk but the last must be whole blocks: insist on full reads.
    if (got != (int)want) return Fail("cannot read the file");
    crc = tqCrc32(crc, chunk_, want);
    if (!WriteChunk(chunk_, want)) return Fail("cannot write the archive file");
    total += want;
    if (progress) progress(user, total);
  }
  Put32(&index_[slot], start);
  Put32(&index_[slot + 4], total);
  Put32(&index_[slot + 8], crc);
  ++count_;
  return 1;
}

int tqArchiveWriter::Finish() {
  if (file_ == tqp::INVALID_FILE) return Fail("no archive begun");
  if (offset_ + index_.size() > 0xFFFFFFFFull) return Fail("the archive would reach 4 GiB");
  uint8_t header[TQARC_HEADER_SIZE] = {};
  memcpy(header, kSignature, 4);
  Put16(header + 4, (uint16_t)TQARC_VERSION);
  Put16(header + 6, encrypt_ ? (uint16_t)TQARC_FLAG_ENCRYPTED : 0);
  Put32(header + 8, count_);
  Put32(header + 12, capacity_);
  Put32(header + 16, (uint32_t)offset_);
  Put32(header + 20, (uint32_t)index_.size());
  Put32(header + 24, tqCrc32(0, index_.data(), index_.size()));
  memcpy(header + 32, salt_, 16);
  if (!index_.empty() && !WriteAll(index_.data(), (uint32_t)index_.size()))
    return Fail("cannot write the archive file");
  if (tqp::FileSeek(file_, 0, 0) != 0 || !WriteAll(header, sizeof header))
    return Fail("cannot write the archive file");
  bool closed = tqp::FileClose(file_);
  file_ = tqp::INVALID_FILE;
  path_.clear();
  index_.clear();
  names_.clear();
  count_ = 0;
  if (chunk_) PrivateFree(chunk_);
  chunk_ = nullptr;
  return closed ? 1 : Fail("cannot close the archive file");
}

void tqArchiveWriter::Abort() {
  if (file_ != tqp::INVALID_FILE) {
    tqp::FileClose(file_);
    file_ = tqp::INVALID_FILE;
    tqp::DeleteFile(path_.c_str());
  }
  path_.clear();
  index_.clear();
  names_.clear();
  count_ = 0;
  if (chunk_) PrivateFree(chunk_);
  chunk_ = nullptr;
}
