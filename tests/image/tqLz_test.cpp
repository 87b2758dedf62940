// TQLZ: the fast compressor against the plain one, round trips over many
// lengths and kinds of data in every mode, and broken streams.
#include <gtest/gtest.h>

#include "image/tqImageBytes.h"
#include "image/tqImageTqf.h"
#include "image/tqLz.h"
#include "tests/image/tqImageTestUtil.h"
#include "tests/image/tqLzReference.h"
#include "tests/support/tqTestSupport.h"

using namespace imgtest;

namespace {

enum Kind { kRandom, kFewValues, kOneByte, kPeriodic, kPicture, kRunsAndNoise };
const char* const kKindNames[] = {"random", "few values", "one byte", "periodic", "picture", "runs and noise"};

Bytes Data(Kind kind, size_t length, uint64_t seed) {
  Bytes b(length);
  Rng rng(seed);
  switch (kind) {
    case kRandom:
      for (auto& x : b) x = (uint8_t)rng.next();
      break;
    case kFewValues:
      for (auto& x : b) x = (uint8_t)(rng.next() % 3);
      break;
    case kOneByte:
      std::fill(b.begin(), b.end(), (uint8_t)0xA5);
      break;
    case kPeriodic:  // a period longer than some windows and shorter than others
      for (size_t i = 0; i < length; ++i) b[i] = (uint8_t)((i % 1500) * 7 + (i % 1500) / 256);
      break;
    case kPicture: {  // rows of a 4-byte picture, 640 pixels wide
      const int w = 640;
      for (size_t i = 0; i < length; ++i) {
        size_t px = i / 4, x = px % w, y = px / w;
        int c = (int)(i % 4);
        b[i] = c == 3 ? 255 : (uint8_t)(x * (c + 1) / 3 + y * (3 - c) / 2 + (rng.next() % 5));
      }
      break;
    }
    case kRunsAndNoise:  // runs of one byte of every length, noise between
      for (size_t i = 0; i < length;) {
        size_t run = rng.next() % 300, noise = rng.next() % 20;
        uint8_t v = (uint8_t)rng.next();
        for (size_t k = 0; k < run && i < length; ++k) b[i++] = v;
        for (size_t k = 0; k < noise && i < length; ++k) b[i++] = (uint8_t)rng.next();
      }
      break;
  }
  return b;
}

// Compressed once into room for the longest stream (all literals); the
// length asked for without an output must agree.
Bytes Compressed(const Bytes& input, int mode, bool checkSizing = true) {
  Bytes out(28 + input.size() / 8 + 1 + input.size() + 1);
  uint32_t n = tqLzCompress(input.data(), (uint32_t)input.size(), out.data(), mode);
  if (n == 0 || n > out.size()) return {};
  if (checkSizing && tqLzCompress(input.data(), (uint32_t)input.size(), nullptr, mode) != n) return {};
  out.resize(n);
  return out;
}

bool RoundTrips(const Bytes& input, int mode, const Bytes& stream) {
  if (tqLzDecompress(stream.data(), (uint32_t)stream.size(), nullptr) != input.size()) return false;
  Bytes back(input.size() + 1, 0x5A);  // one byte more: nothing may be written past the raw length
  uint32_t n = tqLzDecompress(stream.data(), (uint32_t)stream.size(), back.data());
  return n == input.size() && back.back() == 0x5A && std::equal(input.begin(), input.end(), back.begin()) &&
         tqByteView{stream.data(), stream.size()}.u32(4) == (uint32_t)mode;
}

}  // namespace

TEST(Tqlz, SameStreamAsThePlainCompressor) {
  for (int kind = kRandom; kind <= kRunsAndNoise; ++kind)
    for (size_t length : {0, 1, 2, 3, 4, 5, 11, 130, 131, 4095, 4096, 20000})
      for (int mode = 0; mode < 5; ++mode) {
        Bytes input = Data((Kind)kind, length, length + 17 * mode);
        Bytes stream = Compressed(input, mode);
        ASSERT_EQ(stream, lzref::Compress(input.data(), (uint32_t)input.size(), mode))
            << kKindNames[kind] << ", " << length << " bytes, mode " << mode;
        ASSERT_TRUE(RoundTrips(input, mode, stream)) << kKindNames[kind] << ", " << length << " bytes, mode " << mode;
      }
}

