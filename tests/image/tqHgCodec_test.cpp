// HG codec: the worked 2 x 2 block in both directions, the decoder against a
// plain step-by-step reference on random run streams, and hostile blocks.
#include <gtest/gtest.h>

#include "image/tqImageHg2.h"
#include "tests/image/tqHgReference.h"
#include "tests/image/tqImageTestUtil.h"
#include "tests/support/tqTestSupport.h"

using namespace imgtest;

namespace {

// Loads an HG-2 picture made of one block; the decoded rows, or empty.
Bytes DecodeHg2(uint32_t w, uint32_t h, int bpp, const Areas& areas, bool* ok = nullptr) {
  Hg2Record r;
  r.width = w;
  r.height = h;
  r.bits = (int16_t)(bpp * 8);
  r.areas = areas;
  Bytes file = Hg2Bytes(r);
  tqImageHg2 image;
  tqMemBlock block(file.data(), (uint32_t)file.size());
  int loaded = image.load(block, 0);
  if (ok) *ok = loaded != 0;
  return loaded ? Rows(image) : Bytes();
}

bool ReferenceDecode(int w, int h, int bpp, const std::vector<std::pair<uint32_t, uint32_t>>& slices,
                     const std::vector<Areas>& areas, Bytes& picture) {
  std::vector<Bytes> byteAreas, bitAreas;
  for (const Areas& a : areas) {
    byteAreas.push_back(a.byteArea);
    bitAreas.push_back(a.bitArea);
  }
  return imgtest::ReferenceDecode(w, h, bpp, slices, byteAreas, bitAreas, picture);
}

// A random but valid run stream of `expanded` bytes announcing `total`.
Areas RandomStream(Rng& rng, uint64_t expanded, uint64_t total, bool dense) {
  Areas a;
  Bits bits;
  std::vector<std::pair<bool, uint64_t>> runs;
  uint64_t left = expanded;
  bool copy = rng.next() & 1;
  while (left > 0) {
    uint64_t len = 1 + rng.next() % (dense ? 6 : 300);
    if (rng.next() % 16 == 0) len = 1 + rng.next() % 5000;
    if (len > left) len = left;
    runs.push_back({copy, len});
    left -= len;
    copy = !copy;
  }
  bits.bit(runs[0].first ? 1 : 0);
  bits.gamma(total);
  for (auto& r : runs) {
    bits.gamma(r.second);
    if (r.first)
      for (uint64_t i = 0; i < r.second; ++i) a.byteArea.push_back((uint8_t)(1 + rng.next() % 255));
  }
  a.bitArea = bits.bytes;
  return a;
}

TEST(HgCodec, WorkedBlockEncodesToTheKnownAreas) {
  Pixels p{2, 2, 4, {10, 20, 30, 255, 12, 20, 30, 255, 10, 20, 30, 255, 10, 20, 30, 255}};
  Areas a = EncodeAreas(p);
  EXPECT_EQ(a.byteArea, (Bytes{0x39, 0x39, 0x01, 0x40}));
  EXPECT_EQ(a.bitArea, (Bytes{0x00, 0x08, 0x00, 0x40, 0x80, 0x80, 0xFF, 0x0A, 0xF8, 0x09, 0xF8, 0x07}));
}

TEST(HgCodec, WorkedBlockDecodesToThePicture) {
  Areas a{{0x39, 0x39, 0x01, 0x40}, {0x00, 0x08, 0x00, 0x40, 0x80, 0x80, 0xFF, 0x0A, 0xF8, 0x09, 0xF8, 0x07}};
  EXPECT_EQ(DecodeHg2(2, 2, 4, a), (Bytes{10, 20, 30, 255, 12, 20, 30, 255, 10, 20, 30, 255, 10, 20, 30, 255}));
}

TEST(HgCodec, WorkedBlockRunsAreTheKnownOnes) {
  // Zero 256, copy 1, zero 255, copy 1, zero 2, copy 1, zero 252, copy 1, zero 255.
  Bits b;
  b.bit(0);
  b.gamma(1024);
  for (uint64_t run : {256, 1, 255, 1, 2, 1, 252, 1, 255}) b.gamma(run);
  EXPECT_EQ(b.bytes, (Bytes{0x00, 0x08, 0x00, 0x40, 0x80, 0x80, 0xFF, 0x0A, 0xF8, 0x09, 0xF8, 0x07}));
}

TEST(HgCodec, DecoderMatchesTheStepByStepReference) {
  Rng rng(7);
  struct Shape {
    int w, h, bpp;
  };
  // Odd widths with 3 bytes a pixel make the four codes of a plane byte
  // straddle rows.
  const Shape shapes[] = {{1, 1, 4}, {2, 2, 4}, {3, 5, 3}, {7, 3, 3}, {5, 4, 4}, {33, 17, 3},
                          {64, 9, 4}, {1, 40, 3}, {129, 3, 3}, {301, 7, 4}, {11, 13, 1}, {9, 6, 2}};
  for (const Shape& s : shapes) {
    for (int round = 0; round < 12; ++round) {
      uint64_t need = (uint64_t)s.w * s.h * s.bpp;
      uint64_t expanded = ((need + 3) & ~3ull) + 4 * (rng.next() % 4);
      if (round == 0) expanded = std::max<uint64_t>(1024, (need + 3) & ~3ull);
      Areas a = RandomStream(rng, expanded, expanded, round % 2 == 0);
      Bytes expected;
      ASSERT_TRUE(ReferenceDecode(s.w, s.h, s.bpp, {{0, (uint32_t)s.h}}, {a}, expected));
      bool ok = false;
      Bytes got = DecodeHg2((uint32_t)s.w, (uint32_t)s.h, s.bpp, a, &ok);
      ASSERT_TRUE(ok) << s.w << "x" << s.h << "x" << s.bpp << " round " << round;
      EXPECT_EQ(got, expected) << s.w << "x" << s.h << "x" << s.bpp << " round " << round;
    }
  }
}

TEST(HgCodec, RunsLongerThanTheAnnouncedTotalSetThePlaneLength) {
  // The last zero run overshoots the total: the planes are a quarter of what
  // the runs expanded, not of the total.
  Bits b;
  b.bit(1);
  b.gamma(16);
  b.gamma(6);
  b.gamma(14);  // expanded 20, announced 16
  Areas a{{9, 17, 33, 65, 129, 255}, b.bytes};
  Bytes expected;
  ASSERT_TRUE(ReferenceDecode(2, 2, 4, {{0, 2}}, {a}, expected));
  bool ok = false;
  EXPECT_EQ(DecodeHg2(2, 2, 4, a, &ok), expected);
  EXPECT_TRUE(ok);
}

TEST(HgCodec, DifferencesAtTheEndsOfTheCodeRange) {
  // -1, -128, 127 and 1 between neighbours, both directions of prediction.
  Pixels p{3, 2, 3, {0, 0, 0, 255, 128, 127, 126, 0, 255, 1, 128, 0, 0, 0, 0, 255, 1, 2}};
  Areas a = EncodeAreas(p);
  EXPECT_EQ(DecodeHg2(3, 2, 3, a), p.bytes);
}

TEST(HgCodec, EqualPixelsGiveOnlyAFewRuns) {
  Pixels p{64, 64, 4, Bytes(64 * 64 * 4, 0)};
  for (size_t i = 0; i < p.bytes.size(); i += 4) {
    p.bytes[i] = 200;
    p.bytes[i + 1] = 100;
    p.bytes[i + 2] = 50;
    p.bytes[i + 3] = 255;
  }
  Areas a = EncodeAreas(p);
  EXPECT_LE(a.byteArea.size(), 4u);
  EXPECT_LE(a.bitArea.size(), 16u);
  EXPECT_EQ(DecodeHg2(64, 64, 4, a), p.bytes);
}

// Hostile and broken blocks of a 2 x 2 picture with 4 bytes a pixel (16
// bytes needed, expanded area 4112 bytes).
struct HostileCase {
  const char* what;
  std::vector<int> bits;       // -1 marks a gamma value follows in values
  std::vector<uint64_t> values;
  Bytes byteArea;
  bool loads;
};

Areas Build(const HostileCase& c) {
  Bits b;
  size_t v = 0;
  for (int x : c.bits) {
    if (x < 0)
      b.gamma(c.values[v++]);
    else
      b.bit(x);
  }
  return Areas{c.byteArea, b.bytes};
}

TEST(HgCodec, HostileBlocksAreRejected) {
  const int G = -1;
  std::vector<int> prefix32(1, 0);
  prefix32.insert(prefix32.end(), 32, 0);
  prefix32.insert(prefix32.end(), 8, 1);
  const HostileCase cases[] = {
      {"control: one zero run of 16", {0, G, G}, {16, 16}, {}, true},
      {"control: copy 16", {1, G, G}, {16, 16}, Bytes(16, 7), true},
      {"gamma prefix of 32 zero bits", prefix32, {}, {}, false},
      {"total beyond the expanded area", {0, G, G}, {4113, 4113}, {}, false},
      {"zero run beyond the expanded area", {0, G, G}, {16, 4113}, {}, false},
      {"copy run past the byte area", {1, G, G}, {16, 16}, Bytes(15, 7), false},
      {"bit area ends inside the runs", {0, G, G}, {64, 16}, {}, false},
      {"fewer expanded bytes than the rows", {0, G, G}, {8, 8}, {}, false},
      {"expanded length not a multiple of 4", {0, G, G}, {18, 18}, {}, false},
  };
  for (const HostileCase& c : cases) {
    bool ok = true;
    DecodeHg2(2, 2, 4, Build(c), &ok);
    EXPECT_EQ(ok, c.loads) << c.what;
  }
}

TEST(HgCodec, ByteAreasBesideTheUsualLayoutDecodeAsTheReference) {
  // The byte area is inflated into the free end of the expanded area (4112
  // bytes here) and copied forward from there; these streams do what no
  // encoder does and must still decode as the plain steps do.
  const int G = -1;
  Rng rng(11);
  auto nonZero = [&](size_t n) {
    Bytes b(n);
    for (auto& x : b) x = (uint8_t)(1 + rng.next() % 255);
    return b;
  };
  const HostileCase cases[] = {
      {"byte area as long as the expanded area, mostly unused", {0, G, G, G, G}, {4112, 100, 16, 3996},
       nonZero(4112), true},
      {"zero runs reach bytes not yet copied", {0, G, G, G, G}, {4112, 200, 16, 3896}, nonZero(4000), true},
      {"zero runs and copies alternate up to the last byte", {1, G, G, G, G, G, G, G},
       {4112, 3, 61, 4000, 44, 1, 3}, nonZero(4004), true},
  };
  for (const HostileCase& c : cases) {
    Areas a = Build(c);
    Bytes expected;
    ASSERT_TRUE(ReferenceDecode(2, 2, 4, {{0, 2}}, {a}, expected)) << c.what;
    bool ok = false;
    Bytes got = DecodeHg2(2, 2, 4, a, &ok);
    EXPECT_EQ(ok, c.loads) << c.what;
    EXPECT_EQ(got, expected) << c.what;
  }
}

TEST(HgCodec, WholeAndStreamingInflateAgreeOnBrokenStreams) {
  Rng rng(9);
  Bytes raw(20000);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = (uint8_t)(i % 7 == 0 ? rng.next() : i / 300);
  const Bytes z = Deflate(raw);
  struct Variant {
    const char* what;
    Bytes stream;
  };
  std::vector<Variant> variants = {{"whole", z},
                                   {"cut in half", Bytes(z.begin(), z.begin() + z.size() / 2)},
                                   {"last byte missing", Bytes(z.begin(), z.end() - 1)},
                                   {"checksum missing", Bytes(z.begin(), z.end() - 4)},
                                   {"checksum wrong", z},
                                   {"byte flipped inside", z},
                                   {"trailing bytes", z},
                                   {"stored blocks", Deflate(raw, 0)},
                                   {"bad header", z},
                                   // A damaged code table that zlib refuses after 29 bytes and
                                   // a lenient inflater would take to the end (found by fuzzing).
                                   {"damaged code table", {0x78, 0x5E, 0x2B, 0x29, 0x66, 0x00, 0x82, 0x1B, 0x0C,
                                                           0x2B, 0x30, 0xF0, 0x1F, 0xCE, 0x82, 0x31, 0x4E, 0xC0,
                                                           0x18, 0x0C, 0x0C, 0x00, 0xBC, 0xD0, 0x07}}};
  variants[4].stream.back() ^= 1;
  variants[5].stream[z.size() / 3] ^= 0x5A;
  variants[6].stream.insert(variants[6].stream.end(), 40, 0xEE);
  variants[8].stream[0] = 0x79;
  for (const Variant& v : variants) {
    for (uint32_t capacity : {(uint32_t)raw.size() - 1, (uint32_t)raw.size(), (uint32_t)raw.size() + 16}) {
      Bytes fast(capacity, 0xAA), slow(capacity, 0x55);
      int64_t a = tqHgInflate(v.stream.data(), (uint32_t)v.stream.size(), fast.data(), capacity);
      int64_t b = tqHgInflateStreaming(v.stream.data(), (uint32_t)v.stream.size(), slow.data(), capacity);
      EXPECT_EQ(a, b) << v.what << " capacity " << capacity;
      EXPECT_EQ(fast, slow) << v.what << " capacity " << capacity;
    }
  }
}

TEST(HgCodec, AreaLengthMismatchesAreReportedInOrder) {
  Pixels p = SamplePixels(4, 4, 4, 3, false);
  Areas a = EncodeAreas(p);
  Hg2Record r;
  r.width = r.height = 4;
  r.areas = a;
  Bytes file = Hg2Bytes(r);
  // Raw length of the byte area (offset 36), then of the bit area (44).
  for (int field : {36, 44}) {
    Bytes broken = file;
    broken[field] += 1;
    tqtest::Diagnostics().Clear();
    tqImageHg2 image;
    tqMemBlock block(broken.data(), (uint32_t)broken.size());
    EXPECT_EQ(image.load(block, 0), 0);
    ASSERT_EQ(tqtest::Diagnostics().lines.size(), 1u);
    EXPECT_EQ(tqtest::Diagnostics().lines[0],
              field == 36 ? "tqImageHg2 : バイト領域のサイズが異常です" : "tqImageHg2 : ビット領域のサイズが異常です");
  }
}

TEST(HgCodec, InflateCutsAtTheCapacityAndZeroFills) {
  Rng rng(5);
  Bytes raw(1000);
  for (auto& b : raw) b = (uint8_t)rng.next();
  Bytes z = Deflate(raw);
  Bytes out(1016, 0xAA);
  EXPECT_EQ(tqHgInflate(z.data(), (uint32_t)z.size(), out.data(), 600), 600);
  EXPECT_EQ(tqHgInflate(z.data(), (uint32_t)z.size(), out.data(), 1016), 1000);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 1000), raw);
  EXPECT_EQ(Bytes(out.begin() + 1000, out.end()), Bytes(16, 0));
  // A stream cut short delivers what it had; the rest is zero.
  out.assign(1016, 0xAA);
  int64_t n = tqHgInflate(z.data(), (uint32_t)z.size() / 2, out.data(), 1016);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, 1000);
  EXPECT_EQ(Bytes(out.begin() + n, out.end()), Bytes(1016 - n, 0));
}

}  // namespace
