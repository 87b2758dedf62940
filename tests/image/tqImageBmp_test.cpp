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
      {"16 bits", {40, 1, 1, 16, 54, {}, row}, false},
      {"8 bits", {40, 1, 1, 8, 54, {}, row}, false},
      {"header of 108 bytes", {108, 1, 1, 32, 122, {}, row}, true},
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