TEST(Tqlz, RoundTripsLongInputs) {
  for (Kind kind : {kRandom, kOneByte, kPicture})
    for (size_t length : {65537, 10 * 1024 * 1024})
      for (int mode = 0; mode < 5; ++mode) {
        Bytes input = Data(kind, length, 99 + mode);
        Bytes stream = Compressed(input, mode, length < 100000);
        ASSERT_FALSE(stream.empty());
        ASSERT_TRUE(RoundTrips(input, mode, stream)) << kKindNames[kind] << ", " << length << " bytes, mode " << mode;
        if (kind == kOneByte) {
          EXPECT_LT(stream.size(), length / 4) << "mode " << mode;
        } else if (kind == kRandom) {
          EXPECT_LE(stream.size(), length + length / 8 + 30) << "mode " << mode;
        }
      }
}

TEST(Tqlz, CountsOfFlagAndDataBytes) {
  // 8 tokens fill one flag byte; the byte in use after them still counts, as
  // does the data byte the decoder never reads.
  struct Case {
    Bytes input;
    uint32_t flagBytes, dataBytes;
  } cases[] = {
      {{}, 1, 1},
      {{1, 2, 3, 4, 5, 6, 7}, 1, 8},
      {{1, 2, 3, 4, 5, 6, 7, 8}, 2, 9},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 2, 10},
      {{7, 7, 7, 7, 7}, 1, 4},  // a literal and a match of 4 at distance 1
  };
  for (const Case& c : cases) {
    Bytes stream = Compressed(c.input, 0);
    ASSERT_GE(stream.size(), 28u);
    tqByteView v{stream.data(), stream.size()};
    EXPECT_EQ(v.u32(12), c.flagBytes) << c.input.size();
    EXPECT_EQ(v.u32(16), c.dataBytes) << c.input.size();
    EXPECT_EQ(v.u32(20), 28u);
    EXPECT_EQ(v.u32(24), 28u + c.flagBytes);
    EXPECT_EQ(stream.size(), 28u + c.flagBytes + c.dataBytes);
  }
}

TEST(Tqlz, BrokenStreamsAreRefused) {
  Bytes input = Data(kRunsAndNoise, 3000, 5);
  Bytes good = Compressed(input, 2);
  auto with32 = [&](size_t at, uint32_t value) {
    Bytes b = good;
    tqPut32(b.data() + at, value);
    return b;
  };
  // A literal, then a match of distance 2 (too far back), in mode 1.
  Bytes early = {'T', 'Q', 'L', 'Z', 1, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 28, 0, 0, 0, 29, 0, 0, 0,
                 0x02, 0x09, 0x10, 0x00};
  Bytes distanceOne = early;
  distanceOne[30] = 0x05;  // distance 1 is fine; the count of 8 is cut at the raw length
  struct Case {
    const char* what;
    Bytes stream;
  } cases[] = {
      {"signature", [&] { Bytes b = good; b[3] = 'Y'; return b; }()},
      {"mode 5", with32(4, 5)},
      {"raw length beyond what the tokens can make", with32(8, 1000000)},
      {"raw length beyond the tokens there are", with32(8, (uint32_t)input.size() + 200)},
      {"flag count past the end", with32(12, (uint32_t)good.size())},
      {"data count past the end", with32(16, (uint32_t)good.size())},
      {"flag offset past the end", with32(20, 0xFFFFFFF0u)},
      {"data offset past the end", with32(24, (uint32_t)good.size() - 1)},
      {"data bytes cut short", with32(16, 10)},
      {"match before the start of the output", early},
  };
  for (const Case& c : cases) {
    Bytes out(input.size() + 1000);
    EXPECT_EQ(tqLzDecompress(c.stream.data(), (uint32_t)c.stream.size(), out.data()), 0u) << c.what;
  }
  for (uint32_t cut = 0; cut < good.size(); cut += 11) {
    Bytes out(input.size());
    EXPECT_EQ(tqLzDecompress(good.data(), cut, out.data()), 0u) << "cut at " << cut;
  }
  Bytes out(4);
  EXPECT_EQ(tqLzDecompress(distanceOne.data(), (uint32_t)distanceOne.size(), out.data()), 4u);
  EXPECT_EQ(out, (Bytes{9, 9, 9, 9}));
}

