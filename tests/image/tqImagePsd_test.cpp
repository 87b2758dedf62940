// PSD reader: the merged picture (raw and run-length, 3 and 4 channels) and
// the layer records with their pixels, from files of the test-only writer,
// and hostile lengths in every field the reader trusts.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "image/tqImageHolder.h"
#include "image/tqImagePsd.h"
#include "tests/image/tqPsdWriter.h"

using psdtest::Bytes;
using psdtest::Channel;
using psdtest::Document;
using psdtest::Layer;
using psdtest::Layout;

namespace {

// Deterministic bytes with runs, so that run-length coding uses both literal
// and repeat packets.
Bytes Plane(size_t n, uint32_t seed) {
  Bytes out;
  uint32_t s = seed * 2654435761u + 1;
  while (out.size() < n) {
    s = s * 1103515245u + 12345u;
    uint8_t value = (uint8_t)(s >> 16);
    size_t repeat = (s >> 8) % 5 == 0 ? 3 + (s >> 4) % 140 : 1;
    for (size_t i = 0; i < repeat && out.size() < n; ++i) out.push_back(value);
  }
  return out;
}

int Load(tqImagePsd& image, const Bytes& file) {
  tqMemBlock block(file.data(), (uint32_t)file.size());
  return image.load(block, 0);
}

int LoadLayer(tqImagePsd& image, const Bytes& file, int index, int flag, tqPsdLayer* info) {
  tqMemBlock block(file.data(), (uint32_t)file.size());
  return image.loadLayer(block, index, flag, info);
}

Bytes Pixels(const tqImage& image) {
  const uint8_t* p = image.pixels();
  return p ? Bytes(p, p + (size_t)image.width() * image.height() * 4) : Bytes();
}

// The picture a layer should give, pixel by pixel: bottom row first, zero
// outside the rectangle, colourless where alpha is 0.
Bytes ExpectedLayer(const Document& doc, const Layer& layer) {
  Bytes out((size_t)doc.width * doc.height * 4, 0);
  const int64_t w = layer.right - layer.left;
  for (int64_t y = 0; y < doc.height; ++y)
    for (int64_t x = 0; x < doc.width; ++x) {
      const int64_t lx = x - layer.left, ly = y - layer.top;
      if (lx < 0 || ly < 0 || lx >= w || ly >= layer.bottom - layer.top) continue;
      uint8_t* px = &out[(size_t)((doc.height - 1 - y) * doc.width + x) * 4];
      px[3] = 255;
      for (const Channel& c : layer.channels) {
        const int lane = c.id == 0 ? 2 : c.id == 1 ? 1 : c.id == 2 ? 0 : c.id == -1 ? 3 : -1;
        if (lane >= 0) px[lane] = c.data[(size_t)(ly * w + lx)];
      }
      if (px[3] == 0) px[0] = px[1] = px[2] = 0;
    }
  return out;
}

// A layer over the rectangle with red, green, blue and (when alpha) the
// transparency channel, all with one compression.
Layer RgbLayer(int32_t top, int32_t left, int32_t bottom, int32_t right, uint16_t compression, bool alpha,
               uint32_t seed) {
  Layer l;
  l.top = top;
  l.left = left;
  l.bottom = bottom;
  l.right = right;
  const size_t n = (size_t)(right - left) * (size_t)(bottom - top);
  if (alpha) {
    Channel a{-1, Plane(n, seed + 9), compression};
    for (size_t i = 0; i < n; i += 3) a.data[i] = 0;  // some pixels fully transparent
    l.channels.push_back(a);
  }
  for (int16_t id = 0; id < 3; ++id) l.channels.push_back(Channel{id, Plane(n, seed + (uint32_t)id), compression});
  l.name = "layer";
  return l;
}

Document Doc(uint32_t width, uint32_t height, size_t planes = 3, uint16_t compression = 0) {
  Document d;
  d.width = width;
  d.height = height;
  d.compression = compression;
  for (size_t c = 0; c < planes; ++c) d.planes.push_back(Plane((size_t)width * height, 100 + (uint32_t)c));
  return d;
}

// ------------------------------------------------------------ merged picture

TEST(PsdMerged, RawAndRunLengthWithThreeOrFourChannels) {
  struct Case {
    uint16_t compression;
    size_t channels;
    uint32_t width, height;
  } cases[] = {{0, 3, 5, 3}, {0, 4, 5, 3}, {1, 3, 131, 2}, {1, 4, 7, 4}, {1, 3, 1, 1}, {0, 3, 300, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "compression " << c.compression << ", " << c.channels << " channels, "
                                    << c.width << "x" << c.height);
    Document doc = Doc(c.width, c.height, c.channels, c.compression);
    // A fourth channel of zeros would clear every colour if it were taken
    // for transparency.
    if (c.channels == 4) doc.planes[3].assign(doc.planes[3].size(), 0);
    doc.withLayerInfo = false;
    Bytes file = psdtest::Write(doc);
    ASSERT_TRUE(tqImagePsd::isPsd(file.data(), (uint32_t)file.size()));
    tqImagePsd image;
    ASSERT_EQ(Load(image, file), 1);
    EXPECT_EQ(image.width(), (int)c.width);
    EXPECT_EQ(image.height(), (int)c.height);
    EXPECT_EQ(image.bytesPerPixel(), 4);
    EXPECT_EQ(image.pitch(), (int)c.width * 4);
    int cw = 0, ch = 0;
    image.canvasSize(&cw, &ch);
    EXPECT_EQ(cw, (int)c.width);
    EXPECT_EQ(ch, (int)c.height);
    Bytes expected;
    for (uint32_t y = c.height; y-- > 0;)
      for (uint32_t x = 0; x < c.width; ++x) {
        size_t i = (size_t)y * c.width + x;
        expected.insert(expected.end(), {doc.planes[2][i], doc.planes[1][i], doc.planes[0][i], 255});
      }
    EXPECT_EQ(Pixels(image), expected);
    EXPECT_EQ(image.hasTransparency(), 0);
  }
}

TEST(PsdMerged, EveryTruncationIsRefused) {
  for (uint16_t compression : {0, 1}) {
    Document doc = Doc(9, 4, 3, compression);
    doc.layers.push_back(RgbLayer(0, 0, 2, 2, 0, false, 1));
    Bytes file = psdtest::Write(doc);
    tqImagePsd image;
    ASSERT_EQ(Load(image, file), 1);
    for (size_t n = 0; n < file.size(); ++n) {
      Bytes cut(file.begin(), file.begin() + (long)n);
      ASSERT_EQ(Load(image, cut), 0) << "compression " << compression << ", " << n << " bytes";
      EXPECT_EQ(image.pixels(), nullptr);
      EXPECT_EQ(image.width(), 0);
    }
  }
}

TEST(PsdMerged, HostileHeadersAreRefused) {
  Layout layout;
  const Bytes good = psdtest::Write(Doc(4, 2, 3, 1), &layout);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> mutate;
  } cases[] = {
      {"huge size, little data", [](Bytes& b) { b[16] = b[17] = b[20] = b[21] = 0x3F; }},
      {"just under the cap, run-length data of a few bytes", [](Bytes& b) { b[16] = b[20] = 0x20, b[17] = b[21] = 0; }},
      {"two channels", [](Bytes& b) { b[13] = 2; }},
      {"no width", [](Bytes& b) { b[20] = b[21] = 0; }},
      {"compression 2", [&](Bytes& b) { b[layout.mergedCompression + 1] = 2; }},
      {"colour data beyond the file", [](Bytes& b) { psdtest::SetBe32(b, 26, 3 << 16); }},
      {"resources beyond the file", [](Bytes& b) { psdtest::SetBe32(b, 30, 0xFFFFFFF0u); }},
      {"layer section beyond the file", [&](Bytes& b) { psdtest::SetBe32(b, layout.layerSectionLength, 0xFFFFFFFFu); }},
      {"row table beyond the file", [](Bytes& b) { b[12] = 0x7F; }},
      {"literal beyond the data", [&](Bytes& b) { b[layout.mergedData] = 0x7F; }},
      {"wrong signature", [](Bytes& b) { b[3] = 'D'; }},
      {"colour mode 4", [](Bytes& b) { b[25] = 4; }},
  };
  tqImagePsd image;
  ASSERT_EQ(Load(image, good), 1);
  for (const Case& c : cases) {
    Bytes file = good;
    c.mutate(file);
    EXPECT_EQ(Load(image, file), 0) << c.name;
  }
}

