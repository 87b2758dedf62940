// JPEG, PNG, WebP, BMP, PSD and TQF adapters, and the holder's format tests
// in their order.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "image/tqImageBmp.h"
#include "image/tqImageBytes.h"
#include "image/tqImageHolder.h"
#include "image/tqImageJpeg.h"
#include "image/tqImagePng.h"
#include "image/tqImagePsd.h"
#include "image/tqImageTqf.h"
#include "image/tqImageWebP.h"
#include "tests/image/tqImageTestUtil.h"
#include "tests/support/tqTestSupport.h"

using namespace imgtest;

namespace {

Bytes Saved(tqImage& image) {
  tqMemBlock out;
  if (!image.save(out, 0, 0, 0, 0)) return {};
  return Bytes(out.data, out.data + out.size);
}

int LoadInto(tqImage& image, const Bytes& bytes) {
  tqMemBlock block(bytes.data(), (uint32_t)bytes.size());
  return image.load(block, 0);
}

// ------------------------------------------------------------ PNG fixtures

void PngWrite(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

// A PNG of the given colour type and depth from packed rows.
Bytes MakePng(int w, int h, int colour, int depth, const std::vector<Bytes>& rows, const Bytes& palette = {},
              const Bytes& trns = {}) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_IHDR(png, info, w, h, depth, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> entries;
  for (size_t i = 0; i + 2 < palette.size(); i += 3) entries.push_back({palette[i], palette[i + 1], palette[i + 2]});
  if (!entries.empty()) png_set_PLTE(png, info, entries.data(), (int)entries.size());
  if (!trns.empty()) png_set_tRNS(png, info, trns.data(), (int)trns.size(), nullptr);
  png_write_info(png, info);
  for (const Bytes& row : rows) png_write_row(png, row.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

TEST(Png, PaletteWithTransparencyLoadsAsBgra) {
  Bytes png = MakePng(2, 1, PNG_COLOR_TYPE_PALETTE, 8, {{0, 1}}, {10, 20, 30, 40, 50, 60}, {128});
  tqImagePng image;
  ASSERT_EQ(LoadInto(image, png), 1);
  EXPECT_EQ(image.bytesPerPixel(), 4);
  EXPECT_EQ(Rows(image), (Bytes{30, 20, 10, 128, 60, 50, 40, 255}));
}

TEST(Png, OneBitGreyLoadsAsEqualChannels) {
  Bytes png = MakePng(3, 2, PNG_COLOR_TYPE_GRAY, 1, {{0xA0}, {0x40}});  // 101 / 010
  tqImagePng image;
  ASSERT_EQ(LoadInto(image, png), 1);
  EXPECT_EQ(image.bytesPerPixel(), 3);
  EXPECT_EQ(image.pitch(), 12);
  EXPECT_EQ(Rows(image), (Bytes{255, 255, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0}));
}

TEST(Png, GreyWithAlphaKeepsItsAlpha) {
  Bytes png = MakePng(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{7, 100, 9, 255}});
  tqImagePng image;
  ASSERT_EQ(LoadInto(image, png), 1);
  EXPECT_EQ(Rows(image), (Bytes{7, 7, 7, 100, 9, 9, 9, 255}));
}

TEST(Png, SaveThenLoadKeepsBlueFirstOrder) {
  for (int bpp : {3, 4}) {
    tqImagePng source;
    Pixels p = SamplePixels(13, 5, bpp, 4, bpp == 4);
    p.at(0, 0)[3 % bpp] = 255;
    Fill(source, p);
    Bytes png = Saved(source);
    ASSERT_FALSE(png.empty());
    tqImagePng back;
    ASSERT_EQ(LoadInto(back, png), 1);
    EXPECT_EQ(Rows(back), p.bytes) << bpp;
  }
}

TEST(Png, BrokenStreamsFailCleanly) {
  tqImagePng source;
  Fill(source, SamplePixels(20, 20, 4, 4, true));
  Bytes png = Saved(source);
  for (size_t cut : {size_t{8}, size_t{30}, png.size() / 2, png.size() - 13}) {
    Bytes part(png.begin(), png.begin() + cut);
    tqImagePng image;
    EXPECT_EQ(LoadInto(image, part), 0) << cut;
  }
  Bytes flipped = png;
  flipped[png.size() / 2] ^= 0x55;
  tqImagePng image;
  EXPECT_EQ(LoadInto(image, flipped), 0);
}

// ------------------------------------------------------------ JPEG

Bytes MakeJpeg(int w, int h) {
  tqImageJpeg source;
  Fill(source, SamplePixels(w, h, 3, 1, false));
  return Saved(source);
}

TEST(Jpeg, LoadsRedFirstWithAPaddedPitch) {
  tqImageJpeg source;
  Pixels p{5, 2, 3, {}};
  for (int i = 0; i < 10; ++i) p.bytes.insert(p.bytes.end(), {250, 10, 10});  // red in libjpeg's order
  Fill(source, p);
  Bytes jpeg = Saved(source);
  tqImageJpeg image;
  ASSERT_EQ(LoadInto(image, jpeg), 1);
  EXPECT_EQ(image.pitch(), 16);
  int w, h;
  image.canvasSize(&w, &h);
  EXPECT_EQ(w * 10 + h, 52);
  EXPECT_GT(image.pixels()[0], 200);
  EXPECT_LT(image.pixels()[2], 60);
}

TEST(Jpeg, ShortAndHeaderlessBuffersFail) {
  Bytes jpeg = MakeJpeg(16, 16);
  tqImageJpeg image;
  EXPECT_EQ(LoadInto(image, Bytes(jpeg.begin(), jpeg.begin() + 10)), 0);
  EXPECT_FALSE(tqImageJpeg::isJpeg(jpeg.data(), 10));
  // Eleven bytes reach libjpeg, whose header read cannot complete: a
  // failure, not a success without pixels.
  EXPECT_EQ(LoadInto(image, Bytes(jpeg.begin(), jpeg.begin() + 11)), 0);
  EXPECT_EQ(image.pixels(), nullptr);
  Bytes garbage = {0xFF, 0xD8, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22, 0x33};
  EXPECT_EQ(LoadInto(image, garbage), 0);
  EXPECT_TRUE(tqtest::Diagnostics().lines.empty());
}

TEST(Jpeg, TruncatedStreamWithACompleteHeaderLoads) {
  Bytes jpeg = MakeJpeg(64, 64);
  Bytes cut(jpeg.begin(), jpeg.begin() + jpeg.size() * 2 / 3);
  tqImageJpeg image;
  ASSERT_EQ(LoadInto(image, cut), 1);
  EXPECT_EQ(image.width() * 100 + image.height(), 6464);
}

TEST(Jpeg, SavingFourBytesWritesCmyk) {
  tqImageJpeg source;
  Fill(source, SamplePixels(8, 8, 4, 2, false));
  Bytes jpeg = Saved(source);
  ASSERT_FALSE(jpeg.empty());
  EXPECT_TRUE(tqImageJpeg::isJpeg(jpeg.data(), (uint32_t)jpeg.size()));
  tqImageJpeg tiny;
  tiny.create(2, 2, 2);
  EXPECT_TRUE(Saved(tiny).empty());
}

// A flat w x h JPEG of four-component samples written by libjpeg as CMYK or
// YCCK, with or without the Adobe marker (libjpeg writes one by default).
Bytes MakeFourComponentJpeg(int w, int h, J_COLOR_SPACE space, bool adobe, const uint8_t cmyk[4]) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long length = 0;
  jpeg_mem_dest(&cinfo, &out, &length);
  cinfo.image_width = (JDIMENSION)w;
  cinfo.image_height = (JDIMENSION)h;
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, space);
  jpeg_set_quality(&cinfo, 100, TRUE);
  cinfo.write_Adobe_marker = adobe ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  Bytes row;
  for (int x = 0; x < w; ++x) row.insert(row.end(), cmyk, cmyk + 4);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(out, out + length);
  free(out);
  return bytes;
}

// Four-component files come out red, green, blue. The samples are inverted
// inks (255 is no ink), with or without the Adobe marker: red = C x K / 255.
// (Cross-checked with another decoder.)
TEST(Jpeg, CmykAndYcckBecomeRgb) {
  struct Case {
    const char* what;
    J_COLOR_SPACE space;
    bool adobe;
    uint8_t cmyk[4];
    uint8_t rgb[3];
  } cases[] = {
      {"CMYK, no black", JCS_CMYK, true, {255, 128, 0, 255}, {255, 128, 0}},
      {"CMYK, half black", JCS_CMYK, true, {255, 200, 60, 128}, {128, 100, 30}},
      {"YCCK, no black", JCS_YCCK, true, {255, 128, 0, 255}, {255, 128, 0}},
      {"YCCK, half black", JCS_YCCK, true, {40, 200, 255, 128}, {20, 100, 128}},
      {"CMYK without the Adobe marker", JCS_CMYK, false, {0, 128, 255, 51}, {0, 26, 51}},
  };
  for (const Case& c : cases) {
    Bytes jpeg = MakeFourComponentJpeg(19, 9, c.space, c.adobe, c.cmyk);
    tqMemBlock block(jpeg.data(), (uint32_t)jpeg.size());
    EXPECT_EQ(tqImageHolder::formatOf(block), TQIMAGE_JPEG) << c.what;
    tqImageJpeg image;
    ASSERT_EQ(image.load(block, 0), 1) << c.what;
    EXPECT_EQ(image.bytesPerPixel(), 3) << c.what;
    EXPECT_EQ(image.pitch(), 60) << c.what;
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 19; ++x)
        for (int i = 0; i < 3; ++i) {
          const int got = image.pixels()[y * image.pitch() + x * 3 + i];
          ASSERT_NEAR(got, c.rgb[i], 3) << c.what << " at " << x << "," << y << " channel " << i;
        }
  }
}

