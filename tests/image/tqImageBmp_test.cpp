// BMP files: where the rows start, top-down files, and files that lie about
// their size.
#include <gtest/gtest.h>

#include "image/tqImageBmp.h"
#include "image/tqImageHolder.h"
#include "tests/image/tqImageTestUtil.h"
#include "tests/support/tqTestSupport.h"

using namespace imgtest;

namespace {

struct BmpFile {
  uint32_t headerSize = 40;
  int32_t width = 1, height = 1;
  uint16_t bits = 32;
  uint32_t pixelOffset = 54;
  Bytes gap;   // between the info header and the rows
  Bytes rows;  // as stored
  uint32_t compression = 0;
  Bytes bytes() const {
    Bytes b = {'B', 'M'};
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, pixelOffset);
    Put32(b, headerSize);
    if (headerSize == 12) {
      Put16(b, (uint16_t)width);
      Put16(b, (uint16_t)height);
      Put16(b, 1);
      Put16(b, bits);
    } else {
      Put32(b, (uint32_t)width);
      Put32(b, (uint32_t)height);
      Put16(b, 1);
      Put16(b, bits);
      Put32(b, compression);
      b.resize(14 + headerSize, 0);
    }
    Append(b, gap);
    Append(b, rows);
    return b;
  }
};

int Load(tqImageBmp& image, const Bytes& file) {
  tqMemBlock block(file.data(), (uint32_t)file.size());
  return image.load(block, 0);
}

}  // namespace

TEST(Bmp, RowsStartWhereTheFileHeaderSays) {
  const Bytes twoRows = {1, 2, 3, 4, 5, 6, 7, 8};  // 1 x 2, 32 bits
  struct Case {
    const char* what;
    BmpFile file;
    Bytes expected;  // memory rows, first row first
  } cases[] = {
      {"offset 54", {40, 1, 2, 32, 54, {}, twoRows}, twoRows},
      {"offset 66 after three colour masks", {40, 1, 2, 32, 66, Bytes(12, 0xFF), twoRows}, twoRows},
      {"core header, rows right after it", {12, 1, 2, 32, 26, {}, twoRows}, twoRows},
      {"core header, offset 54", {12, 1, 2, 32, 54, Bytes(28, 0xEE), twoRows}, twoRows},
      {"offset zero taken as 54", {40, 1, 2, 32, 0, {}, twoRows}, twoRows},
      {"offset inside the headers taken as 54", {40, 1, 2, 32, 20, {}, twoRows}, twoRows},
      // A top-down file is turned over: the bottom row comes first, as in
      // every other loaded bitmap.
      {"top-down", {40, 1, -2, 32, 54, {}, twoRows}, {5, 6, 7, 8, 1, 2, 3, 4}},
      {"top-down, 24 bits, padded rows",
       {40, 1, -2, 24, 54, {}, {1, 2, 3, 0xEE, 4, 5, 6, 0xEE}},
       {4, 5, 6, 255, 1, 2, 3, 255}},
  };
  for (const Case& c : cases) {
    tqImageBmp image;
    ASSERT_EQ(Load(image, c.file.bytes()), 1) << c.what;
    EXPECT_EQ(image.width(), 1) << c.what;
    EXPECT_EQ(image.height(), 2) << c.what;
    EXPECT_EQ(Rows(image), c.expected) << c.what;
    EXPECT_EQ(tqtest::Diagnostics().lines.size(), 0u) << c.what;
  }
}

