// tqimage commands, run in-process on files written by the test-only HG-3
// writer.
#ifdef TQ_HAVE_TQIMAGE_TOOL
#include <gtest/gtest.h>

#include "image/tqImagePng.h"
#include "platform/tqPlatform.h"
#include "tests/image/tqImageTestUtil.h"
#include "tests/image/tqPsdWriter.h"
#include "tests/support/tqTestSupport.h"
#include "tools/tqimage/tqImageTool.h"

using namespace imgtest;

namespace {

struct ToolRun {
  int status;
  std::string out, err;
};

// A scratch stream in a folder of the tests' own (tmpfile() writes to the
// drive's root on Windows, which may refuse it).
FILE* Scratch() {
  static tqtest::TempDir dir;
  static int counter = 0;
  std::string path = dir / ("stream" + std::to_string(counter++) + ".txt");
#ifndef _WIN32
  std::string system;
  if (!tqp::ToSystemPath(path.c_str(), system)) return nullptr;
  path = system;
#endif
  return fopen(path.c_str(), "w+b");
}

std::string Slurp(FILE* f) {
  std::string text;
  if (!f) return text;
  rewind(f);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

ToolRun Tool(std::vector<std::string> args) {
  args.insert(args.begin(), "tqimage");
  std::vector<const char*> argv;
  for (auto& a : args) argv.push_back(a.c_str());
  FILE* out = Scratch();
  FILE* err = Scratch();
  if (!out || !err) {
    ADD_FAILURE() << "no scratch stream";
    return ToolRun{-1, Slurp(out), Slurp(err)};
  }
  int status = tqImageTool((int)argv.size(), argv.data(), out, err);
  return ToolRun{status, Slurp(out), Slurp(err)};
}

Bytes FileBytes(const std::string& path) {
  std::string s = tqtest::ReadFile(path);
  return Bytes(s.begin(), s.end());
}

// The rows of a PNG file written by the tool; empty when it does not load.
Bytes PngFileRows(const std::string& path) {
  tqImagePng image;
  Bytes bytes = FileBytes(path);
  tqMemBlock block(bytes.data(), (uint32_t)bytes.size());
  return image.load(block, 0) ? Rows(image) : Bytes{};
}

class ToolTest : public testing::Test {
 protected:
  void SetUp() override {
    a = SamplePixels(40, 30, 4, 1, false);
    b = SamplePixels(17, 9, 3, 2, false);
    Hg3Picture first, second;
    first.id = 10;
    first.tags.push_back({"stdinfo", StdInfo(40, 30, 32, 5, 6, 64, 48, 0, 7, 8)});
    first.tags.push_back({"img0000", SliceData(0, 30, EncodeAreas(a))});
    first.tags.push_back({"cptype", {2, 0, 0, 0}});
    second.id = 20;
    second.tags.push_back({"stdinfo", StdInfo(17, 9, 24)});
    second.tags.push_back({"img0000", SliceData(0, 9, EncodeAreas(b))});
    Bytes file = Hg3Bytes({first, second});
    hg3 = dir / "pictures.hg3";
    ASSERT_TRUE(tqtest::WriteFile(hg3, std::string(file.begin(), file.end())));
  }
  tqtest::TempDir dir;
  std::string hg3;
  Pixels a, b;
};

TEST_F(ToolTest, InfoPrintsOneLinePerValue) {
  ToolRun r = Tool({"info", hg3, "--id", "10"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "format: HG-3\nwidth: 40\nheight: 30\nbytesPerPixel: 4\npitch: 160\ncanvasWidth: 64\ncanvasHeight: 48\n"
            "offsetX: 5\noffsetY: 6\nalphaState: 1\nuserValue1: 7\nuserValue2: 8\ncptype: 2\nimgmode: 0\n");
  r = Tool({"info", hg3, "--index", "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("width: 17\n"), std::string::npos);
  EXPECT_NE(r.out.find("canvasWidth: 17\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nid: 20\n"), std::string::npos);
}

TEST_F(ToolTest, RawWritesTheRowsUnpadded) {
  std::string out = dir / "b.raw";
  ToolRun r = Tool({"raw", hg3, out, "--id", "20"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FileBytes(out), b.bytes);
}

TEST_F(ToolTest, ConversionsKeepThePixels) {
  // PNG, BMP, HG-2 and TQF are lossless: converting each back to raw rows
  // gives the picture again, top row first.
  for (const char* ext : {"png", "bmp", "hg2", "hg3", "tqf"}) {
    std::string converted = dir / (std::string("a.") + ext);
    ToolRun r = Tool({"convert", hg3, converted, "--id", "10"});
    ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
    std::string png = dir / (std::string("a-") + ext + ".png");
    // HG-2 and HG-3 keep the picture's identifier.
    const bool native = std::string(ext) == "hg2" || std::string(ext) == "hg3";
    r = Tool({"convert", converted, png, "--id", native ? "10" : "0"});
    ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
    EXPECT_EQ(PngFileRows(png), a.bytes) << ext;
  }
  // The lossy ones at least keep the size.
  for (const char* ext : {"jpg", "webp"}) {
    std::string converted = dir / (std::string("a.") + ext);
    ASSERT_EQ(Tool({"convert", hg3, converted, "--index", "0"}).status, 0) << ext;
    ToolRun r = Tool({"info", converted});
    EXPECT_NE(r.out.find("width: 40\nheight: 30\n"), std::string::npos) << ext << r.out;
  }
}

TEST_F(ToolTest, PngToBitmapAndTqfAndBack) {
  // From PNG (top row first) to the bottom-row-first bitmap and to TQF, and
  // back to PNG: the same rows, the same way up.
  std::string png = dir / "start.png";
  ASSERT_EQ(Tool({"convert", hg3, png, "--id", "10"}).status, 0);
  for (const char* ext : {"bmp", "tqf"}) {
    std::string converted = dir / (std::string("from-png.") + ext);
    ToolRun r = Tool({"convert", png, converted});
    ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
    std::string back = dir / (std::string("back-") + ext + ".png");
    r = Tool({"convert", converted, back});
    ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
    EXPECT_EQ(PngFileRows(back), a.bytes) << ext;
  }
  // The bitmap on disk is bottom row first: its first stored row is the
  // picture's last.
  Bytes bmp = FileBytes(dir / "from-png.bmp");
  ASSERT_GE(bmp.size(), 54u + 40u * 4);
  EXPECT_TRUE(std::equal(bmp.begin() + 54, bmp.begin() + 54 + 40 * 4, a.bytes.end() - 40 * 4));
}

TEST_F(ToolTest, PsdConvertsTheRightWayUp) {
  // The merged picture of a 3 x 2 run-length file: PNG rows come out in the
  // file's order, top row first.
  psdtest::Document doc;
  doc.width = 3;
  doc.height = 2;
  doc.compression = 1;
  doc.planes = {{10, 11, 12, 13, 14, 15}, {20, 21, 22, 23, 24, 25}, {30, 31, 32, 33, 34, 35}};
  Bytes psd = psdtest::Write(doc);
  std::string in = dir / "layers.psd", out = dir / "layers.png";
  ASSERT_TRUE(tqtest::WriteFile(in, std::string(psd.begin(), psd.end())));
  ToolRun r = Tool({"convert", in, out});
  ASSERT_EQ(r.status, 0) << r.err;
  Bytes expected;
  for (int i = 0; i < 6; ++i) expected.insert(expected.end(), {(uint8_t)(30 + i), (uint8_t)(20 + i), (uint8_t)(10 + i), 255});
  EXPECT_EQ(PngFileRows(out), expected);
}

TEST_F(ToolTest, KindsFromOtherEditorsConvert) {
  // A large greyscale document of 16 bits per channel, and a bitmap with a
  // V5 header and a palette; both 2 x 2, top row first in the PNG.
  psdtest::Document doc;
  doc.width = 2;
  doc.height = 2;
  doc.depth = 16;
  doc.mode = 1;
  doc.large = true;
  doc.withLayerInfo = false;
  doc.planes = {{0x10, 0x00, 0x20, 0x7F, 0xFF, 0xFF, 0x00, 0x80}};
  Bytes psd = psdtest::Write(doc);
  Bytes bmp = {'B', 'M'};
  Put32(bmp, 0);
  Put32(bmp, 0);
  Put32(bmp, 14 + 124 + 8);
  Put32(bmp, 124);
  Put32(bmp, 2);
  Put32(bmp, 2);
  Put16(bmp, 1);
  Put16(bmp, 8);
  Put32(bmp, 0);
  Put32(bmp, 8);
  bmp.resize(14 + 32, 0);
  Put32(bmp, 2);  // colours used
  bmp.resize(14 + 124, 0);
  Append(bmp, {1, 2, 3, 0, 7, 8, 9, 0});  // palette
  Append(bmp, {0, 1, 0, 0, 1, 1, 0, 0});  // bottom row, then top row
  struct Case {
    const char* name;
    Bytes file;
    Bytes expected;
  } cases[] = {
      {"grey.psb", psd, {16, 16, 16, 255, 32, 32, 32, 255, 255, 255, 255, 255, 0, 0, 0, 255}},
      {"palette.bmp", bmp, {7, 8, 9, 255, 7, 8, 9, 255, 1, 2, 3, 255, 7, 8, 9, 255}},
  };
  for (const Case& c : cases) {
    std::string in = dir / c.name, out = dir / (std::string(c.name) + ".png");
    ASSERT_TRUE(tqtest::WriteFile(in, std::string(c.file.begin(), c.file.end())));
    ToolRun r = Tool({"convert", in, out});
    ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_EQ(PngFileRows(out), c.expected) << c.name;
  }
}

TEST_F(ToolTest, FailuresExitNonZeroWithAMessage) {
  ToolRun r = Tool({"convert", hg3, dir / "a.gif", "--id", "10"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("unknown output type"), std::string::npos);
  r = Tool({"info", dir / "missing.hg3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos);
  r = Tool({"info", hg3, "--id", "99"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("does not decode"), std::string::npos);
  std::string text = dir / "note.txt";
  ASSERT_TRUE(tqtest::WriteFile(text, "just some text, nothing more"));
  EXPECT_EQ(Tool({"info", text}).status, 1);
  EXPECT_EQ(Tool({"info"}).status, 2);
  EXPECT_EQ(Tool({"info", hg3, "--idx", "3"}).status, 2);
  EXPECT_EQ(Tool({"frobnicate", hg3}).status, 2);
}

}  // namespace
#endif