// A header that declares far more pixels than its data could carry is
// refused before the picture is made; a cut file that still could is not.
TEST(Jpeg, HeadersBeyondTheirDataAreRefused) {
  Bytes jpeg = MakeJpeg(64, 64);
  // The frame header's height and width follow its marker, length and
  // sample precision.
  size_t sof = 2;
  while (sof + 1 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) ++sof;
  ASSERT_LT(sof + 9, jpeg.size());
  Bytes huge = jpeg;
  huge[sof + 5] = 0x1F;  // 8000 rows
  huge[sof + 6] = 0x40;
  huge[sof + 7] = 0x1F;  // 8000 columns
  huge[sof + 8] = 0x40;
  tqImageJpeg image;
  EXPECT_EQ(LoadInto(image, huge), 0);
  EXPECT_EQ(image.pixels(), nullptr);
  Bytes wide = jpeg;
  wide[sof + 7] = 0x01;  // 256 columns: 16 Ki pixels, within what the data can carry
  wide[sof + 8] = 0x00;
  EXPECT_EQ(LoadInto(image, wide), 1);
  EXPECT_EQ(image.width(), 256);
}

// ------------------------------------------------------------ WebP

TEST(WebP, SaveAndLoadKeepRedAndBlueInPlace) {
  tqImageWebP source;
  Pixels p{16, 16, 4, {}};
  for (int i = 0; i < 256; ++i) p.bytes.insert(p.bytes.end(), {240, 20, 10, 255});
  Fill(source, p);
  Bytes webp = Saved(source);
  ASSERT_FALSE(webp.empty());
  tqImageWebP back;
  ASSERT_EQ(LoadInto(back, webp), 1);
  EXPECT_EQ(back.bytesPerPixel(), 4);
  EXPECT_EQ(back.pitch(), 64);
  EXPECT_GT(back.pixels()[0], 200);
  EXPECT_LT(back.pixels()[2], 50);
  EXPECT_EQ(LoadInto(back, Bytes(webp.begin(), webp.begin() + webp.size() / 2)), 0);
  EXPECT_EQ(back.pixels(), nullptr);
}

