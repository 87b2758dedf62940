// Hostile files of less than 1 MiB: headers that declare large pictures or
// long chunks without the data behind them. Each is refused (or, for a cut
// progressive JPEG whose data could carry its picture, loaded) without the
// process's resident memory growing by more than 64 MiB while it loads.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include <jpeglib.h>

#include "image/tqImageHolder.h"
#include "image/tqImageJpeg.h"
#include "image/tqImageWebP.h"
#include "tests/image/tqImageTestUtil.h"
#include "tests/image/tqPsdWriter.h"

using namespace imgtest;

namespace {

// Resident memory from /proc (Linux): the peak since the last reset, in KiB;
// -1 where there is no such file or the peak cannot be reset.
int64_t StatusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string key;
  int64_t value;
  while (status >> key) {
    if (key == name && status >> value) return value;
    status.ignore(4096, '\n');
  }
  return -1;
}

bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good() && StatusField("VmHWM:") >= 0;
}

void PutBe32(Bytes& b, uint32_t v) {
  const uint8_t be[4] = {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v};
  b.insert(b.end(), be, be + 4);
}

Bytes PngChunk(const char* type, const Bytes& data, uint32_t declared) {
  Bytes b;
  // (Reserved up front: GCC 12 for x86_64 Windows otherwise warns about the
  // growth of an empty vector inside the inlined inserts.)
  b.reserve(12 + data.size());
  PutBe32(b, declared);
  b.insert(b.end(), type, type + 4);
  Append(b, data);
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  crc = crc32(crc, data.data(), (uInt)data.size());
  PutBe32(b, (uint32_t)crc);
  return b;
}

Bytes PngStart(uint32_t w, uint32_t h) {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  PutBe32(ihdr, w);
  PutBe32(ihdr, h);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  Append(b, PngChunk("IHDR", ihdr, 13));
  return b;
}

// One chunk of the given type that declares a gigabyte and holds 13 bytes.
Bytes PngWithLongChunk(const char* type) {
  Bytes b = PngStart(1, 1);
  PutBe32(b, 0x3FFFFFFF);
  b.insert(b.end(), type, type + 4);
  const char* text = "abcdefghijklm";
  b.insert(b.end(), text, text + 13);
  return b;
}

// 8000 x 8000 RGB whose only image data is two rows.
Bytes PngTwoRowsOf8000() {
  Bytes data = Deflate(Bytes(2 * (8000 * 3 + 1), 0));
  Bytes b = PngStart(8000, 8000);
  Append(b, PngChunk("IDAT", data, (uint32_t)data.size()));
  Append(b, PngChunk("IEND", {}, 0));
  return b;
}

Bytes JpegOf(int w, int h, bool progressive) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long length = 0;
  jpeg_mem_dest(&cinfo, &out, &length);
  cinfo.image_width = (JDIMENSION)w;
  cinfo.image_height = (JDIMENSION)h;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  Rng rng(7);
  Bytes row((size_t)w * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (uint8_t& v : row) v = (uint8_t)rng.next();
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(out, out + length);
  free(out);
  return bytes;
}

// The frame header's height and width set to h and w.
Bytes WithJpegSize(Bytes jpeg, uint16_t w, uint16_t h) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
      jpeg[i + 5] = (uint8_t)(h >> 8);
      jpeg[i + 6] = (uint8_t)h;
      jpeg[i + 7] = (uint8_t)(w >> 8);
      jpeg[i + 8] = (uint8_t)w;
      break;
    }
  return jpeg;
}

Bytes BmpHeaderOnly(int32_t w, int32_t h, uint16_t bits, uint32_t compression, size_t dataBytes) {
  Bytes b = {'B', 'M'};
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 54 + (bits <= 8 ? 4u << bits : 0));
  Put32(b, 40);
  Put32(b, (uint32_t)w);
  Put32(b, (uint32_t)h);
  Put16(b, 1);
  Put16(b, bits);
  Put32(b, compression);
  b.resize(54 + (bits <= 8 ? 4u << bits : 0), 0);
  for (size_t i = 0; i < dataBytes; i += 2) b.insert(b.end(), {255, 1});
  return b;
}

