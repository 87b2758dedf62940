// The HG decoder against the plain step-by-step reference: HG-3 pictures of
// one to three slices whose run streams come from the input (as run lengths,
// or as raw bit areas), decoded both ways, must agree on success and pixels.
// Then the whole-buffer inflater against zlib streaming on compressed bytes
// the input damages: the same count and the same bytes.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/image_fuzz.h"
#include "image/tqImageHg3.h"
#include "tests/image/tqHgReference.h"
#include "tests/image/tqImageTestUtil.h"

namespace {

using imgtest::Bytes;

// A run stream from the input: each byte is one run (lengths 1 to 64, or a
// multiple of 64 up to 4096 when its top bit is set), alternating kinds; the
// announced total is the sum, nudged by delta.
imgtest::Areas RunStream(const uint8_t* data, size_t size, bool firstCopy, int delta, uint8_t fill) {
  imgtest::Areas a;
  imgtest::Bits bits;
  std::vector<uint64_t> runs;
  uint64_t sum = 0;
  for (size_t i = 0; i < size; ++i) {
    uint64_t run = (data[i] & 0x80) ? 64 * (uint64_t)(1 + (data[i] & 0x3F)) : 1 + (data[i] & 0x3F);
    runs.push_back(run);
    sum += run;
  }
  if (runs.empty()) runs.push_back(sum = 4);
  int64_t total = (int64_t)sum + delta;
  bits.bit(firstCopy ? 1 : 0);
  bits.gamma(total > 0 ? (uint64_t)total : 1);
  bool copy = firstCopy;
  uint8_t value = fill;
  for (uint64_t run : runs) {
    bits.gamma(run);
    if (copy)
      for (uint64_t i = 0; i < run; ++i) {
        value = (uint8_t)(value * 37 + 11);
        a.byteArea.push_back(value ? value : 1);
      }
    copy = !copy;
  }
  a.bitArea = bits.bytes;
  return a;
}

void DecodeBoth(const uint8_t* data, size_t size) {
  const int w = 1 + data[0] % 40, h = 1 + data[1] % 12, bpp = (data[2] & 1) ? 4 : 3;
  const int sliceCount = 1 + (data[2] >> 1) % 3 > h ? h : 1 + (data[2] >> 1) % 3;
  const bool raw = data[3] & 1;
  data += 4;
  size -= 4;
  const uint64_t area = (uint64_t)w * h * bpp + 4096;
  imgtest::Hg3Picture pic;
  pic.tags.push_back({"stdinfo", imgtest::StdInfo((uint32_t)w, (uint32_t)h, bpp * 8)});
  std::vector<std::pair<uint32_t, uint32_t>> slices;
  std::vector<Bytes> byteAreas, bitAreas;
  const size_t part = size / (size_t)sliceCount;
  uint32_t firstRow = 0;
  for (int s = 0; s < sliceCount; ++s) {
    const uint8_t* p = data + s * part;
    const uint32_t rows = s + 1 == sliceCount ? (uint32_t)h - firstRow : (uint32_t)(h / sliceCount);
    imgtest::Areas a;
    if (raw || part < 2) {
      a.bitArea.assign(p, p + part / 2);
      a.byteArea.assign(p + part / 2, p + part);
    } else {
      a = RunStream(p + 2, part - 2, p[0] & 1, (int)(p[0] >> 1) % 9 - 4, p[1]);
    }
    // The container turns away areas longer than the expanded area.
    if (a.byteArea.size() > area || a.bitArea.size() > area + 64) return;
    char name[16];
    snprintf(name, sizeof name, "img%04d", s);
    pic.tags.push_back({name, imgtest::SliceData(firstRow, rows, a)});
    slices.push_back({firstRow, rows});
    byteAreas.push_back(a.byteArea);
    bitAreas.push_back(a.bitArea);
    firstRow += rows;
  }
  Bytes expected;
  const bool referenceOk = imgtest::ReferenceDecode(w, h, bpp, slices, byteAreas, bitAreas, expected);
  Bytes file = imgtest::Hg3Bytes({pic});
  tqImageHg3 image;
  tqMemBlock block(file.data(), (uint32_t)file.size());
  const bool ok = image.load(block, 0) != 0;
  if (ok != referenceOk) abort();
  if (ok && imgtest::Rows(image) != expected) abort();
}

void InflateBoth(const uint8_t* data, size_t size) {
  const uint8_t mode = data[0], cut = data[1], flip = data[2];
  const uint32_t extra = data[3] % 40;
  Bytes raw(data + 4, data + size);
  Bytes stream;
  if (mode & 1) {
    stream = raw;  // the input is the stream
  } else {
    stream = imgtest::Deflate(raw, (mode >> 1) % 10);
    if (cut && !stream.empty()) stream.resize(stream.size() - cut % stream.size());
    if (flip && stream.size() > 2) stream[2 + (size_t)flip * 7 % (stream.size() - 2)] ^= (uint8_t)(mode | 1);
  }
  if (stream.empty()) return;
  const uint32_t capacity = (mode & 0x80) ? (uint32_t)raw.size() + extra : extra * 64 + 1;
  Bytes fast(capacity, 0xAA), slow(capacity, 0x55);
  int64_t a = tqHgInflate(stream.data(), (uint32_t)stream.size(), fast.data(), capacity);
  int64_t b = tqHgInflateStreaming(stream.data(), (uint32_t)stream.size(), slow.data(), capacity);
  if (a != b || fast != slow) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  if (size < 6) return 0;
  InflateBoth(data, size);
  DecodeBoth(data, size);
  return 0;
}