// ------------------------------------------------------------ BMP

Bytes BmpHeader(int headerSize, int w, int h, int bits) {
  Bytes b = {'B', 'M'};
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, (uint32_t)headerSize);
  if (headerSize == 12) {
    Put16(b, (uint16_t)w);
    Put16(b, (uint16_t)h);
    Put16(b, 1);
    Put16(b, (uint16_t)bits);
  } else {
    Put32(b, (uint32_t)w);
    Put32(b, (uint32_t)h);
    Put16(b, 1);
    Put16(b, (uint16_t)bits);
  }
  b.resize(54, 0);
  return b;
}

TEST(Bmp, TwentyFourBitRowsArePaddedToFourBytes) {
  Bytes bmp = BmpHeader(40, 1, 2, 24);
  Append(bmp, {1, 2, 3, 0xEE, 4, 5, 6, 0xEE});
  tqImageBmp image;
  ASSERT_EQ(LoadInto(image, bmp), 1);
  EXPECT_EQ(Rows(image), (Bytes{1, 2, 3, 255, 4, 5, 6, 255}));
}

TEST(Bmp, CoreHeaderStillReadsFromOffset54) {
  Bytes bmp = BmpHeader(12, 2, 1, 32);
  Append(bmp, {1, 2, 3, 4, 5, 6, 7, 8});
  tqImageBmp image;
  ASSERT_EQ(LoadInto(image, bmp), 1);
  EXPECT_EQ(Rows(image), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  Bytes shortFile = BmpHeader(40, 4, 4, 32);
  EXPECT_EQ(LoadInto(image, shortFile), 0);
}

TEST(Bmp, SaveWritesTheBufferWithItsPadding) {
  tqImageBmp source;
  Fill(source, Pixels{1, 2, 3, {1, 2, 3, 4, 5, 6}});
  Bytes bmp = Saved(source);
  ASSERT_EQ(bmp.size(), 54u + 8u);
  tqByteView v{bmp.data(), bmp.size()};
  EXPECT_EQ(v.u32(2), 62u);
  EXPECT_EQ(v.u16(28), 24);
  EXPECT_EQ(v.u32(34), 8u);
  EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), (Bytes{1, 2, 3, 0, 4, 5, 6, 0}));
}

