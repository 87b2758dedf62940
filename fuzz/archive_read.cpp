// Builds an archive from fuzzer-chosen entries, then checks reads at
// fuzzer-chosen positions and counts against the plain bytes.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "file/tqArchive.h"
#include "file/tqBigFile.h"
#include "fuzz/archive_fuzz.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size, at = 0;
  uint32_t Next(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | (at < size ? data[at++] : 0);
    return v;
  }
  bool More() const { return at < size; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  archivefuzz::Once();
  Reader in{data, size};
  bool encrypt = in.Next(1) & 1;
  int count = 1 + in.Next(1) % 4;
  std::vector<std::string> plain(count);
  for (int i = 0; i < count; ++i) {
    uint32_t length = in.Next(2) % 5000;
    uint32_t seed = in.Next(1) * 2654435761u + (uint32_t)i;
    plain[i].resize(length);
    for (auto& c : plain[i]) c = (char)((seed = seed * 1103515245u + 12345u) >> 24);
  }
  static const uint8_t salt[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  {
    tqArchiveWriter writer;
    if (!writer.Begin(archivefuzz::ScratchPath().c_str(), encrypt, 4, salt)) abort();
    for (int i = 0; i < count; ++i)
      if (!writer.Add(("E" + std::to_string(i)).c_str(), plain[i].data(), (uint32_t)plain[i].size()))
        abort();
    if (!writer.Finish()) abort();
  }
  tqArchive archive;
  if (!archive.Open(archivefuzz::ScratchPath().c_str())) abort();
  std::vector<tqBigFile*> files;
  for (int i = 0; i < count; ++i) {
    files.push_back(new tqBigFile(&archive));
    if (!files.back()->Open(("e" + std::to_string(i)).c_str(), TQFILE_READ)) abort();
  }
  std::vector<uint8_t> out(8192);
  while (in.More()) {
    int which = (int)(in.Next(1) % (uint32_t)count);
    uint32_t position = in.Next(2), want = in.Next(2) % 6000;
    const std::string& ref = plain[which];
    tqBigFile* file = files[which];
    uint32_t size = (uint32_t)ref.size();
    int sought = file->Seek(position);
    uint32_t at = size == 0 ? 0 : position < size ? position : size - 1;
    if (size && sought != (int)(position < size ? position : size)) abort();
    if ((uint32_t)file->GetPosition() != at) abort();
    int n = file->Read(out.data(), want);
    uint32_t expected = want == 0 ? 0 : (size - at < want ? size - at : want);
    if (n != (int)expected) abort();
    if (expected && memcmp(out.data(), ref.data() + at, expected) != 0) abort();
    if ((uint32_t)file->GetPosition() != at + expected) abort();
  }
  for (tqBigFile* f : files) delete f;
  return 0;
}