TEST(Bmp, FilesThatDoNotHoldTheirPicturesAreRefused) {
  const Bytes row = {1, 2, 3, 4};
  struct Case {
    const char* what;
    BmpFile file;
    bool message;  // "the image type is wrong"
  } cases[] = {
      {"rows past the end", {40, 2, 2, 32, 54, {}, row}, false},
      {"offset past the end", {40, 1, 1, 32, 4000, {}, row}, false},
      {"offset near 4 GiB", {40, 1, 1, 32, 0xFFFFFFF0u, {}, row}, false},
      {"width of 2^31 - 1", {40, 0x7FFFFFFF, 1, 32, 54, {}, row}, false},
      {"height of -2^31", {40, 1, INT32_MIN, 32, 54, {}, row}, false},
      {"rows of 4 GiB", {40, 0x10000, 0x10000, 32, 54, {}, row}, false},
      {"negative width", {40, -1, 1, 32, 54, {}, row}, false},
      {"zero height", {40, 1, 0, 32, 54, {}, row}, false},
      {"16 bits, rows past the end", {40, 1, 2, 16, 54, {}, row}, false},
      {"8 bits without room for the palette", {40, 1, 1, 8, 54, {}, row}, false},
      {"12 bits", {40, 1, 1, 12, 54, {}, row}, false},
      {"header of 64 bytes", {64, 1, 1, 32, 78, {}, row}, true},
      {"JPEG inside", {40, 1, 1, 32, 54, {}, row, 4}, true},
      {"PNG inside", {40, 1, 1, 32, 54, {}, row, 5}, true},
      {"run lengths of 24 bits", {40, 1, 1, 24, 54, {}, row, 1}, true},
      {"masks on 24 bits", {40, 1, 1, 24, 66, Bytes(12, 0xFF), row, 3}, true},
  };
  for (const Case& c : cases) {
    tqtest::Diagnostics().lines.clear();
    tqImageBmp image;
    EXPECT_EQ(Load(image, c.file.bytes()), 0) << c.what;
    EXPECT_EQ(image.pixels(), nullptr) << c.what;
    EXPECT_EQ(tqtest::Diagnostics().lines,
              c.message ? std::vector<std::string>{"イメージのタイプが違います"} : std::vector<std::string>{})
        << c.what;
  }
  tqtest::Diagnostics().lines.clear();
  // Every prefix of a good file shorter than it is refused.
  BmpFile good{40, 3, 2, 24, 54, {}, Bytes(24, 7)};
  Bytes whole = good.bytes();
  tqImageBmp image;
  for (size_t n = 0; n < whole.size(); ++n) {
    Bytes cut(whole.begin(), whole.begin() + (long)n);
    EXPECT_EQ(Load(image, cut), 0) << n << " bytes";
  }
  EXPECT_EQ(Load(image, whole), 1);
}

TEST(Bmp, SavedBitmapLoadsBackTheSame) {
  // The saver writes the buffer as it stands; loading gives it back.
  tqImageBmp source;
  Pixels p = SamplePixels(5, 3, 4, 2, false);
  Fill(source, p);
  tqMemBlock saved;
  ASSERT_EQ(source.save(saved, 0, 0, 0, 0), 1);
  tqMemBlock block(saved.data, saved.size);
  ASSERT_EQ(tqImageHolder::formatOf(block), TQIMAGE_BMP);
  tqImageBmp back;
  ASSERT_EQ(back.load(block, 0), 1);
  EXPECT_EQ(back.width(), 5);
  EXPECT_EQ(back.height(), 3);
  EXPECT_EQ(Rows(back), p.bytes);
  EXPECT_EQ(memcmp(back.infoHeader, saved.data + 14, 40), 0);
}

namespace {

// Bitmaps as today's paint programs and converters write them: any header
// size, masks in the header or after it, a palette, and the pixel offset
// pointing right after all that.
struct BmpWriter {
  uint32_t headerSize = 40;
  int32_t width = 1, height = 1;
  uint16_t bits = 24;
  uint32_t compression = 0;
  std::vector<uint32_t> masks;  // red, green, blue (, alpha)
  Bytes palette;                // 4 bytes per entry (3 with a core header)
  uint32_t coloursUsed = 0;
  Bytes data;
  Bytes bytes() const {
    Bytes info;
    if (headerSize == 12) {
      Put32(info, 12);
      Put16(info, (uint16_t)width);
      Put16(info, (uint16_t)height);
      Put16(info, 1);
      Put16(info, bits);
    } else {
      Put32(info, headerSize);
      Put32(info, (uint32_t)width);
      Put32(info, (uint32_t)height);
      Put16(info, 1);
      Put16(info, bits);
      Put32(info, compression);
      Put32(info, (uint32_t)data.size());
      Put32(info, 2835);
      Put32(info, 2835);
      Put32(info, coloursUsed);
      Put32(info, 0);
      if (headerSize == 40) {
        for (uint32_t m : masks) Put32(info, m);
      } else {
        for (size_t i = 0; i < 4; ++i) Put32(info, i < masks.size() ? masks[i] : 0);
        if (headerSize >= 108) info.insert(info.end(), {'B', 'G', 'R', 's'});
        info.resize(headerSize, 0);
      }
    }
    Bytes b = {'B', 'M'};
    const uint32_t offset = 14 + (uint32_t)info.size() + (uint32_t)palette.size();
    Put32(b, offset + (uint32_t)data.size());
    Put32(b, 0);
    Put32(b, offset);
    Append(b, info);
    Append(b, palette);
    Append(b, data);
    return b;
  }
};

Bytes Le32(std::initializer_list<uint32_t> words) {
  Bytes b;
  for (uint32_t w : words) Put32(b, w);
  return b;
}

Bytes Le16(std::initializer_list<uint16_t> words) {
  Bytes b;
  for (uint16_t w : words) Put16(b, w);
  return b;
}

// Palette of blue, green, red, 0 entries: entry i is {i, 10 + i, 20 + i}.
Bytes Palette(int entries, int entrySize = 4) {
  Bytes b;
  b.reserve((size_t)entries * entrySize);
  for (int i = 0; i < entries; ++i) {
    b.push_back((uint8_t)i);
    b.push_back((uint8_t)(10 + i));
    b.push_back((uint8_t)(20 + i));
    if (entrySize == 4) b.push_back(0);
  }
  return b;
}

// The picture of palette entry i.
Bytes Entry(int i) { return {(uint8_t)i, (uint8_t)(10 + i), (uint8_t)(20 + i), 255}; }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) Append(b, p);
  return b;
}

}  // namespace

