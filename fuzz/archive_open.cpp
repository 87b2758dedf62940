// Opens fuzzer bytes as an archive and reads every entry in odd-sized pieces,
// seeking about: a hostile file must be refused or read within its bounds.
#include <cstdlib>
#include <vector>

#include "file/tqArchive.h"
#include "file/tqBigFile.h"
#include "fuzz/archive_fuzz.h"

// The index checksum would stop almost every mutation at the door; it is
// made to match so that the structure behind it gets explored.
static void MatchChecksum(std::vector<uint8_t>& bytes) {
  if (bytes.size() < TQARC_HEADER_SIZE) return;
  auto get = [&](size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | (uint32_t)bytes[at + 3] << 24;
  };
  uint64_t offset = get(16), length = get(20);
  if (offset + length > bytes.size()) return;
  uint32_t crc = tqCrc32(0, bytes.data() + offset, (size_t)length);
  for (int i = 0; i < 4; ++i) bytes[24 + i] = (uint8_t)(crc >> (8 * i));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  archivefuzz::Once();
  std::vector<uint8_t> bytes(data, data + size);
  MatchChecksum(bytes);
  if (!archivefuzz::WriteScratch(bytes.data(), bytes.size())) return 0;
  tqArchive archive;
  if (!archive.Open(archivefuzz::ScratchPath().c_str())) return 0;
  std::vector<uint8_t> buffer(4096 + 16);
  for (const auto& e : archive.Entries()) {
    tqBigFile file(&archive);
    if (!file.Open(e.name.c_str(), TQFILE_READ)) abort();  // every listed entry opens
    if ((uint32_t)file.GetSize() != e.entry.size) abort();
    uint32_t total = 0, piece = 1;
    int n;
    while ((n = file.Read(buffer.data(), piece)) > 0) {
      total += (uint32_t)n;
      piece = piece * 3 % 4093 + 1;
      if (total > e.entry.size) abort();
    }
    if (n < 0 || total != e.entry.size) abort();
    file.Seek(e.entry.size / 2 + 3);
    file.Read(buffer.data(), 11);
  }
  return 0;
}
