// Builders shared by the image tests: zlib areas, bit streams, HG-2 and
// HG-3 files written by a test-only writer, and sample pictures.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image/tqHgCodec.h"
#include "image/tqImage.h"

namespace imgtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Deflate(const Bytes& raw, int level = 9) {
  uLongf length = compressBound((uLong)raw.size());
  Bytes out(length);
  compress2(out.data(), &length, raw.data(), (uLong)raw.size(), level);
  out.resize(length);
  return out;
}

inline Bytes Inflate(const uint8_t* data, size_t length, size_t raw) {
  Bytes out(raw + 64);
  uLongf n = (uLongf)out.size();
  if (uncompress(out.data(), &n, data, (uLong)length) != Z_OK) return {};
  out.resize(n);
  return out;
}

inline void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((uint8_t)(v >> (8 * i)));
}
inline void Put16(Bytes& b, uint16_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// A bit area written first bit lowest, with gamma codes.
struct Bits {
  Bytes bytes;
  int used = 8;
  void bit(int b) {
    if (used == 8) {
      bytes.push_back(0);
      used = 0;
    }
    if (b) bytes.back() |= (uint8_t)(1 << used);
    ++used;
  }
  void gamma(uint64_t v) {
    int z = 0;
    while ((v >> (z + 1)) != 0) ++z;
    for (int i = 0; i < z; ++i) bit(0);
    bit(1);
    for (int i = z - 1; i >= 0; --i) bit((int)((v >> i) & 1));
  }
};

// The two raw areas of a block.
struct Areas {
  Bytes byteArea, bitArea;
};

// HG-2 record (version 16, 32 or 37) around raw areas, compressed here.
struct Hg2Record {
  uint32_t width = 1, height = 1;
  int16_t bits = 32, depth = 0;
  int16_t version = 37;
  int32_t id = 0, canvasW = 0, canvasH = 0, x = 0, y = 0, uv1 = 0, uv2 = 0;
  uint32_t flag = 0;
  Areas areas;
};

inline Bytes Hg2Bytes(const Hg2Record& r, uint32_t next = 0) {
  Bytes byteZ = Deflate(r.areas.byteArea), bitZ = Deflate(r.areas.bitArea);
  Bytes b = {'H', 'G', '-', '2'};
  Put32(b, 12);
  Put32(b, (uint32_t)r.version);
  Put32(b, r.width);
  Put32(b, r.height);
  Put16(b, (uint16_t)r.bits);
  Put16(b, (uint16_t)r.depth);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, (uint32_t)byteZ.size());
  Put32(b, (uint32_t)r.areas.byteArea.size());
  Put32(b, (uint32_t)bitZ.size());
  Put32(b, (uint32_t)r.areas.bitArea.size());
  if (r.version != 16) {
    Put32(b, r.version == 37 ? 40 : 32);
    Put32(b, (uint32_t)r.id);
    Put32(b, (uint32_t)r.canvasW);
    Put32(b, (uint32_t)r.canvasH);
    Put32(b, (uint32_t)r.x);
    Put32(b, (uint32_t)r.y);
    Put32(b, r.flag);
    Put32(b, next);
    if (r.version == 37) {
      Put32(b, (uint32_t)r.uv1);
      Put32(b, (uint32_t)r.uv2);
    }
  }
  Append(b, byteZ);
  Append(b, bitZ);
  return b;
}

// Several records chained by their next-distances.
inline Bytes Hg2Chain(const std::vector<Hg2Record>& records) {
  Bytes out;
  for (size_t i = 0; i < records.size(); ++i) {
    Bytes one = Hg2Bytes(records[i]);
    if (i + 1 < records.size()) one = Hg2Bytes(records[i], (uint32_t)one.size());
    Append(out, one);
  }
  return out;
}

// Test-only HG-3 writer: pictures of named tags.
struct Hg3Tag {
  std::string name;
  Bytes data;
};
struct Hg3Picture {
  int32_t id = 0;
  std::vector<Hg3Tag> tags;
};