TEST(Tqlz, ProgressReachesTheTotal) {
  Bytes input = Data(kPicture, 300000, 8);
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  auto record = [](uint32_t done, uint32_t total, void* user) {
    static_cast<std::vector<std::pair<uint32_t, uint32_t>>*>(user)->push_back({done, total});
  };
  uint32_t n = tqLzCompress(input.data(), (uint32_t)input.size(), nullptr, 3, record, &calls);
  ASSERT_GT(n, 0u);
  Bytes stream(n);
  tqLzCompress(input.data(), (uint32_t)input.size(), stream.data(), 3);
  ASSERT_GE(calls.size(), 2u);
  for (size_t i = 1; i < calls.size(); ++i) EXPECT_LE(calls[i - 1].first, calls[i].first);
  EXPECT_EQ(calls.back(), std::make_pair((uint32_t)input.size(), (uint32_t)input.size()));
  calls.clear();
  Bytes back(input.size());
  ASSERT_EQ(tqLzDecompress(stream.data(), n, back.data(), record, &calls), input.size());
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.back(), std::make_pair((uint32_t)input.size(), (uint32_t)input.size()));
}

TEST(Tqf, SaveKeepsTheShortestModeAndTheLowestOnTies) {
  struct Case {
    const char* what;
    int width, height;
    uint8_t (*pixel)(int x, int y, int c);
    int mode;
  } cases[] = {
      // Nothing repeats within a 3-byte picture: every mode gives the same length.
      {"one pixel", 1, 1, [](int, int, int c) { return (uint8_t)(c + 1); }, 0},
      // One colour: the longest matches of mode 4 win.
      {"one colour", 64, 64, [](int, int, int c) { return (uint8_t)(40 + c); }, 4},
  };
  for (const Case& c : cases) {
    tqImageTqf image;
    ASSERT_EQ(image.create(c.width, c.height, 3), 1);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        for (int k = 0; k < 3; ++k) image.pixels()[(size_t)y * image.pitch() + x * 3 + k] = c.pixel(x, y, k);
    tqMemBlock out;
    ASSERT_EQ(image.save(out, 0, 0, 0, 0), 1) << c.what;
    tqByteView v{out.data, out.size};
    EXPECT_EQ(v.u32(12 + 4), (uint32_t)c.mode) << c.what;
    uint32_t shortest = 0xFFFFFFFFu;
    for (int mode = 0; mode < 5; ++mode)
      shortest = std::min(shortest, tqLzCompress(image.pixels(), image.bufferSize(), nullptr, mode));
    EXPECT_EQ(out.size, 12 + shortest) << c.what;
  }
}

TEST(Tqf, SaveWithoutWorkingMemoryFailsAndLeavesNoFile) {
  tqImageTqf image;
  Fill(image, SamplePixels(64, 64, 4, 3, false));
  tqMemBlock out;
  // Room for the picture-sized buffers, none for the coder's chains.
  const size_t previous = PrivateAllocLimit(64 * 64 * 4 + 8192);
  const int saved = image.save(out, 0, 0, 0, 0);
  PrivateAllocLimit(previous);
  EXPECT_EQ(saved, 0);
  EXPECT_EQ(out.data, nullptr);
  EXPECT_EQ(out.size, 0u);
  const std::vector<std::string>& lines = tqtest::Diagnostics().lines;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "イメージの保存に失敗しました");
  // With the memory back, the same picture saves.
  tqtest::Diagnostics().lines.clear();
  EXPECT_EQ(image.save(out, 0, 0, 0, 0), 1);
  // And the coder alone reports the missing memory as a length of 0.
  PrivateAllocLimit(1024);
  const uint32_t length = tqLzCompress(image.pixels(), image.bufferSize(), nullptr, 0);
  PrivateAllocLimit(previous);
  EXPECT_EQ(length, 0u);
}