// Greyscale, 16-bit and large documents: each gives the picture that an
// independent reading of its planes gives (16-bit samples rounded to the
// nearest of the 256 levels), through the holder's format test too.
TEST(PsdMerged, DepthsModesAndLargeDocuments) {
  struct Case {
    const char* what;
    uint16_t depth, mode, compression;
    size_t channels;
    bool large;
    uint32_t width, height;
  } cases[] = {
      {"grey", 8, 1, 0, 1, false, 5, 3},
      {"grey, run length, with alpha", 8, 1, 1, 2, false, 131, 2},
      {"RGB, 16 bits", 16, 3, 0, 3, false, 5, 3},
      {"RGB, 16 bits, run length, with alpha", 16, 3, 1, 4, false, 70, 2},
      {"grey, 16 bits, run length", 16, 1, 1, 1, false, 9, 4},
      {"large, RGB", 8, 3, 0, 3, true, 6, 2},
      {"large, RGB, run length", 8, 3, 1, 4, true, 130, 3},
      {"large, grey, 16 bits, run length", 16, 1, 1, 1, true, 3, 5},
      {"large, wider than 65535", 8, 3, 1, 3, true, 70000, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Document doc;
    doc.width = c.width;
    doc.height = c.height;
    doc.depth = c.depth;
    doc.mode = c.mode;
    doc.large = c.large;
    doc.compression = c.compression;
    doc.withLayerInfo = !c.large;
    const size_t samples = (size_t)c.width * c.height;
    for (size_t i = 0; i < c.channels; ++i) doc.planes.push_back(Plane(samples * c.depth / 8, 300 + (uint32_t)i));
    if (c.channels > (c.mode == 1 ? 1u : 3u)) doc.planes.back().assign(doc.planes.back().size(), 0);
    Bytes file = psdtest::Write(doc);
    tqMemBlock block(file.data(), (uint32_t)file.size());
    EXPECT_EQ(tqImageHolder::formatOf(block), TQIMAGE_PSD);
    tqImagePsd image;
    ASSERT_EQ(Load(image, file), 1);
    EXPECT_EQ(image.width(), (int)c.width);
    EXPECT_EQ(image.height(), (int)c.height);
    auto level = [&](size_t plane, size_t i) -> uint8_t {
      const Bytes& p = doc.planes[c.mode == 1 ? 0 : plane];
      if (c.depth == 8) return p[i];
      const unsigned v = (unsigned)p[2 * i] << 8 | p[2 * i + 1];
      return (uint8_t)((v + 128) / 257);
    };
    Bytes expected;
    for (uint32_t y = c.height; y-- > 0;)
      for (uint32_t x = 0; x < c.width; ++x) {
        const size_t i = (size_t)y * c.width + x;
        expected.insert(expected.end(), {level(2, i), level(1, i), level(0, i), 255});
      }
    EXPECT_EQ(Pixels(image), expected);
  }
}

TEST(PsdMerged, DepthsAndVersionsNotReadAreRefused) {
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
  } cases[] = {
      {"32 bits per channel", 23, 32}, {"1 bit per channel", 23, 1}, {"version 3", 5, 3},
      {"version 0", 5, 0},            {"CMYK", 25, 4},               {"Lab", 25, 9},
  };
  Document doc = Doc(4, 2);
  const Bytes good = psdtest::Write(doc);
  for (const Case& c : cases) {
    Bytes file = good;
    file[c.at] = c.value;
    EXPECT_FALSE(tqImagePsd::isPsd(file.data(), (uint32_t)file.size())) << c.what;
    tqMemBlock block(file.data(), (uint32_t)file.size());
    EXPECT_EQ(tqImageHolder::formatOf(block), TQIMAGE_NONE) << c.what;
    tqImagePsd image;
    EXPECT_EQ(Load(image, file), 0) << c.what;
  }
  // A 16-bit document whose planes are cut short, and a large document whose
  // section length needs more than 32 bits.
  doc.depth = 16;
  Bytes wide = psdtest::Write(doc);
  tqImagePsd image;
  EXPECT_EQ(Load(image, Bytes(wide.begin(), wide.end() - 1)), 0);
  doc.depth = 8;
  doc.large = true;
  doc.withLayerInfo = false;
  Bytes large = psdtest::Write(doc);
  ASSERT_EQ(Load(image, large), 1);
  large[37] = 1;  // high half of the layer and mask section length
  EXPECT_EQ(Load(image, large), 0);
  // Layer records of large documents are laid out differently: not read.
  tqPsdLayer info;
  EXPECT_EQ(LoadLayer(image, large, 0, 0, &info), 0);
}