// ------------------------------------------------------------ PSD

Bytes PsdRunLength(int w, int h, const std::vector<Bytes>& channelData) {
  Bytes b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3};
  auto be32 = [&](uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back((uint8_t)(v >> s));
  };
  be32((uint32_t)h);
  be32((uint32_t)w);
  b.insert(b.end(), {0, 8, 0, 3});
  be32(0);  // colour mode data
  be32(0);  // image resources
  be32(0);  // layers and masks
  b.insert(b.end(), {0, 1});
  b.resize(b.size() + (size_t)h * 3 * 2, 0);
  for (const Bytes& c : channelData) Append(b, c);
  return b;
}

TEST(Psd, RunLengthHeader128IsANoOp) {
  // 37 x 2 RGB as common writers save it: every row ends with the 0x80 pad,
  // and one row has a pad in its middle.
  Bytes psd = PsdRunLength(37, 2,
                           {{0xDC, 10, 0x80, 0x80, 0x01, 11, 12, 0xDE, 13, 0x80},
                            {0xDC, 20, 0x80, 0xDC, 21, 0x80},
                            {0xDC, 30, 0x80, 0xDC, 31}});
  ASSERT_TRUE(tqImagePsd::isPsd(psd.data(), (uint32_t)psd.size()));
  tqImagePsd image;
  ASSERT_EQ(LoadInto(image, psd), 1);
  Bytes expected;
  // The file's second row comes first in memory.
  for (int x = 0; x < 37; ++x) {
    uint8_t red = x == 0 ? 11 : x == 1 ? 12 : 13;
    expected.insert(expected.end(), {31, 21, red, 255});
  }
  for (int x = 0; x < 37; ++x) expected.insert(expected.end(), {30, 20, 10, 255});
  EXPECT_EQ(Rows(image), expected);
  // Header 129 repeats 128 times, 255 twice.
  Bytes runs = PsdRunLength(130, 1, {{129, 1, 255, 2}, {129, 3, 255, 4}, {129, 5, 255, 6}});
  ASSERT_EQ(LoadInto(image, runs), 1);
  Bytes rows = Rows(image);
  ASSERT_EQ(rows.size(), 130u * 4);
  EXPECT_EQ(Bytes(rows.begin() + 127 * 4, rows.begin() + 129 * 4), (Bytes{5, 3, 1, 255, 6, 4, 2, 255}));
  // The rows are turned over: the file's first row is the last in memory.
  Bytes two = PsdRunLength(1, 2, {{1, 1, 2}, {1, 3, 4}, {1, 5, 6}});
  ASSERT_EQ(LoadInto(image, two), 1);
  EXPECT_EQ(Rows(image), (Bytes{6, 4, 2, 255, 5, 3, 1, 255}));
  // Run-length data that stops early is refused.
  EXPECT_EQ(LoadInto(image, PsdRunLength(37, 1, {{0xDC, 10}, {0xDC, 20}, {0x80, 0x80}})), 0);
  // So is a header that asks for gigabytes with a few bytes of data.
  Bytes huge = PsdRunLength(1, 1, {{0, 1}, {0, 2}, {0, 3}});
  huge[16] = huge[17] = huge[20] = huge[21] = 0xEA;
  EXPECT_EQ(LoadInto(image, huge), 0);
}

