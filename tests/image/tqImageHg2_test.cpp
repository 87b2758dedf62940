// HG-2: save/load round trips over many sizes, the cropping and canvas rules
// of save, the three versions, depth widening and hostile files.
#include <gtest/gtest.h>

#include "image/tqImageBytes.h"
#include "image/tqImageHg2.h"
#include "tests/image/tqImageTestUtil.h"
#include "tests/support/tqTestSupport.h"

using namespace imgtest;

namespace {

Bytes Save(tqImageHg2& image, int id = 0, int uv1 = 0, int uv2 = 0, int clear = 0) {
  tqMemBlock out;
  if (!image.save(out, id, uv1, uv2, clear)) return {};
  return Bytes(out.data, out.data + out.size);
}

int Load(tqImageHg2& image, const Bytes& file, int id = 0) {
  tqMemBlock block(file.data(), (uint32_t)file.size());
  return image.load(block, id);
}

// The rows of p inside rect.
Bytes Cut(const Pixels& p, const tqp::Rect& r) {
  Bytes out;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      const uint8_t* px = &p.bytes[((size_t)y * p.width + x) * p.bpp];
      out.insert(out.end(), px, px + p.bpp);
    }
  return out;
}

TEST(Hg2, SaveThenLoadGivesThePicturesBack) {
  struct Size {
    int w, h;
  };
  const Size sizes[] = {{1, 1}, {2, 2}, {3, 1}, {1, 3}, {5, 7}, {31, 2}, {64, 64}, {333, 77}, {4097, 3}, {3, 4097}};
  int seed = 0;
  for (const Size& s : sizes)
    for (int bpp : {3, 4})
      for (bool transparent : {false, true}) {
        if (bpp == 3 && transparent) continue;
        Pixels p = SamplePixels(s.w, s.h, bpp, ++seed, transparent);
        // A visible pixel in two corners keeps the bounds whole, so the
        // comparison can be with the whole picture.
        if (bpp == 4) p.at(0, 0)[3] = p.at(s.w - 1, s.h - 1)[3] = 255;
        tqImageHg2 source;
        Fill(source, p);
        Bytes file = Save(source);
        ASSERT_FALSE(file.empty());
        tqImageHg2 back;
        ASSERT_EQ(Load(back, file), 1) << s.w << "x" << s.h << "x" << bpp;
        EXPECT_EQ(back.width(), s.w);
        EXPECT_EQ(back.height(), s.h);
        EXPECT_EQ(back.pitch(), s.w * bpp);
        EXPECT_EQ(Rows(back), p.bytes) << s.w << "x" << s.h << "x" << bpp << (transparent ? " alpha" : "");
        bool seeThrough = false;
        for (size_t i = 3; bpp == 4 && i < p.bytes.size(); i += 4) seeThrough |= p.bytes[i] != 255;
        EXPECT_EQ(back.alphaState(), seeThrough ? 2 : 1);
      }
}

TEST(Hg2, SaveCropsToTheVisiblePixelsAndRecordsTheCanvas) {
  Pixels p = SamplePixels(40, 30, 4, 11, false);
  for (size_t i = 3; i < p.bytes.size(); i += 4) p.bytes[i] = 0;
  p.at(10, 20)[3] = 200;
  p.at(13, 21)[3] = 1;
  tqImageHg2 source;
  Fill(source, p);
  Bytes file = Save(source, 5, 77, -3);
  tqImageHg2 back;
  ASSERT_EQ(Load(back, file, 5), 1);
  int cw, ch, x, y;
  back.canvasSize(&cw, &ch);
  back.offset(&x, &y);
  EXPECT_EQ(back.width(), 4);
  EXPECT_EQ(back.height(), 2);
  EXPECT_EQ(cw, 40);
  EXPECT_EQ(ch, 30);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
  EXPECT_EQ(back.userValue1(), 77);
  EXPECT_EQ(back.userValue2(), -3);
  EXPECT_EQ(back.alphaState(), 2);
  EXPECT_EQ(Rows(back), Cut(p, {10, 20, 14, 22}));
}

TEST(Hg2, OnlyVisiblePixelGivesAOneByOnePicture) {
  tqImageHg2 source;
  source.create(30, 40, 4);
  source.pixelAt(10, 20)[3] = 255;
  source.pixelAt(10, 20)[0] = 9;
  Bytes file = Save(source);
  tqImageHg2 back;
  ASSERT_EQ(Load(back, file), 1);
  int x, y, cw, ch;
  back.offset(&x, &y);
  back.canvasSize(&cw, &ch);
  EXPECT_EQ(back.width() * 1000 + back.height(), 1001);
  EXPECT_EQ(x * 1000 + y, 10020);
  EXPECT_EQ(cw * 1000 + ch, 30040);
  EXPECT_EQ(Rows(back), (Bytes{9, 0, 0, 255}));
}