inline Bytes Hg3Bytes(const std::vector<Hg3Picture>& pictures) {
  Bytes b = {'H', 'G', '-', '3'};
  Put32(b, 12);
  Put32(b, 0x300);
  for (size_t p = 0; p < pictures.size(); ++p) {
    Bytes entry;
    Put32(entry, 0);  // next, patched below
    Put32(entry, (uint32_t)pictures[p].id);
    const auto& tags = pictures[p].tags;
    for (size_t t = 0; t < tags.size(); ++t) {
      Bytes tag(8, 0);
      memcpy(tag.data(), tags[t].name.data(), tags[t].name.size() < 8 ? tags[t].name.size() : 8);
      uint32_t length = (uint32_t)tags[t].data.size();
      Put32(tag, t + 1 < tags.size() ? 16 + length : 0);
      Put32(tag, length);
      Append(tag, tags[t].data);
      Append(entry, tag);
    }
    if (p + 1 < pictures.size()) {
      uint32_t next = (uint32_t)entry.size();
      memcpy(entry.data(), &next, 4);
    }
    Append(b, entry);
  }
  return b;
}

inline Bytes StdInfo(uint32_t w, uint32_t h, int bits, int32_t x = 0, int32_t y = 0, uint32_t cw = 0,
                     uint32_t ch = 0, uint32_t transparent = 0, int32_t uv1 = 0, int32_t uv2 = 0) {
  Bytes b;
  Put32(b, w);
  Put32(b, h);
  Put16(b, (uint16_t)bits);
  Put16(b, 0);
  Put32(b, (uint32_t)x);
  Put32(b, (uint32_t)y);
  Put32(b, cw);
  Put32(b, ch);
  Put32(b, transparent);
  Put32(b, (uint32_t)uv1);
  Put32(b, (uint32_t)uv2);
  return b;
}

// A slice tag's data from raw areas.
inline Bytes SliceData(uint32_t firstRow, uint32_t rows, const Areas& areas) {
  Bytes byteZ = Deflate(areas.byteArea), bitZ = Deflate(areas.bitArea);
  Bytes b;
  Put32(b, firstRow);
  Put32(b, rows);
  Put32(b, (uint32_t)byteZ.size());
  Put32(b, (uint32_t)areas.byteArea.size());
  Put32(b, (uint32_t)bitZ.size());
  Put32(b, (uint32_t)areas.bitArea.size());
  Append(b, byteZ);
  Append(b, bitZ);
  return b;
}

// Deterministic pseudo-random bytes.
struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return (uint32_t)s;
  }
};

// Picture rows of width x bpp bytes (top row first) as a plain array.
struct Pixels {
  int width = 0, height = 0, bpp = 0;
  Bytes bytes;
  uint8_t* at(int x, int y) { return &bytes[((size_t)y * width + x) * bpp]; }
};

// Smooth gradients with noise; transparent: alpha varies (some 0, some 255).
inline Pixels SamplePixels(int w, int h, int bpp, uint64_t seed, bool transparent) {
  Pixels p{w, h, bpp, Bytes((size_t)w * h * bpp)};
  Rng rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = p.at(x, y);
      for (int c = 0; c < 3; ++c) px[c] = (uint8_t)(x * (c + 1) + y * (3 - c) + (rng.next() % 7));
      if (bpp == 4) px[3] = transparent ? (uint8_t)((rng.next() % 3 == 0) ? 0 : (rng.next() % 4 == 0 ? 128 : 255)) : 255;
    }
  return p;
}

// Fills an image made with create() from the rows.
inline void Fill(tqImage& image, const Pixels& p) {
  image.create(p.width, p.height, p.bpp);
  for (int y = 0; y < p.height; ++y)
    memcpy(image.pixels() + (size_t)y * image.pitch(), &p.bytes[(size_t)y * p.width * p.bpp], (size_t)p.width * p.bpp);
}

// The image's rows without padding.
inline Bytes Rows(const tqImage& image) {
  Bytes out;
  int w = 0, h = 0;
  image.size(&w, &h);
  size_t rowBytes = (size_t)w * image.bytesPerPixel();
  for (int y = 0; y < h; ++y) {
    const uint8_t* r = image.pixels() + (size_t)y * image.pitch();
    out.insert(out.end(), r, r + rowBytes);
  }
  return out;
}

// Encodes rows with the library's encoder and returns the raw areas.
inline Areas EncodeAreas(const Pixels& p) {
  tqImage image;
  Fill(image, p);
  Bytes out(2 * p.bytes.size() + 200000);
  tqHgEncoded e;
  int64_t n = tqHgEncode(image, out.data(), (uint32_t)out.size(), &e);
  Areas a;
  if (n < 0) return a;
  a.byteArea = Inflate(out.data(), e.byteAreaLength, e.byteAreaRaw);
  a.bitArea = Inflate(out.data() + e.byteAreaLength, e.bitAreaLength, e.bitAreaRaw);
  return a;
}

}  // namespace imgtest