// ------------------------------------------------------------ layer records

TEST(PsdLayer, RecordOnlyLeavesThePictureAlone) {
  Document doc = Doc(4, 3);
  Layer l = RgbLayer(-5, 2, 7, 9, 1, true, 3);
  l.blend = "scrn";
  l.name = "Background copy";
  doc.layers.push_back(l);
  Bytes file = psdtest::Write(doc);
  tqImagePsd image;
  tqPsdLayer info;
  ASSERT_EQ(LoadLayer(image, file, 0, 0, &info), 1);
  EXPECT_EQ(info.top, -5);
  EXPECT_EQ(info.left, 2);
  EXPECT_EQ(info.bottom, 7);
  EXPECT_EQ(info.right, 9);
  EXPECT_EQ(info.channels, 4);
  EXPECT_EQ(info.blend, TQPSD_BLEND_SCREEN);
  EXPECT_STREQ(info.name, "Background copy");
  EXPECT_EQ(info.group, TQPSD_GROUP_NONE);
  EXPECT_EQ(image.pixels(), nullptr);
  // A loaded picture survives a later record-only call, even a failing one.
  ASSERT_EQ(Load(image, file), 1);
  Bytes merged = Pixels(image);
  EXPECT_EQ(LoadLayer(image, file, 0, 0, &info), 1);
  EXPECT_EQ(LoadLayer(image, file, 1, 0, &info), 0);
  EXPECT_EQ(Pixels(image), merged);
  EXPECT_STREQ(info.name, "");  // a failure leaves no stale record behind
}