TEST(Hg2, FullyTransparentPictureKeepsItsTopLeftTwoByTwo) {
  Pixels p = SamplePixels(5, 6, 4, 2, false);
  for (size_t i = 3; i < p.bytes.size(); i += 4) p.bytes[i] = 0;
  tqImageHg2 source;
  Fill(source, p);
  Bytes file = Save(source);
  tqImageHg2 back;
  ASSERT_EQ(Load(back, file), 1);
  int x, y;
  back.offset(&x, &y);
  EXPECT_EQ(back.width(), 2);
  EXPECT_EQ(back.height(), 2);
  EXPECT_EQ(x + y, 0);
  EXPECT_EQ(Rows(back), Cut(p, {0, 0, 2, 2}));
  // Cleared on request: the colour of alpha-0 pixels becomes 0.
  tqImageHg2 again;
  Fill(again, p);
  Bytes cleared = Save(again, 0, 0, 0, 1);
  ASSERT_EQ(Load(back, cleared), 1);
  EXPECT_EQ(Rows(back), Bytes(16, 0));
}

TEST(Hg2, WithoutCroppingThePictureStaysWhole) {
  Pixels p = SamplePixels(9, 8, 4, 4, true);
  for (size_t i = 3; i < p.bytes.size(); i += 4) p.bytes[i] = 0;
  p.at(4, 4)[3] = 255;
  tqImageHg2 source;
  Fill(source, p);
  source.codec().cropOnSave = 0;
  Bytes file = Save(source);
  tqImageHg2 back;
  ASSERT_EQ(Load(back, file), 1);
  EXPECT_EQ(Rows(back), p.bytes);
}

TEST(Hg2, SaveWritesTheVersion37Header) {
  tqImageHg2 source;
  Fill(source, SamplePixels(3, 2, 3, 9, false));
  source.codec().reservedWord1 = 0x11223344;
  Bytes file = Save(source, 0x55, 1, 2);
  ASSERT_GE(file.size(), 88u);
  tqByteView v{file.data(), file.size()};
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "HG-2");
  EXPECT_EQ(v.u32(4), 12u);
  EXPECT_EQ(v.u32(8), 37u);
  EXPECT_EQ(v.u16(20), 24);
  EXPECT_EQ(v.u16(22), 0);
  EXPECT_EQ(v.u32(24), 0x11223344u);
  EXPECT_EQ(v.u32(48), 40u);
  EXPECT_EQ(v.u32(52), 0x55u);
  EXPECT_EQ(v.u32(72), 0u);
  EXPECT_EQ(v.u32(76), 0u);
  EXPECT_EQ(file.size(), 88u + v.u32(32) + v.u32(40));
}

TEST(Hg2, UnsupportedDepthFailsTheSave) {
  tqImageHg2 source;
  source.create(4, 4, 2);
  tqMemBlock out;
  out.allocate(16);
  EXPECT_EQ(source.save(out, 0, 0, 0, 0), 0);
  EXPECT_EQ(out.data, nullptr);
  EXPECT_EQ(out.size, 0u);
  EXPECT_EQ(tqtest::Diagnostics().lines, (std::vector<std::string>{"この色数には対応していません"}));
}

Hg2Record RecordOf(const Pixels& p, int16_t version, int32_t id) {
  Hg2Record r;
  r.width = (uint32_t)p.width;
  r.height = (uint32_t)p.height;
  r.bits = (int16_t)(p.bpp * 8);
  r.version = version;
  r.id = id;
  r.canvasW = 100;
  r.canvasH = 90;
  r.x = 7;
  r.y = 8;
  r.flag = 1;
  r.uv1 = 41;
  r.uv2 = 42;
  r.areas = EncodeAreas(p);
  return r;
}

TEST(Hg2, Version16HasOnePictureWhateverTheIdentifier) {
  Pixels p = SamplePixels(6, 5, 3, 21, false);
  Bytes file = Hg2Bytes(RecordOf(p, 16, 0));
  tqImageHg2 image;
  ASSERT_EQ(Load(image, file, 1234), 1);
  EXPECT_EQ(Rows(image), p.bytes);
  int cw, ch, x, y;
  image.canvasSize(&cw, &ch);
  image.offset(&x, &y);
  EXPECT_EQ(cw * 100 + ch, 605);
  EXPECT_EQ(x + y, 0);
  EXPECT_EQ(image.alphaState(), 0);
  EXPECT_EQ(image.userValue1(), 0);
  tqMemBlock block(file.data(), (uint32_t)file.size());
  int id = -1;
  EXPECT_EQ(image.loadByIndex(block, 0, &id), 1);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(image.loadByIndex(block, 1, &id), 0);
}