// Every kind decodes to the pixels an independent reading of the same file
// gives, in memory rows bottom row first. (Cross-checked with another
// decoder; it agrees except that it shifts 4-bit and 10/11-bit channels
// instead of scaling them, so that a full-scale channel stays below 255
// there, and it makes a file without an alpha mask transparent.)
TEST(Bmp, KindsThatEditorsWriteDecodeToTheirPixels) {
  const uint32_t kRle8 = 1, kRle4 = 2, kMasks = 3, kAlphaMasks = 6;
  struct Case {
    const char* what;
    BmpWriter file;
    Bytes expected;
  } cases[] = {
      {"V4 header, 24 bits", {108, 2, 1, 24, 0, {}, {}, 0, {1, 2, 3, 4, 5, 6, 0, 0}}, {1, 2, 3, 255, 4, 5, 6, 255}},
      {"V5 header, 32 bits, plain", {124, 1, 1, 32, 0, {}, {}, 0, {1, 2, 3, 4}}, {1, 2, 3, 4}},
      {"masks with red in the top byte and an alpha mask",
       {124, 1, 1, 32, kMasks, {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF}, {}, 0, {40, 30, 20, 10}},
       {30, 20, 10, 40}},
      {"masks with red in the top byte, no alpha",
       {40, 2, 1, 32, kMasks, {0xFF000000, 0x00FF0000, 0x0000FF00}, {}, 0, {0, 30, 20, 10, 9, 3, 2, 1}},
       {30, 20, 10, 255, 3, 2, 1, 255}},
      {"plain masks and an alpha mask",
       {124, 1, 1, 32, kMasks, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, {}, 0, {1, 2, 3, 4}},
       {1, 2, 3, 4}},
      {"alpha masks after a 40-byte header",
       {40, 1, 1, 32, kAlphaMasks, {0x0000FF00, 0x00FF0000, 0xFF000000, 0x000000FF}, {}, 0, {7, 1, 2, 3}},
       {3, 2, 1, 7}},
      {"10-10-10 in 32 bits",
       {56, 2, 1, 32, kMasks, {0x3FF00000, 0x000FFC00, 0x000003FF}, {}, 0,
        Le32({1023u << 20 | 512, 256u << 10 | 1})},
       {128, 0, 255, 255, 0, 64, 0, 255}},
      {"11-11-10 in 32 bits",
       {108, 1, 1, 32, kMasks, {0xFFE00000, 0x001FFC00, 0x000003FF}, {}, 0, Le32({1024u << 21 | 2047u << 10 | 3})},
       {1, 255, 128, 255}},
      {"16 bits, 5-5-5 by default", {40, 3, 1, 16, 0, {}, {}, 0, Concat({Le16({0x7C00, 0x0210, 0x8001}), {0, 0}})},
       {0, 0, 255, 255, 132, 132, 0, 255, 8, 0, 0, 255}},
      {"16 bits, 5-6-5 masks",
       {40, 2, 1, 16, kMasks, {0xF800, 0x07E0, 0x001F}, {}, 0, Le16({0x07E0, 0x0821})},
       {0, 255, 0, 255, 8, 4, 8, 255}},
      {"16 bits, 4-4-4-4 with alpha",
       {124, 1, 1, 16, kMasks, {0x0F00, 0x00F0, 0x000F, 0xF000}, {}, 0, Le16({0x8F0F, 0})},
       {255, 0, 255, 136}},
      {"8 bits, three colours used, two rows",
       {40, 3, 2, 8, 0, {}, Palette(3), 3, {0, 1, 2, 0, 2, 1, 0, 0}},
       Concat({Entry(0), Entry(1), Entry(2), Entry(2), Entry(1), Entry(0)})},
      {"8 bits, index beyond the palette is black", {40, 1, 1, 8, 0, {}, Palette(2), 2, {5, 0, 0, 0}}, {0, 0, 0, 255}},
      {"8 bits, top-down", {40, 1, -2, 8, 0, {}, Palette(3), 3, {1, 0, 0, 0, 2, 0, 0, 0}},
       Concat({Entry(2), Entry(1)})},
      {"8 bits, core header and 3-byte entries", {12, 2, 1, 8, 0, {}, Palette(256, 3), 0, {7, 200, 0, 0}},
       Concat({Entry(7), Entry(200)})},
      {"8 bits, V5 header", {124, 1, 1, 8, 0, {}, Palette(4), 4, {3, 0, 0, 0}}, Entry(3)},
      {"4 bits", {40, 3, 1, 4, 0, {}, Palette(16), 0, {0x12, 0x30, 0, 0}}, Concat({Entry(1), Entry(2), Entry(3)})},
      {"1 bit", {40, 9, 1, 1, 0, {}, Palette(2), 0, {0xA0, 0x80, 0, 0}},
       Concat({Entry(1), Entry(0), Entry(1), Entry(0), Entry(0), Entry(0), Entry(0), Entry(0), Entry(1)})},
      {"RLE8: runs, a literal group and the row end",
       {40, 4, 2, 8, kRle8, {}, Palette(4), 4, {4, 1, 0, 0, 0, 3, 2, 3, 1, 0, 1, 2, 0, 1}},
       Concat({Entry(1), Entry(1), Entry(1), Entry(1), Entry(2), Entry(3), Entry(1), Entry(2)})},
      {"RLE8: a move and an early end leave index 0",
       {40, 3, 2, 8, kRle8, {}, Palette(4), 4, {1, 3, 0, 2, 1, 1, 1, 2, 0, 1}},
       Concat({Entry(3), Entry(0), Entry(0), Entry(0), Entry(0), Entry(2)})},
      {"RLE8: runs over the row end (writers code the row padding) are dropped",
       {40, 2, 2, 8, kRle8, {}, Palette(4), 4, {3, 1, 0, 0, 0, 3, 2, 3, 1, 0, 0, 1}},
       Concat({Entry(1), Entry(1), Entry(2), Entry(3)})},
      {"RLE8: a move out of the row", {40, 2, 2, 8, kRle8, {}, Palette(4), 4, {0, 2, 3, 0, 1, 3, 0, 1}},
       Concat({Entry(0), Entry(0), Entry(0), Entry(0)})},
      {"RLE4: a run of alternating indices", {40, 5, 1, 4, kRle4, {}, Palette(16), 0, {5, 0x12, 0, 1}},
       Concat({Entry(1), Entry(2), Entry(1), Entry(2), Entry(1)})},
      {"RLE4: a literal group padded to 16 bits",
       {40, 4, 1, 4, kRle4, {}, Palette(16), 0, {0, 3, 0x45, 0x60, 1, 0x70, 0, 1}},
       Concat({Entry(4), Entry(5), Entry(6), Entry(7)})},
  };
  for (const Case& c : cases) {
    tqtest::Diagnostics().lines.clear();
    Bytes file = c.file.bytes();
    tqMemBlock block(file.data(), (uint32_t)file.size());
    EXPECT_EQ(tqImageHolder::formatOf(block), TQIMAGE_BMP) << c.what;
    tqImageBmp image;
    ASSERT_EQ(image.load(block, 0), 1) << c.what;
    EXPECT_EQ(image.bytesPerPixel(), 4) << c.what;
    EXPECT_EQ(image.width(), c.file.width) << c.what;
    EXPECT_EQ(Rows(image), c.expected) << c.what;
    EXPECT_EQ(tqtest::Diagnostics().lines.size(), 0u) << c.what;
  }
}