TEST(PsdLayer, BlendKeys) {
  struct Case {
    const char* key;
    int blend;  // -1: refused
  } cases[] = {{"norm", 0}, {"lddg", 1}, {"mul ", 2}, {"scrn", 3}, {"over", 4},
               {"div ", 5}, {"pass", -1}, {"NORM", -1}, {"mul\0", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    Document doc = Doc(3, 3);
    doc.layers.push_back(RgbLayer(0, 0, 2, 2, 0, false, 1));
    doc.layers.push_back(RgbLayer(1, 1, 3, 3, 0, true, 2));
    doc.layers[0].blend.assign(c.key, 4);
    Bytes file = psdtest::Write(doc);
    for (int flag : {0, 1}) {
      tqImagePsd image;
      tqPsdLayer info;
      EXPECT_EQ(LoadLayer(image, file, 0, flag, &info), c.blend >= 0 ? 1 : 0);
      if (c.blend >= 0) {
        EXPECT_EQ(info.blend, c.blend);
      }
      // The other layer's record does not depend on this key.
      EXPECT_EQ(LoadLayer(image, file, 1, flag, &info), 1);
      EXPECT_EQ(info.blend, 0);
    }
  }
}

TEST(PsdLayer, UnicodeNamesBecomeNarrowText) {
  const std::u16string hiragana200(200, u'あ');
  struct Case {
    const char* what;
    std::string pascal;
    bool unicode;
    std::u16string name;
    std::string expected;
    bool padName = true;
  } cases[] = {
      {"Pascal name only", "abc", false, u"", "abc"},
      {"Pascal name of 255 bytes", std::string(255, 'p'), false, u"", std::string(255, 'p')},
      {"Japanese", "abc", true, u"表示", "\x95\x5C\x8E\xA6"},
      {"empty Unicode name", "abc", true, u"", ""},
      {"name not padded", "abcd", true, u"表示", "\x95\x5C\x8E\xA6", false},
      {"name of 3 bytes needs no padding", "abc", true, u"表示", "\x95\x5C\x8E\xA6", false},
      {"character without a narrow form", "", true, u"A\uD55CB", "A?B"},
      {"character beyond 0xFFFF", "", true, u"\U0001F600z", "?z"},
      {"lone surrogate", "", true, std::u16string(u"x") + char16_t(0xDC00) + u"y", "x?y"},
      {"ends at a NUL", "", true, std::u16string(u"ab\0cd", 5), "ab"},
      {"long ASCII", "", true, std::u16string(300, u'a'), std::string(255, 'a')},
      {"double-byte not split", "", true, hiragana200, [] {
         std::string s;
         for (int i = 0; i < 127; ++i) s += "\x82\xA0";
         return s;
       }()},
      {"odd start fills 255 bytes", "", true, u"a" + hiragana200, [] {
         std::string s = "a";
         for (int i = 0; i < 127; ++i) s += "\x82\xA0";
         return s;
       }()},
      {"extension lead bytes not split", "", true, std::u16string(200, u'ⅰ'), [] {
         std::string s;
         for (int i = 0; i < 127; ++i) s += "\xFA\x40";
         return s;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Document doc = Doc(2, 2);
    Layer l = RgbLayer(0, 0, 1, 1, 0, false, 1);
    l.name = c.pascal;
    l.unicode = c.unicode;
    l.unicodeName = c.name;
    l.padName = c.padName;
    l.blocks.push_back({"lyid", {0, 0, 0, 7}});
    doc.layers.push_back(l);
    Bytes file = psdtest::Write(doc);
    tqImagePsd image;
    tqPsdLayer info;
    memset(info.name, 'Z', sizeof info.name);
    ASSERT_EQ(LoadLayer(image, file, 0, 0, &info), 1);
    EXPECT_EQ(std::string(info.name), c.expected);
  }
}

TEST(PsdLayer, GroupMarkers) {
  struct Case {
    int sectionType;  // -1: no block
    int group;
    bool nameAfter;   // a Unicode name after the group block
  } cases[] = {{-1, TQPSD_GROUP_NONE, false}, {0, TQPSD_GROUP_NONE, false}, {1, TQPSD_GROUP_FOLDER, false},
               {2, TQPSD_GROUP_FOLDER, false}, {3, TQPSD_GROUP_END, false},  {4, TQPSD_GROUP_NONE, false},
               {1, TQPSD_GROUP_FOLDER, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.sectionType << (c.nameAfter ? ", name after" : ""));
    Document doc = Doc(2, 2);
    Layer l = RgbLayer(0, 0, 0, 0, 0, false, 1);
    l.name = "Group 1";
    l.sectionType = c.sectionType;
    if (c.nameAfter) {
      Bytes luni = {0, 0, 0, 1, 0x88, 0x68};  // one character, 表
      l.after.push_back({"luni", luni});
    }
    doc.layers.push_back(l);
    Bytes file = psdtest::Write(doc);
    tqImagePsd image;
    tqPsdLayer info;
    ASSERT_EQ(LoadLayer(image, file, 0, 1, &info), 1);
    EXPECT_EQ(info.group, c.group);
    // The group block ends the walk: what follows it is not read.
    EXPECT_STREQ(info.name, "Group 1");
    EXPECT_EQ(Pixels(image), Bytes(2 * 2 * 4, 0));
  }
  // The group block may carry a blend key after its type.
  Document doc = Doc(2, 2);
  Layer l = RgbLayer(0, 0, 0, 0, 0, false, 1);
  l.blocks.push_back({"lsct", {0, 0, 0, 3, '8', 'B', 'I', 'M', 'p', 'a', 's', 's'}});
  doc.layers.push_back(l);
  tqImagePsd image;
  tqPsdLayer info;
  ASSERT_EQ(LoadLayer(image, psdtest::Write(doc), 0, 0, &info), 1);
  EXPECT_EQ(info.group, TQPSD_GROUP_END);
}

TEST(PsdLayer, CountAndIndex) {
  Document doc = Doc(3, 2);
  doc.layers.push_back(RgbLayer(0, 0, 1, 1, 0, false, 1));
  doc.layers.push_back(RgbLayer(0, 1, 2, 3, 0, false, 2));
  struct Case {
    bool negativeCount;
    int index;
    int result;
  } cases[] = {{false, 0, 1}, {false, 1, 1}, {false, 2, 0}, {false, -1, 0},
               {true, 0, 1},  {true, 1, 1},  {true, 2, 0},  {true, -2, 0}};
  for (const Case& c : cases) {
    doc.negativeCount = c.negativeCount;
    Bytes file = psdtest::Write(doc);
    for (int flag : {0, 1}) {
      tqImagePsd image;
      tqPsdLayer info;
      EXPECT_EQ(LoadLayer(image, file, c.index, flag, &info), c.result)
          << "negative " << c.negativeCount << ", index " << c.index << ", flag " << flag;
      if (c.result) {
        EXPECT_EQ(info.right, c.index == 0 ? 1 : 3);
      }
    }
  }
  // No layers: an empty layer info, and no layer info at all.
  Document none = Doc(3, 2);
  tqImagePsd image;
  EXPECT_EQ(LoadLayer(image, psdtest::Write(none), 0, 0, nullptr), 0);
  none.withLayerInfo = false;
  EXPECT_EQ(LoadLayer(image, psdtest::Write(none), 0, 0, nullptr), 0);
  EXPECT_EQ(Load(image, psdtest::Write(none)), 1);
}

// ------------------------------------------------------------ layer pixels

TEST(PsdLayer, PixelsOfEveryLayerFoundThroughTheOthersChannelLengths) {
  Document doc = Doc(6, 4, 3, 1);
  doc.layers.push_back(RgbLayer(1, 1, 3, 4, 0, true, 10));   // raw with transparency
  doc.layers.push_back(RgbLayer(0, 0, 4, 6, 1, false, 20));  // run length, opaque
  // A mask channel of a size of its own, which is not drawn.
  doc.layers[1].channels.insert(doc.layers[1].channels.begin() + 1, Channel{-2, Plane(5 * 7, 7), 1, 5, 7});
  Layer mixed = RgbLayer(2, 3, 4, 5, 1, true, 30);
  mixed.channels[0].compression = 0;
  mixed.channels[2].compression = 0;
  doc.layers.push_back(mixed);
  Bytes file = psdtest::Write(doc);
  for (size_t i = 0; i < doc.layers.size(); ++i) {
    SCOPED_TRACE(i);
    tqImagePsd image;
    tqPsdLayer info;
    ASSERT_EQ(LoadLayer(image, file, (int)i, 1, &info), 1);
    EXPECT_EQ(info.channels, (int)doc.layers[i].channels.size());
    EXPECT_EQ(image.width(), 6);
    EXPECT_EQ(image.height(), 4);
    EXPECT_EQ(image.pitch(), 24);
    EXPECT_EQ(image.bytesPerPixel(), 4);
    EXPECT_EQ(Pixels(image), ExpectedLayer(doc, doc.layers[i]));
  }
  // One object reads the layers one after the other, and the merged picture.
  tqImagePsd image;
  ASSERT_EQ(LoadLayer(image, file, 0, 1, nullptr), 1);
  EXPECT_EQ(image.hasTransparency(), 1);
  ASSERT_EQ(LoadLayer(image, file, 1, 1, nullptr), 1);
  EXPECT_EQ(Pixels(image), ExpectedLayer(doc, doc.layers[1]));
  EXPECT_EQ(image.hasTransparency(), 0);
  ASSERT_EQ(Load(image, file), 1);
  EXPECT_EQ(Pixels(image)[3], 255);
}

TEST(PsdLayer, TransparentPixelsLoseTheirColour) {
  Document doc = Doc(2, 1);
  Layer l;
  l.right = 2;
  l.bottom = 1;
  l.channels = {{-1, {0, 1}}, {0, {10, 11}}, {1, {20, 21}}, {2, {30, 31}}};
  doc.layers.push_back(l);
  tqImagePsd image;
  ASSERT_EQ(LoadLayer(image, psdtest::Write(doc), 0, 1, nullptr), 1);
  EXPECT_EQ(Pixels(image), (Bytes{0, 0, 0, 0, 31, 21, 11, 1}));
}

TEST(PsdLayer, PartlyOutsideTheDocumentIsClipped) {
  struct Case {
    int32_t top, left, bottom, right;
  } cases[] = {{-1, -2, 2, 3},  {2, 4, 6, 9},    {-3, -3, 10, 10}, {10, 10, 12, 12},
               {-5, 0, -1, 3},  {2, 2, 2, 5},    {0, 0, 3, 5},     {1, -300, 2, 2}};
  for (const Case& c : cases) {
    for (uint16_t compression : {0, 1}) {
      SCOPED_TRACE(testing::Message() << c.top << "," << c.left << "," << c.bottom << "," << c.right << " compression "
                                      << compression);
      Document doc = Doc(5, 3);
      doc.layers.push_back(RgbLayer(c.top, c.left, c.bottom, c.right, compression, true, 5));
      tqImagePsd image;
      tqPsdLayer info;
      ASSERT_EQ(LoadLayer(image, psdtest::Write(doc), 0, 1, &info), 1);
      EXPECT_EQ(Pixels(image), ExpectedLayer(doc, doc.layers[0]));
      EXPECT_EQ(info.top, c.top);
      EXPECT_EQ(info.left, c.left);
    }
  }
}

// ------------------------------------------------------------ hostile layer data

TEST(PsdLayer, HostileLengthsAreRefused) {
  // Layer 0: run length with a Unicode name and a group block; layer 1: raw.
  Document doc = Doc(4, 3);
  doc.layers.push_back(RgbLayer(0, 0, 2, 3, 1, true, 1));
  doc.layers[0].unicode = true;
  doc.layers[0].unicodeName = u"表示";
  doc.layers[0].sectionType = 1;
  doc.layers.push_back(RgbLayer(1, 1, 3, 4, 0, false, 2));
  Layout at;
  const Bytes good = psdtest::Write(doc, &at);
  const auto& l0 = at.layers[0];
  const auto& l1 = at.layers[1];
  using psdtest::GetBe32;
  using psdtest::SetBe32;
  struct Case {
    const char* name;
    std::function<void(Bytes&)> mutate;
    int index;
    int recordOnly;  // result with flag 0 (pixels always fail)
  } cases[] = {
      {"layer section beyond the file", [&](Bytes& b) { SetBe32(b, at.layerSectionLength, (uint32_t)b.size()); }, 0, 0},
      {"layer info beyond its section",
       [&](Bytes& b) { SetBe32(b, at.layerInfoLength, GetBe32(b, at.layerInfoLength) + 5); }, 0, 0},
      {"layer info too short for the count", [&](Bytes& b) { SetBe32(b, at.layerInfoLength, 1); }, 0, 0},
      {"more layers than records", [&](Bytes& b) { psdtest::SetBe16(b, at.layerCount, 0x7FFF); }, 0, 1},
      {"257 channels", [&](Bytes& b) { psdtest::SetBe16(b, l0.record + 16, 257); }, 0, 0},
      {"channel data beyond the layer info", [&](Bytes& b) { SetBe32(b, l1.channelLength[0], 0xFFFFFFF0u); }, 1, 1},
      {"an earlier layer's channel data beyond the layer info",
       [&](Bytes& b) { SetBe32(b, l0.channelLength[2], 0x7FFFFFFFu); }, 1, 1},
      {"extra data beyond the layer info", [&](Bytes& b) { SetBe32(b, l1.extraLength, 0xFFFFFF00u); }, 1, 0},
      {"an earlier record beyond the layer info", [&](Bytes& b) { SetBe32(b, l0.extraLength, 0x10000u); }, 1, 0},
      {"mask data beyond the extra data", [&](Bytes& b) { SetBe32(b, l0.maskLength, 0x1000u); }, 0, 0},
      {"blending ranges beyond the extra data", [&](Bytes& b) { SetBe32(b, l0.rangesLength, 0x80000000u); }, 0, 0},
      {"name beyond the extra data", [&](Bytes& b) { b[l1.nameLength] = 200; }, 1, 0},
      {"block beyond the extra data", [&](Bytes& b) { SetBe32(b, l0.blockLength[0], 0x1000u); }, 0, 0},
      {"Unicode count beyond its block", [&](Bytes& b) { SetBe32(b, l0.luniCount, 3); }, 0, 0},
      {"Unicode count beyond everything", [&](Bytes& b) { SetBe32(b, l0.luniCount, 0xFFFFFFFFu); }, 0, 0},
      {"group block without its type", [&](Bytes& b) { SetBe32(b, l0.blockLength[1], 2); }, 0, 0},
      {"run-length channel one byte short",
       [&](Bytes& b) { SetBe32(b, l0.channelLength[3], GetBe32(b, l0.channelLength[3]) - 1); }, 0, 1},
      {"row table beyond the channel", [&](Bytes& b) { SetBe32(b, l0.channelLength[0], 2 + 2 * 2 - 1); }, 0, 1},
      {"raw channel one byte short",
       [&](Bytes& b) { SetBe32(b, l1.channelLength[2], GetBe32(b, l1.channelLength[2]) - 1); }, 1, 1},
      {"channel without its compression code", [&](Bytes& b) { SetBe32(b, l1.channelLength[0], 1); }, 1, 1},
      {"zip-coded channel", [&](Bytes& b) { b[l1.channelData[1] + 1] = 2; }, 1, 1},
      {"rectangle upside down", [&](Bytes& b) { SetBe32(b, l1.record + 8, 0); }, 1, 1},
      {"huge raw rectangle", [&](Bytes& b) { SetBe32(b, l1.record + 8, 0x40000000u), SetBe32(b, l1.record + 12, 0x40000000u); }, 1, 1},
      {"huge run-length rectangle", [&](Bytes& b) { SetBe32(b, l0.record + 8, 0x7FFFFFFFu), SetBe32(b, l0.record + 12, 0x7FFFFFFFu); }, 0, 1},
      {"no document width", [](Bytes& b) { b[20] = b[21] = 0; }, 0, 1},
      {"document larger than its merged picture", [](Bytes& b) { b[16] = 0x20; }, 0, 1},
      {"merged picture cut off", [&](Bytes& b) { b.resize(at.mergedData + 5); }, 0, 1},
  };
  for (int index : {0, 1})
    for (int flag : {0, 1}) {
      tqImagePsd image;
      ASSERT_EQ(LoadLayer(image, good, index, flag, nullptr), 1) << index << " " << flag;
    }
  for (const Case& c : cases) {
    Bytes file = good;
    c.mutate(file);
    tqImagePsd image;
    tqPsdLayer info;
    EXPECT_EQ(LoadLayer(image, file, c.index, 0, &info), c.recordOnly) << c.name;
    ASSERT_EQ(LoadLayer(image, good, c.index, 1, &info), 1);
    EXPECT_EQ(LoadLayer(image, file, c.index, 1, &info), 0) << c.name;
    EXPECT_EQ(image.pixels(), nullptr) << c.name;
    EXPECT_EQ(image.width(), 0) << c.name;
  }
}

TEST(PsdLayer, EveryTruncationIsRefused) {
  Document doc = Doc(4, 3);
  doc.layers.push_back(RgbLayer(-1, 0, 2, 3, 1, true, 1));
  doc.layers[0].unicode = true;
  doc.layers[0].unicodeName = u"表示";
  doc.layers.push_back(RgbLayer(1, 1, 3, 5, 0, false, 2));
  Layout at;
  const Bytes file = psdtest::Write(doc, &at);
  tqImagePsd image;
  for (size_t n = 0; n < file.size(); ++n) {
    Bytes cut(file.begin(), file.begin() + (long)n);
    for (int index : {0, 1}) {
      // The records need the whole layer section; the pixels also need the
      // merged picture the document claims.
      EXPECT_EQ(LoadLayer(image, cut, index, 0, nullptr), n >= at.mergedCompression ? 1 : 0) << n;
      EXPECT_EQ(LoadLayer(image, cut, index, 1, nullptr), 0) << n;
    }
  }
}

}  // namespace