// ------------------------------------------------------------ TQF

TEST(Tqf, SaveThenLoadKeepsPitchAndClearsTransparentColour) {
  tqImageTqf source;
  Pixels p = SamplePixels(7, 5, 4, 6, true);
  Fill(source, p);
  Bytes tqf = Saved(source);
  ASSERT_FALSE(tqf.empty());
  tqImageTqf back;
  ASSERT_EQ(LoadInto(back, tqf), 1);
  EXPECT_EQ(back.pitch(), 28);
  for (size_t i = 0; i < p.bytes.size(); i += 4)
    if (p.bytes[i + 3] == 0) p.bytes[i] = p.bytes[i + 1] = p.bytes[i + 2] = 0;
  EXPECT_EQ(Rows(back), p.bytes);
}

TEST(Tqf, ShortInputIsLiteralsAndRunsMatchAtDistanceOne) {
  uint8_t two[2] = {5, 6};
  Bytes out(64);
  uint32_t n = tqLzCompress(two, 2, out.data(), 1);
  tqByteView v{out.data(), n};
  EXPECT_EQ(v.u32(12), 1u);  // one flag byte
  EXPECT_EQ(out[28], 0);     // both literals
  EXPECT_EQ(out[29], 5);
  EXPECT_EQ(out[30], 6);
  Bytes same(20, 9);
  n = tqLzCompress(same.data(), 20, out.data(), 1);
  v = tqByteView{out.data(), n};
  uint32_t F = v.u32(12);
  EXPECT_EQ(out[28] & 1, 0);  // a literal first
  EXPECT_EQ(out[28] & 2, 2);  // then a match
  const uint8_t* data = out.data() + 28 + F;
  EXPECT_EQ(data[0], 9);
  uint32_t word = data[1] | data[2] << 8;
  EXPECT_EQ(word >> 4, 0u);        // distance 1
  EXPECT_EQ((word & 15) + 3, 18u);  // the longest match of mode 1
  Bytes back(20);
  EXPECT_EQ(tqLzDecompress(out.data(), n, back.data()), 20u);
  EXPECT_EQ(back, same);
}

TEST(Tqf, HostileStreamsAreRefused) {
  Bytes input(300);
  Rng rng(3);
  for (auto& b : input) b = (uint8_t)(rng.next() % 4);
  for (int mode = 0; mode < 5; ++mode) {
    Bytes stream(1000);
    uint32_t n = tqLzCompress(input.data(), 300, stream.data(), mode);
    stream.resize(n);
    Bytes back(300);
    ASSERT_EQ(tqLzDecompress(stream.data(), n, back.data()), 300u);
    EXPECT_EQ(back, input);
    for (uint32_t cut = 0; cut < n; cut += 7) EXPECT_EQ(tqLzDecompress(stream.data(), cut, back.data()), 0u);
  }
  // A match before the start of the output.
  Bytes bad = {'T', 'Q', 'L', 'Z', 1, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 28, 0, 0, 0, 29, 0, 0, 0,
               0x01, 0x10, 0x00, 0x00};
  Bytes out(4);
  EXPECT_EQ(tqLzDecompress(bad.data(), (uint32_t)bad.size(), out.data()), 0u);
}

