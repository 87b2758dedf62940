// tqImage operations: flattening arithmetic, bounds, flips, blits, crops,
// transparency and records; tqMemBlock allocation.
#include <gtest/gtest.h>

#include "image/tqImage.h"
#include "tests/image/tqImageTestUtil.h"
#include "tests/support/tqTestSupport.h"

using namespace imgtest;

namespace {

tqImage* Make(int w, int h, int bpp, const Bytes& rows) {
  tqImage* image = new tqImage;
  Fill(*image, Pixels{w, h, bpp, rows});
  return image;
}

TEST(Image, CreatePadsRowsAndZeroes) {
  tqImage image;
  ASSERT_EQ(image.create(3, 2, 3), 1);
  EXPECT_EQ(image.pitch(), 12);
  EXPECT_EQ(image.bufferSize(), 24u);
  EXPECT_EQ(Rows(image), Bytes(18, 0));
  EXPECT_EQ(image.bounds().right * 10 + image.bounds().bottom, 32);
  tqImage bad;
  EXPECT_EQ(bad.create(3, 2, 5), 0);
  EXPECT_EQ(tqtest::Diagnostics().boxes, (std::vector<std::string>{"不正な bpp です"}));
}

TEST(Image, FlattenOntoFollowsTheShiftArithmetic) {
  struct Case {
    uint8_t source, alpha, background, expected;
  } cases[] = {
      {100, 255, 200, 100},  // at or below the background: exact
      {200, 255, 100, 199},  // above it: one lower
      {200, 0, 100, 100},    // transparent: the background
      {0, 0, 255, 255},
      {255, 128, 0, 127},
      {0, 128, 255, 127},  // 255 + ((-255 * 128) >> 8): the shift rounds down, to -128
      {10, 255, 255, 10},
  };
  for (const Case& c : cases) {
    tqImage* image = Make(1, 1, 4, {c.source, c.source, c.source, c.alpha});
    uint32_t colour = c.background * 0x010101u;
    ASSERT_EQ(image->flattenOnto(colour), 1);
    EXPECT_EQ(image->bytesPerPixel(), 3);
    EXPECT_EQ(image->pitch(), 4);
    EXPECT_EQ(Rows(*image), (Bytes{c.expected, c.expected, c.expected}))
        << (int)c.source << " a" << (int)c.alpha << " over " << (int)c.background;
    image->release();
  }
  // Each channel over its own background byte (blue is bits 0-7).
  tqImage* image = Make(1, 1, 4, {0, 0, 0, 0});
  image->flattenOnto(0x00112233);
  EXPECT_EQ(Rows(*image), (Bytes{0x33, 0x22, 0x11}));
  image->release();
  tqImage three;
  three.create(2, 2, 3);
  EXPECT_EQ(three.flattenOnto(0xFFFFFF), 0);
  EXPECT_EQ(three.bytesPerPixel(), 3);
}

TEST(Image, OpaqueBounds) {
  tqImage image;
  image.create(6, 5, 4);
  tqp::Rect r;
  ASSERT_EQ(image.opaqueBounds(&r), 1);
  EXPECT_EQ(r.left * 1000 + r.top * 100 + r.right * 10 + r.bottom, 6565);  // nothing visible
  image.pixelAt(1, 3)[3] = 1;
  image.pixelAt(4, 1)[3] = 255;
  image.opaqueBounds(&r);
  EXPECT_EQ(r.left * 1000 + r.top * 100 + r.right * 10 + r.bottom, 1154);
  tqImage three;
  three.create(4, 3, 3);
  three.opaqueBounds(&r);
  EXPECT_EQ(r.right * 10 + r.bottom, 43);
  tqImage empty;
  EXPECT_EQ(empty.opaqueBounds(&r), 0);
}

TEST(Image, FlipVerticalKeepsTheMiddleRow) {
  tqImage* one = Make(2, 1, 3, {1, 2, 3, 4, 5, 6});
  one->flipVertical();
  EXPECT_EQ(Rows(*one), (Bytes{1, 2, 3, 4, 5, 6}));
  one->release();
  tqImage* three = Make(1, 3, 3, {1, 1, 1, 2, 2, 2, 3, 3, 3});
  three->flipVertical();
  EXPECT_EQ(Rows(*three), (Bytes{3, 3, 3, 2, 2, 2, 1, 1, 1}));
  three->release();
}

TEST(Image, BlitClipsBothPictures) {
  Bytes src;
  for (int i = 0; i < 9; ++i) src.push_back((uint8_t)(i + 1));
  tqImage* source = Make(3, 3, 1, src);  // 1 2 3 / 4 5 6 / 7 8 9
  struct Case {
    int dx, dy, sx, sy, w, h, result;
    Bytes expected;  // 4 x 3 destination rows
  } cases[] = {
      {0, 0, 0, 0, 3, 3, 1, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0}},
      {2, 1, 0, 0, 3, 3, 1, {0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 4, 5}},
      {0, 0, 1, 1, 5, 5, 1, {5, 6, 0, 0, 8, 9, 0, 0, 0, 0, 0, 0}},
      {-1, -2, 0, 0, 3, 3, 1, {8, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {4, 0, 0, 0, 3, 3, 0, Bytes(12, 0)},
      {0, 0, 3, 0, 3, 3, 0, Bytes(12, 0)},
  };
  for (const Case& c : cases) {
    tqImage dest;
    dest.create(4, 3, 1);
    EXPECT_EQ(dest.blit(c.dx, c.dy, *source, c.sx, c.sy, c.w, c.h), c.result);
    EXPECT_EQ(Rows(dest), c.expected) << c.dx << "," << c.dy;
  }
  tqImage other;
  other.create(4, 3, 3);
  EXPECT_EQ(other.blit(0, 0, *source, 0, 0, 3, 3), 0);
  source->release();
}

TEST(Image, CropKeepsTheRectangleWithAPaddedPitch) {
  Bytes rows;
  for (int i = 0; i < 4 * 3 * 3; ++i) rows.push_back((uint8_t)i);
  tqImage* image = Make(4, 3, 3, rows);
  ASSERT_EQ(image->crop({1, 1, 3, 9}), 1);
  EXPECT_EQ(image->width() * 10 + image->height(), 22);
  EXPECT_EQ(image->pitch(), 8);
  EXPECT_EQ(image->bufferSize(), 16u);
  EXPECT_EQ(Rows(*image), (Bytes{15, 16, 17, 18, 19, 20, 27, 28, 29, 30, 31, 32}));
  image->release();
}

TEST(Image, CopyFromCarriesTheFields) {
  tqImage* source = Make(2, 2, 4, Bytes(16, 9));
  source->setOffset(5, 6);
  source->setUserValues(7, 8);
  source->setAlphaState(1);
  tqImage copy;
  ASSERT_EQ(copy.copyFrom(*source), 1);
  int cw, ch, x, y;
  copy.canvasSize(&cw, &ch);
  copy.offset(&x, &y);
  EXPECT_EQ(cw * 10 + ch, 22);
  EXPECT_EQ(x * 10 + y, 56);
  EXPECT_EQ(copy.userValue1() * 10 + copy.userValue2(), 78);
  EXPECT_EQ(copy.alphaState(), 1);
  EXPECT_EQ(Rows(copy), Bytes(16, 9));
  tqImage empty, target;
  EXPECT_EQ(target.copyFrom(empty), 0);
  source->release();
}

TEST(Image, HasTransparencyScansOnceAndRemembers) {
  tqImage* image = Make(2, 1, 4, {0, 0, 0, 255, 0, 0, 0, 254});
  EXPECT_EQ(image->hasTransparency(), 1);
  EXPECT_EQ(image->alphaState(), 2);
  image->pixelAt(1, 0)[3] = 255;
  EXPECT_EQ(image->hasTransparency(), 1);  // remembered
  image->release();
  tqImage* opaque = Make(2, 1, 4, {0, 0, 0, 255, 0, 0, 0, 255});
  EXPECT_EQ(opaque->hasTransparency(), 0);
  EXPECT_EQ(opaque->alphaState(), 1);
  opaque->release();
  tqImage* three = Make(1, 1, 3, {1, 2, 3});
  EXPECT_EQ(three->hasTransparency(), 0);
  EXPECT_EQ(three->alphaState(), 0);
  three->release();
}

TEST(Image, ClearTransparentColourAndRedBlueSwap) {
  tqImage* image = Make(2, 1, 4, {1, 2, 3, 0, 4, 5, 6, 7});
  image->clearTransparentColour();
  EXPECT_EQ(Rows(*image), (Bytes{0, 0, 0, 0, 4, 5, 6, 7}));
  image->swapRedBlueIfMarked();
  EXPECT_EQ(Rows(*image), (Bytes{0, 0, 0, 0, 4, 5, 6, 7}));
  image->setImgmode(1);
  image->swapRedBlueIfMarked();
  EXPECT_EQ(Rows(*image), (Bytes{0, 0, 0, 0, 6, 5, 4, 7}));
  EXPECT_EQ(image->imgmode(), 0);
  image->release();
}

TEST(Image, AttributeRecordsReplaceByKey) {
  tqImage image;
  uint8_t a[20], b[20];
  memset(a, 1, 20);
  memset(b, 2, 20);
  EXPECT_EQ(image.setAttributeRecord(3, 1, a), 0);
  EXPECT_EQ(image.attributeRecordCount(), 0u);
  EXPECT_EQ(image.setAttributeRecord(0x10003, 0, a), 1);
  EXPECT_EQ(image.setAttributeRecord(3, 0, b), 1);
  EXPECT_EQ(image.attributeRecordCount(), 1u);
  EXPECT_EQ(image.attributeRecord(3)[0], 2);
}

TEST(Image, PixelAddresses) {
  tqImage image;
  image.create(3, 4, 3);
  EXPECT_EQ(image.pixelAt(2, 3), image.pixels() + 3 * 12 + 6);
  EXPECT_EQ(image.pixelAt(3, 0), nullptr);
  EXPECT_EQ(image.pixelAt(-1, 0), nullptr);
  EXPECT_EQ(image.pixelFromBottom(1, 0), image.pixels() + 3 * 12 + 3);
}

TEST(Image, ReleaseDestroysAtTheLastReference) {
  int before = TrackedCount();
  tqImage* image = new tqImage;
  image->addRef();
  image->release();
  EXPECT_EQ(TrackedCount(), before + 1);
  image->release();
  EXPECT_EQ(TrackedCount(), before);
}

TEST(MemBlock, AllocateRoundsToEightAndClearKeepsBorrowedBytes) {
  tqMemBlock block;
  ASSERT_NE(block.allocate(13), nullptr);
  EXPECT_EQ(block.size, 16u);
  EXPECT_EQ(block.capacity, 16u);
  block.clear();
  EXPECT_EQ(block.data, nullptr);
  uint8_t mine[4] = {1, 2, 3, 4};
  tqMemBlock borrowed(mine, 4);
  EXPECT_EQ(borrowed.borrowed, 1);
  borrowed.clear();
  EXPECT_EQ(mine[3], 4);
}

}  // namespace