TEST(Hg2, Version32FindsLaterRecordsByIdentifierOnly) {
  Pixels a = SamplePixels(4, 4, 4, 1, false), b = SamplePixels(5, 3, 4, 2, false);
  Bytes file = Hg2Chain({RecordOf(a, 32, 0), RecordOf(b, 32, 9)});
  tqImageHg2 image;
  ASSERT_EQ(Load(image, file, 9), 1);
  EXPECT_EQ(Rows(image), b.bytes);
  int x, y;
  image.offset(&x, &y);
  EXPECT_EQ(x * 10 + y, 78);
  EXPECT_EQ(image.alphaState(), 2);
  EXPECT_EQ(image.userValue1(), 0);  // no user values before version 37
  tqMemBlock block(file.data(), (uint32_t)file.size());
  int id = -1;
  EXPECT_EQ(image.loadByIndex(block, 1, &id), 0);
}

TEST(Hg2, Version37WalksRecordsByIndex) {
  Pixels a = SamplePixels(4, 4, 4, 1, false), b = SamplePixels(5, 3, 3, 2, false);
  Bytes file = Hg2Chain({RecordOf(a, 37, 3), RecordOf(b, 37, 9)});
  tqImageHg2 image;
  tqMemBlock block(file.data(), (uint32_t)file.size());
  int id = -1;
  ASSERT_EQ(image.loadByIndex(block, 1, &id), 1);
  EXPECT_EQ(id, 9);
  EXPECT_EQ(Rows(image), b.bytes);
  EXPECT_EQ(image.userValue1() * 100 + image.userValue2(), 4142);
  EXPECT_EQ(image.loadByIndex(block, 2, &id), 0);
  tqtest::Diagnostics().Clear();
  EXPECT_EQ(Load(image, file, 4), 0);
  EXPECT_EQ(tqtest::Diagnostics().lines, (std::vector<std::string>{"HG2(4) : 対応するIDが見つかりません"}));
}

TEST(Hg2, HeaderFaultsAreReported) {
  Pixels p = SamplePixels(2, 2, 4, 1, false);
  Bytes good = Hg2Bytes(RecordOf(p, 37, 0));
  struct Case {
    int offset;
    uint8_t value;
    const char* message;
  } cases[] = {{0, 'X', "HG2 : ヘッダが違います"}, {8, 33, "HG2 : 未対応のバージョンです"}};
  for (const Case& c : cases) {
    Bytes file = good;
    file[c.offset] = c.value;
    tqtest::Diagnostics().Clear();
    tqImageHg2 image;
    EXPECT_EQ(Load(image, file), 0);
    EXPECT_EQ(tqtest::Diagnostics().lines, (std::vector<std::string>{c.message}));
  }
}

TEST(Hg2, ChannelDepthIsWidenedToEightBits) {
  struct Case {
    int depth;
    uint8_t in, out;
  } cases[] = {{4, 0x0A, 0xAA}, {4, 0x0F, 0xFF}, {5, 0x1F, 0xFF}, {5, 0x10, 0x84}, {6, 0x21, 0x86},
               {8, 0x5A, 0x5A}, {2, 0x02, 0xAA}, {1, 0x01, 0xFF}};
  for (const Case& c : cases) {
    Pixels p{1, 1, 3, {c.in, c.in, c.in}};
    Hg2Record r = RecordOf(p, 37, 0);
    r.depth = (int16_t)c.depth;
    tqImageHg2 image;
    ASSERT_EQ(Load(image, Hg2Bytes(r)), 1) << c.depth;
    EXPECT_EQ(Rows(image), (Bytes{c.out, c.out, c.out})) << "depth " << c.depth;
  }
}

TEST(Hg2, TruncatedAndDistortedFilesFailWithoutReadingOutside) {
  Pixels a = SamplePixels(6, 4, 4, 1, true), b = SamplePixels(3, 3, 3, 2, false);
  Bytes file = Hg2Chain({RecordOf(a, 37, 1), RecordOf(b, 37, 2)});
  for (size_t n = 0; n < file.size(); ++n) {
    // A copy of exactly n bytes, so that reading past it is caught.
    Bytes cut(file.begin(), file.begin() + n);
    tqImageHg2 image;
    tqMemBlock block(cut.data(), (uint32_t)cut.size());
    EXPECT_EQ(image.load(block, 2), 0) << n;
  }
  // Distances and lengths pointing far outside.
  for (int field : {32, 40, 48, 76}) {
    Bytes bad = file;
    bad[field + 3] = 0x7F;
    tqImageHg2 image;
    tqMemBlock block(bad.data(), (uint32_t)bad.size());
    EXPECT_EQ(image.load(block, field == 76 ? 2 : 1), 0) << field;
  }
  // Huge dimensions.
  Bytes big = file;
  big[15] = 0x40;
  tqImageHg2 image;
  tqMemBlock block(big.data(), (uint32_t)big.size());
  EXPECT_EQ(image.load(block, 1), 0);
}

}  // namespace
