// HG-3: files from the test-only writer (slices, several pictures, JPEG with
// and without an alpha plane, WebP, the value tags) and hostile files.
#include <gtest/gtest.h>

#include "image/tqImageHg3.h"
#include "image/tqImageHolder.h"
#include "image/tqImageJpeg.h"
#include "image/tqImageWebP.h"
#include "tests/image/tqImageTestUtil.h"
#include "tests/support/tqTestSupport.h"

using namespace imgtest;

namespace {

// The rows of p from row `top` on, `rows` of them, as a picture of its own.
Pixels Band(const Pixels& p, int top, int rows) {
  Pixels b{p.width, rows, p.bpp, {}};
  size_t rowBytes = (size_t)p.width * p.bpp;
  b.bytes.assign(p.bytes.begin() + top * rowBytes, p.bytes.begin() + (top + rows) * rowBytes);
  return b;
}

// Slice tags for the bands of p; counts are from the bottom row up.
std::vector<Hg3Tag> Slices(const Pixels& p, const std::vector<int>& heights) {
  std::vector<Hg3Tag> tags;
  int firstRow = 0;
  for (size_t i = 0; i < heights.size(); ++i) {
    int top = p.height - firstRow - heights[i];
    char name[16];
    snprintf(name, sizeof name, "img%04d", (int)i);
    tags.push_back({name, SliceData((uint32_t)firstRow, (uint32_t)heights[i], EncodeAreas(Band(p, top, heights[i])))});
    firstRow += heights[i];
  }
  return tags;
}

Hg3Picture SlicedPicture(int id, const Pixels& p, const std::vector<int>& heights) {
  Hg3Picture pic;
  pic.id = id;
  pic.tags.push_back({"stdinfo", StdInfo((uint32_t)p.width, (uint32_t)p.height, p.bpp * 8, 3, 4, 50, 60,
                                         p.bpp == 4, 11, 22)});
  for (auto& t : Slices(p, heights)) pic.tags.push_back(t);
  return pic;
}

int Load(tqImageHg3& image, const Bytes& file, int id = 0) {
  tqMemBlock block(file.data(), (uint32_t)file.size());
  return image.load(block, id);
}

TEST(Hg3, SlicedPicturesDecodeToTheirPixels) {
  Pixels p = SamplePixels(37, 29, 4, 5, true);
  for (const std::vector<int>& heights : std::vector<std::vector<int>>{{29}, {10, 19}, {1, 7, 20, 1}}) {
    Bytes file = Hg3Bytes({SlicedPicture(0, p, heights)});
    tqImageHg3 image;
    ASSERT_EQ(Load(image, file), 1);
    EXPECT_EQ(image.pitch(), 37 * 4);
    EXPECT_EQ(Rows(image), p.bytes) << heights.size() << " slices";
    int x, y, cw, ch;
    image.offset(&x, &y);
    image.canvasSize(&cw, &ch);
    EXPECT_EQ(x * 10 + y, 34);
    EXPECT_EQ(cw * 100 + ch, 5060);
    EXPECT_EQ(image.alphaState(), 2);
    EXPECT_EQ(image.userValue1() * 100 + image.userValue2(), 1122);
    EXPECT_EQ(image.imgmode(), 0);
  }
}

TEST(Hg3, FirstSliceFillsTheBottomRows) {
  // Two bands of constant colour: the second slice's first row is predicted
  // from the left, so neither band leaks into the other.
  Pixels p{3, 4, 3, {}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) p.bytes.insert(p.bytes.end(), {(uint8_t)(y < 2 ? 200 : 10), 0, 0});
  Hg3Picture pic;
  pic.tags.push_back({"stdinfo", StdInfo(3, 4, 24)});
  pic.tags.push_back({"img0000", SliceData(0, 2, EncodeAreas(Band(p, 2, 2)))});
  Bytes file = Hg3Bytes({pic});
  tqImageHg3 image;
  ASSERT_EQ(Load(image, file), 1);
  // Only the bottom two rows are decoded; the top two stay blank.
  Bytes expected(18, 0);
  expected.insert(expected.end(), p.bytes.begin() + 18, p.bytes.end());
  EXPECT_EQ(Rows(image), expected);
}

TEST(Hg3, SliceNamesMustBeContiguous) {
  Pixels p = SamplePixels(4, 6, 3, 8, false);
  Hg3Picture pic = SlicedPicture(0, p, {3, 3});
  pic.tags[2].name = "img0002";
  tqImageHg3 image;
  ASSERT_EQ(Load(image, Hg3Bytes({pic})), 1);
  Bytes expected(36, 0);
  expected.insert(expected.end(), p.bytes.begin() + 36, p.bytes.end());
  EXPECT_EQ(Rows(image), expected);
}

TEST(Hg3, PicturesAreFoundByIdentifierAndByIndex) {
  Pixels a = SamplePixels(5, 5, 3, 1, false), b = SamplePixels(6, 4, 4, 2, false);
  Bytes file = Hg3Bytes({SlicedPicture(10, a, {5}), SlicedPicture(20, b, {4})});
  tqImageHg3 image;
  ASSERT_EQ(Load(image, file, 20), 1);
  EXPECT_EQ(Rows(image), b.bytes);
  tqMemBlock block(file.data(), (uint32_t)file.size());
  int id = -1;
  tqImageHg3 byIndex;
  ASSERT_EQ(byIndex.loadByIndex(block, 1, &id), 1);
  EXPECT_EQ(id, 20);
  EXPECT_EQ(Rows(byIndex), b.bytes);
  EXPECT_EQ(byIndex.loadByIndex(block, 2, &id), 0);
  tqtest::Diagnostics().Clear();
  EXPECT_EQ(Load(image, file, 30), 0);
  EXPECT_TRUE(tqtest::Diagnostics().lines.empty());
}

TEST(Hg3, ValueTagsAreStored) {
  Pixels p = SamplePixels(2, 2, 3, 1, false);
  Hg3Picture pic = SlicedPicture(0, p, {2});
  Bytes first(20), second(20);
  for (int i = 0; i < 20; ++i) {
    first[i] = (uint8_t)i;
    second[i] = (uint8_t)(100 + i);
  }
  pic.tags.push_back({"cptype", {3, 0, 0, 0}});
  pic.tags.push_back({"ats12", first});
  pic.tags.push_back({"ats0x10", first});
  pic.tags.push_back({"ats12", second});
  pic.tags.push_back({"atsxy", first});
  tqImageHg3 image;
  ASSERT_EQ(Load(image, Hg3Bytes({pic})), 1);
  EXPECT_EQ(image.cptype(), 3);
  EXPECT_EQ(image.attributeRecordCount(), 2u);
  ASSERT_NE(image.attributeRecord(12), nullptr);
  EXPECT_EQ(Bytes(image.attributeRecord(12), image.attributeRecord(12) + 20), second);
  ASSERT_NE(image.attributeRecord(16), nullptr);
  EXPECT_EQ(image.attributeRecord(16)[19], 19);
}

// A JPEG of a 3-byte picture; its decoded rows are what HG-3 must carry.
struct JpegFixture {
  Bytes stream;
  Bytes rgb;  // decoded, unpadded
  int w, h;
};

JpegFixture MakeJpeg(int w, int h) {
  tqImageJpeg source;
  Fill(source, SamplePixels(w, h, 3, 3, false));
  tqMemBlock out;
  EXPECT_EQ(source.save(out, 0, 0, 0, 0), 1);
  JpegFixture f{Bytes(out.data, out.data + out.size), {}, w, h};
  tqImageJpeg decoded;
  tqMemBlock in(f.stream.data(), (uint32_t)f.stream.size());
  EXPECT_EQ(decoded.load(in, 0), 1);
  f.rgb = Rows(decoded);
  return f;
}

Bytes AlphaTag(const Bytes& plane, uint32_t rawLength) {
  Bytes z = Deflate(plane);
  Bytes b;
  Put32(b, (uint32_t)z.size());
  Put32(b, rawLength);
  Append(b, z);
  return b;
}

TEST(Hg3, JpegPicturesWithAndWithoutAlpha) {
  JpegFixture jpeg = MakeJpeg(9, 7);
  Bytes plane(63);
  for (int i = 0; i < 63; ++i) plane[i] = (uint8_t)(i * 4);
  struct Case {
    const char* what;
    int bits;
    bool alphaTag;
    uint32_t rawLength;
    int imgmode;  // -1: no tag
    bool alphaExpected;
  } cases[] = {
      {"32 bits, no alpha plane", 32, false, 0, -1, false},
      {"32 bits with alpha plane", 32, true, 63, -1, true},
      {"alpha plane of the wrong length", 32, true, 62, -1, false},
      {"24 bits", 24, true, 63, -1, false},
      {"imgmode 0 keeps the JPEG order", 32, false, 0, 0, false},
  };
  for (const Case& c : cases) {
    Hg3Picture pic;
    pic.tags.push_back({"stdinfo", StdInfo(9, 7, c.bits)});
    pic.tags.push_back({"img_jpg", jpeg.stream});
    if (c.alphaTag) pic.tags.push_back({"img_al", AlphaTag(plane, c.rawLength)});
    if (c.imgmode >= 0) pic.tags.push_back({"imgmode", {(uint8_t)c.imgmode, 0, 0, 0}});
    tqtest::Diagnostics().Clear();
    tqImageHg3 image;
    ASSERT_EQ(Load(image, Hg3Bytes({pic})), 1) << c.what;
    int B = c.bits / 8;
    Bytes expected;
    for (int i = 0; i < 63; ++i) {
      const uint8_t* rgb = &jpeg.rgb[i * 3];
      if (c.imgmode == 0)
        expected.insert(expected.end(), {rgb[0], rgb[1], rgb[2]});
      else
        expected.insert(expected.end(), {rgb[2], rgb[1], rgb[0]});
      if (B == 4) expected.push_back(c.alphaExpected ? plane[i] : 255);
    }
    EXPECT_EQ(Rows(image), expected) << c.what;
    EXPECT_EQ(image.imgmode(), 0) << c.what;
    EXPECT_TRUE(tqtest::Diagnostics().lines.empty()) << c.what;
  }
}

TEST(Hg3, WebPPicturesKeepTheirOrderUnlessMarked) {
  tqImageWebP source;
  Fill(source, SamplePixels(8, 6, 4, 9, true));
  tqMemBlock out;
  ASSERT_EQ(source.save(out, 0, 0, 0, 0), 1);
  Bytes stream(out.data, out.data + out.size);
  tqImageWebP decoded;
  tqMemBlock in(stream.data(), (uint32_t)stream.size());
  ASSERT_EQ(decoded.load(in, 0), 1);
  Bytes rgba = Rows(decoded);
  for (int mode : {-1, 1}) {
    Hg3Picture pic;
    pic.tags.push_back({"stdinfo", StdInfo(8, 6, 32)});
    pic.tags.push_back({"img_wbp", stream});
    if (mode >= 0) pic.tags.push_back({"imgmode", {(uint8_t)mode, 0, 0, 0}});
    tqImageHg3 image;
    ASSERT_EQ(Load(image, Hg3Bytes({pic})), 1);
    Bytes expected = rgba;
    if (mode == 1)
      for (size_t i = 0; i < expected.size(); i += 4) std::swap(expected[i], expected[i + 2]);
    EXPECT_EQ(Rows(image), expected) << mode;
  }
  // A WebP stream of another size than the picture is refused.
  Hg3Picture wrong;
  wrong.tags.push_back({"stdinfo", StdInfo(8, 5, 32)});
  wrong.tags.push_back({"img_wbp", stream});
  tqImageHg3 image;
  EXPECT_EQ(Load(image, Hg3Bytes({wrong})), 0);
}

TEST(Hg3, BrokenJpegFailsTheLoad) {
  Hg3Picture pic;
  pic.tags.push_back({"stdinfo", StdInfo(4, 4, 32)});
  pic.tags.push_back({"img_jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0, 1, 2, 3}});
  tqImageHg3 image;
  EXPECT_EQ(Load(image, Hg3Bytes({pic})), 0);
}

TEST(Hg3, HeaderFaultsAreReported) {
  Pixels p = SamplePixels(2, 2, 4, 1, false);
  Bytes good = Hg3Bytes({SlicedPicture(0, p, {2})});
  struct Case {
    int offset;
    uint8_t value;
    const char* message;
  } cases[] = {{0, 'X', "HG3 : ヘッダが違います"}, {4, 13, "HG3 : ヘッダサイズが違います"}};
  for (const Case& c : cases) {
    Bytes file = good;
    file[c.offset] = c.value;
    tqtest::Diagnostics().Clear();
    tqImageHg3 image;
    EXPECT_EQ(Load(image, file), 0);
    EXPECT_EQ(tqtest::Diagnostics().lines, (std::vector<std::string>{c.message}));
  }
  // No stdinfo: a silent failure.
  Hg3Picture bare;
  bare.tags.push_back({"cptype", {1, 0, 0, 0}});
  tqtest::Diagnostics().Clear();
  tqImageHg3 image;
  EXPECT_EQ(Load(image, Hg3Bytes({bare})), 0);
  EXPECT_TRUE(tqtest::Diagnostics().lines.empty());
}

TEST(Hg3, HostileFilesFail) {
  Pixels p = SamplePixels(5, 4, 4, 1, true);
  Bytes good = Hg3Bytes({SlicedPicture(0, p, {2, 2})});
  // Truncated at every length (a copy of exactly that size).
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes cut(good.begin(), good.begin() + n);
    tqImageHg3 image;
    EXPECT_EQ(Load(image, cut), 0) << n;
  }
  auto Patched = [&](std::vector<Hg3Tag> extra, int sliceFirstRow, int sliceRows) {
    Hg3Picture pic = SlicedPicture(0, p, {2, 2});
    Bytes& slice = pic.tags[2].data;
    memcpy(slice.data(), &sliceFirstRow, 4);
    memcpy(slice.data() + 4, &sliceRows, 4);
    for (auto& t : extra) pic.tags.push_back(t);
    return Hg3Bytes({pic});
  };
  tqImageHg3 image;
  EXPECT_EQ(Load(image, Patched({}, 0, 2)), 1);  // control
  EXPECT_EQ(Load(image, Patched({}, 3, 2)), 0);  // rows above the top
  EXPECT_EQ(Load(image, Patched({}, 0, 0)), 0);  // no rows
  EXPECT_EQ(Load(image, Patched({}, -1, 2)), 0);
  // A picture entry distance leading outside.
  Bytes far = good;
  far[12] = 0xF0;
  EXPECT_EQ(Load(image, far, 1), 0);
  // A stdinfo that declares a picture of gigabytes.
  Bytes huge = good;
  size_t info = 12 + 8 + 16;
  huge[info + 3] = 0x7F;
  huge[info + 7] = 0x7F;
  EXPECT_EQ(Load(image, huge), 0);
}

// What a small file may ask of the reader is bounded before anything is
// allocated: tags, slices and the rows they decode, and the picture's size
// against the data that would fill it.
TEST(Hg3, WorkIsBoundedBeforeAllocating) {
  Pixels p = SamplePixels(8, 6, 4, 3, true);
  struct Row {
    const char* label;
    Hg3Picture pic;
    int loads;
  };
  std::vector<Row> rows;
  rows.push_back({"control", SlicedPicture(0, p, {3, 3}), 1});
  Hg3Picture junk = SlicedPicture(0, p, {6});
  for (int i = 0; i < 20000; ++i) junk.tags.push_back({"junk", Bytes(4, 0)});
  rows.push_back({"more tags than any picture has", junk, 0});
  Hg3Picture many = SlicedPicture(0, p, {6});
  for (int i = 1; i < 5000; ++i) {
    char name[16];
    snprintf(name, sizeof name, "img%04d", i);
    many.tags.push_back({name, many.tags[1].data});  // the whole picture again and again
  }
  rows.push_back({"slices decoding every row many times", many, 0});
  Hg3Picture overlap = SlicedPicture(0, p, {3, 3});
  overlap.tags[2].data = overlap.tags[1].data;  // rows 0-2 twice, 3-5 never
  rows.push_back({"overlapping slices within the row count", overlap, 1});
  Hg3Picture past = SlicedPicture(0, p, {3, 3});
  past.tags.push_back({"img0002", past.tags[1].data});  // 9 rows for a picture of 6
  rows.push_back({"slices decoding more rows than the picture has", past, 0});
  Hg3Picture empty;
  empty.tags.push_back({"stdinfo", StdInfo(8192, 8192, 32)});  // 256 MiB of nothing
  rows.push_back({"a huge picture with no data", empty, 0});
  Hg3Picture thin;
  thin.tags.push_back({"stdinfo", StdInfo(8192, 4096, 32)});
  thin.tags.push_back({"img0000", SliceData(0, 1, EncodeAreas(Pixels{8192, 1, 4, Bytes(8192 * 4, 0)}))});
  rows.push_back({"a huge picture with one blank row of data", thin, 0});
  for (const Row& row : rows) {
    tqImageHg3 image;
    EXPECT_EQ(Load(image, Hg3Bytes({row.pic})), row.loads) << row.label;
  }
}

TEST(Hg3, HolderSendsEveryHg3BufferToTheHg3Class) {
  Bytes broken = {'H', 'G', '-', '3', 99, 0, 0, 0};
  tqImageHolder holder;
  holder.init();
  tqMemBlock block(broken.data(), (uint32_t)broken.size());
  EXPECT_EQ(holder.load(block, 0, 0), nullptr);
  EXPECT_EQ(holder.image(), nullptr);
  EXPECT_EQ(tqtest::Diagnostics().lines, (std::vector<std::string>{"HG3 : ヘッダサイズが違います"}));
}

}  // namespace