TEST(Bmp, BrokenRunLengthsAndPalettesAreRefused) {
  const uint32_t kRle8 = 1, kRle4 = 2;
  struct Case {
    const char* what;
    BmpWriter file;
    bool message;
  } cases[] = {
      {"literal group past the end of the file", {40, 8, 1, 8, kRle8, {}, Palette(2), 2, {0, 8, 1, 1}}, false},
      {"move cut short", {40, 2, 2, 4, kRle4, {}, Palette(2), 2, {0, 2, 1}}, false},
      {"a few bytes for a large picture", {40, 4000, 4000, 8, kRle8, {}, Palette(2), 2, {255, 1, 0, 0}}, false},
      {"no data at all", {40, 2, 2, 8, kRle8, {}, Palette(2), 2, {}}, false},
      {"top-down run lengths", {40, 2, -1, 8, kRle8, {}, Palette(2), 2, {2, 1, 0, 1}}, true},
      {"RLE4 with 8 bits", {40, 2, 1, 8, kRle4, {}, Palette(2), 2, {2, 1, 0, 1}}, true},
      {"palette past the end", {40, 1, 1, 8, 0, {}, {}, 200, {}}, false},
  };
  for (const Case& c : cases) {
    tqtest::Diagnostics().lines.clear();
    Bytes file = c.file.bytes();
    tqImageBmp image;
    EXPECT_EQ(Load(image, file), 0) << c.what;
    EXPECT_EQ(image.pixels(), nullptr) << c.what;
    EXPECT_EQ(tqtest::Diagnostics().lines.size(), c.message ? 1u : 0u) << c.what;
  }
  tqtest::Diagnostics().lines.clear();
}