// ------------------------------------------------------------ holder

TEST(Holder, FormatTestsInTheirOrder) {
  tqImagePng png;
  Fill(png, SamplePixels(3, 3, 3, 1, false));
  tqImageWebP webp;
  Fill(webp, SamplePixels(3, 3, 4, 1, false));
  tqImageTqf tqf;
  Fill(tqf, SamplePixels(3, 3, 3, 1, false));
  Bytes bmp = BmpHeader(40, 1, 1, 32);
  Append(bmp, {1, 2, 3, 4});
  Bytes bmp16 = BmpHeader(40, 1, 1, 16);
  Append(bmp16, {1, 2, 3, 4});
  // A bit count no bitmap has: not taken as BMP.
  Bytes bmp12 = BmpHeader(40, 1, 1, 12);
  Append(bmp12, {1, 2, 3, 4});
  // The core header keeps its bit count at byte 24, not 28.
  Bytes core = BmpHeader(12, 1, 1, 24);
  core[28] = 0xEE;
  Append(core, {1, 2, 3, 0});
  struct Case {
    const char* what;
    Bytes bytes;
    int type;
  } cases[] = {
      {"HG-3", {'H', 'G', '-', '3'}, TQIMAGE_HG3},
      {"HG-2", {'H', 'G', '-', '2'}, TQIMAGE_HG2},
      {"PNG", Saved(png), TQIMAGE_PNG},
      {"JPEG", MakeJpeg(8, 8), TQIMAGE_JPEG},
      {"BMP", bmp, TQIMAGE_BMP},
      {"BMP of 16 bits", bmp16, TQIMAGE_BMP},
      {"BMP with a core header", core, TQIMAGE_BMP},
      {"BM with 12 bits per pixel", bmp12, TQIMAGE_NONE},
      {"PSD", PsdRunLength(1, 1, {{0, 1}, {0, 2}, {0, 3}}), TQIMAGE_PSD},
      {"WebP", Saved(webp), TQIMAGE_WEBP},
      {"TQF", Saved(tqf), TQIMAGE_TQF},
      {"nothing", {'x', 'y', 'z', 'w', 0, 0, 0, 0, 0, 0, 0, 0}, TQIMAGE_NONE},
  };
  for (const Case& c : cases) {
    tqMemBlock block(c.bytes.data(), (uint32_t)c.bytes.size());
    EXPECT_EQ(tqImageHolder::formatOf(block), c.type) << c.what;
  }
  tqImageHolder holder;
  holder.init();
  tqMemBlock block(bmp12.data(), (uint32_t)bmp12.size());
  EXPECT_EQ(holder.load(block, 0, 0), nullptr);
  EXPECT_EQ(tqtest::Diagnostics().lines, (std::vector<std::string>{"展開できないイメージです"}));
}

TEST(Holder, NormaliseToCanvasPlacesThePicture) {
  tqImagePng png;
  Fill(png, Pixels{1, 1, 4, {1, 2, 3, 255}});
  Bytes bytes = Saved(png);
  tqImageHolder holder;
  holder.init();
  tqMemBlock block(bytes.data(), (uint32_t)bytes.size());
  ASSERT_NE(holder.load(block, 1, 0), nullptr);
  EXPECT_EQ(holder.type(), TQIMAGE_PNG);
  // A canvas larger than the picture, with an offset: the picture moves.
  holder.image()->setCanvasSize(3, 2);
  holder.image()->setOffset(2, 1);
  holder.normaliseToCanvas();
  int w, h;
  holder.size(&w, &h);
  EXPECT_EQ(w * 10 + h, 32);
  EXPECT_EQ(holder.pitch(), 12);
  Bytes expected(24, 0);
  expected[20] = 1;
  expected[21] = 2;
  expected[22] = 3;
  expected[23] = 255;
  EXPECT_EQ(Rows(*holder.image()), expected);
}

}  // namespace
