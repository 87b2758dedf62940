// HG-3 writer: what it writes decodes with our reader to the same pixels and
// placement, in one slice or several, and the file holds only the tags a
// reader needs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "image/tqImageHg3.h"
#include "tests/image/tqImageTestUtil.h"

using namespace imgtest;

namespace {

struct Case {
  int w, h, bpp;
  bool transparent;
  int sliceRows;  // 0: one slice
  int slices;     // tags expected
};

// Names of the tags of the first picture, in file order.
std::vector<std::string> TagNames(const tqMemBlock& file) {
  std::vector<std::string> names;
  uint64_t at = 20;
  while (at + 16 <= file.size) {
    char name[9] = {};
    memcpy(name, file.data + at, 8);
    names.push_back(name);
    uint32_t next;
    memcpy(&next, file.data + at + 8, 4);
    if (next == 0) break;
    at += next;
  }
  return names;
}

TEST(Hg3Save, RoundTripsThePixels) {
  const Case cases[] = {
      {1, 1, 4, false, 0, 1},    {1, 1, 3, false, 0, 1},    {37, 29, 4, true, 0, 1},
      {37, 29, 3, false, 0, 1},  {37, 29, 4, true, 10, 3},  {37, 29, 3, false, 7, 5},
      {5, 300, 4, false, 1, 300}, {301, 3, 3, false, 2, 2}, {64, 64, 4, true, 64, 1},
      {64, 64, 4, false, 100, 1}, {2, 9, 4, true, 4, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bpp << " slices of " << c.sliceRows);
    Pixels p = SamplePixels(c.w, c.h, c.bpp, (uint64_t)(c.w * 131 + c.h), c.transparent);
    tqImageHg3 picture;
    Fill(picture, p);  // a padded pitch for odd widths of 3 bytes
    picture.setOffset(3, -4);
    picture.setCanvasSize(c.w + 10, c.h + 20);
    tqMemBlock file;
    ASSERT_EQ(picture.saveSlices(file, 42, 7, -8, 0, c.sliceRows), 1);
    std::vector<std::string> names = TagNames(file);
    ASSERT_EQ(names.size(), (size_t)c.slices + 1);
    EXPECT_EQ(names[0], "stdinfo");
    char last[16];
    snprintf(last, sizeof last, "img%04d", c.slices - 1);
    EXPECT_EQ(names.back(), last);

    tqImageHg3 back;
    ASSERT_EQ(back.load(file, 42), 1);
    EXPECT_EQ(back.bytesPerPixel(), c.bpp);
    EXPECT_EQ(Rows(back), p.bytes);
    int x, y, cw, ch;
    back.offset(&x, &y);
    back.canvasSize(&cw, &ch);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, -4);
    EXPECT_EQ(cw, c.w + 10);
    EXPECT_EQ(ch, c.h + 20);
    EXPECT_EQ(back.userValue1(), 7);
    EXPECT_EQ(back.userValue2(), -8);
    bool seeThrough = false;
    if (c.bpp == 4)
      for (size_t i = 3; i < p.bytes.size(); i += 4) seeThrough |= p.bytes[i] != 255;
    EXPECT_EQ(back.alphaState(), seeThrough ? 2 : 1);
    // Another identifier is not in the file.
    tqImageHg3 missing;
    EXPECT_EQ(missing.load(file, 0), 0);
  }
}

TEST(Hg3Save, SavedPictureWithoutCanvasGetsItsOwnSize) {
  Pixels p = SamplePixels(9, 4, 4, 3, false);
  tqImageHg3 picture;
  Fill(picture, p);
  tqMemBlock file;
  ASSERT_EQ(picture.save(file, 0, 0, 0, 0), 1);
  tqImageHg3 back;
  ASSERT_EQ(back.load(file, 0), 1);
  int cw, ch;
  back.canvasSize(&cw, &ch);
  EXPECT_EQ(cw, 9);
  EXPECT_EQ(ch, 4);
  EXPECT_EQ(Rows(back), p.bytes);
}

TEST(Hg3Save, ClearTransparentZeroesHiddenColours) {
  Pixels p = SamplePixels(20, 6, 4, 9, true);
  tqImageHg3 picture;
  Fill(picture, p);
  tqMemBlock file;
  ASSERT_EQ(picture.save(file, 0, 0, 0, 1), 1);
  tqImageHg3 back;
  ASSERT_EQ(back.load(file, 0), 1);
  Bytes rows = Rows(back);
  int hidden = 0;
  for (size_t i = 0; i < rows.size(); i += 4) {
    if (p.bytes[i + 3] == 0) {
      ++hidden;
      EXPECT_EQ(rows[i] | rows[i + 1] | rows[i + 2], 0);
    } else {
      EXPECT_EQ(0, memcmp(&rows[i], &p.bytes[i], 4));
    }
  }
  EXPECT_GT(hidden, 0);
}

TEST(Hg3Save, RefusesWhatItCannotStore) {
  tqImageHg3 grey;
  ASSERT_EQ(grey.create(4, 4, 1), 1);
  tqMemBlock file;
  EXPECT_EQ(grey.save(file, 0, 0, 0, 0), 0);
  EXPECT_EQ(file.size, 0u);
  tqImageHg3 empty;
  EXPECT_EQ(empty.save(file, 0, 0, 0, 0), 0);
  tqImageHg3 rgb;
  ASSERT_EQ(rgb.create(4, 4, 3), 1);
  EXPECT_EQ(rgb.saveSlices(file, 0, 0, 0, 0, -1), 0);
}

}  // namespace