Bytes PsdHeaderOnly(uint32_t w, uint32_t h, uint16_t depth, bool large) {
  psdtest::Document doc;
  doc.width = 1;
  doc.height = 1;
  doc.depth = depth;
  doc.large = large;
  doc.withLayerInfo = false;
  doc.compression = 1;
  for (int c = 0; c < 3; ++c) doc.planes.push_back(Bytes(depth / 8, 7));
  Bytes b = psdtest::Write(doc);
  psdtest::SetBe32(b, 14, h);
  psdtest::SetBe32(b, 18, w);
  return b;
}

// A lossy WebP whose frame header declares 8000 x 8000.
Bytes WebPOf8000() {
  tqImageWebP source;
  Fill(source, SamplePixels(16, 16, 3, 3, false));
  tqMemBlock out;
  if (!source.save(out, 0, 0, 0, 0)) return {};
  Bytes b(out.data, out.data + out.size);
  if (b.size() < 30 || memcmp(b.data() + 12, "VP8 ", 4) != 0) return {};
  b[26] = (uint8_t)(8000 & 0xFF);
  b[27] = (uint8_t)(8000 >> 8);
  b[28] = (uint8_t)(8000 & 0xFF);
  b[29] = (uint8_t)(8000 >> 8);
  return b;
}

}  // namespace

TEST(ImageMemory, HostileSmallFilesStayWithin64MiB) {
  // Without resident-memory figures (other systems) only the results are
  // checked.
  const bool measure = ResetPeak();
  const Bytes progressive = JpegOf(2000, 2000, true);
  struct Case {
    std::string what;
    Bytes file;
    bool loads;
  } cases[] = {
      {"PNG tEXt of 1 GiB", PngWithLongChunk("tEXt"), false},
      {"PNG zTXt of 1 GiB", PngWithLongChunk("zTXt"), false},
      {"PNG iTXt of 1 GiB", PngWithLongChunk("iTXt"), false},
      {"PNG sPLT of 1 GiB", PngWithLongChunk("sPLT"), false},
      {"PNG pCAL of 1 GiB", PngWithLongChunk("pCAL"), false},
      {"PNG sCAL of 1 GiB", PngWithLongChunk("sCAL"), false},
      {"PNG iCCP of 1 GiB", PngWithLongChunk("iCCP"), false},
      {"PNG unknown chunk of 1 GiB", PngWithLongChunk("quUX"), false},
      {"PNG 8000 x 8000 with two rows of data", PngTwoRowsOf8000(), false},
      {"JPEG header of 8000 x 8000 on 64 x 64 data", WithJpegSize(JpegOf(64, 64, false), 8000, 8000), false},
      {"progressive JPEG of 2000 x 2000 cut to 12 KiB", Bytes(progressive.begin(), progressive.begin() + 12288),
       true},
      {"BMP run lengths of 8000 x 8000 in 16 bytes", BmpHeaderOnly(8000, 8000, 8, 1, 16), false},
      {"BMP of 8000 x 8000 without rows", BmpHeaderOnly(8000, 8000, 24, 0, 64), false},
      {"BMP of 8000 x 8000 with masks, without rows", BmpHeaderOnly(8000, 8000, 32, 3, 64), false},
      {"PSD of 30000 x 30000", PsdHeaderOnly(30000, 30000, 8, false), false},
      {"PSD of 30000 x 30000, 16 bits", PsdHeaderOnly(30000, 30000, 16, false), false},
      {"large PSD of 8000 x 8000", PsdHeaderOnly(8000, 8000, 8, true), false},
      {"large PSD of 300000 x 300000", PsdHeaderOnly(300000, 300000, 16, true), false},
      {"WebP frame of 8000 x 8000", WebPOf8000(), false},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.file.empty()) << c.what;
    ASSERT_LT(c.file.size(), 1u << 20) << c.what;
    if (measure) {
      ASSERT_TRUE(ResetPeak());
    }
    const int64_t before = StatusField("VmRSS:");
    {
      tqImageHolder holder;
      holder.init();
      tqMemBlock block(c.file.data(), (uint32_t)c.file.size());
      EXPECT_EQ(holder.load(block, 0, 0) != nullptr, c.loads) << c.what;
    }
    if (!measure) continue;
    const int64_t grown = StatusField("VmHWM:") - before;
    EXPECT_LT(grown, 64 * 1024) << c.what << ": resident memory grew by " << grown << " KiB";
  }
}
