// Well-formed PSD documents built from the input by the tests' writer, then
// a few bytes of them overwritten: untouched documents must always load, and
// their layers must give the pixels the records describe.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/image_fuzz.h"
#include "image/tqImagePsd.h"
#include "tests/image/tqPsdWriter.h"

namespace {

using psdtest::Bytes;

const char* const kBlends[] = {"norm", "lddg", "mul ", "scrn", "over", "div ", "pass"};

// Expected layer pixel: colour and alpha of document pixel (x, y).
void ExpectedPixel(const psdtest::Layer& l, int64_t x, int64_t y, uint8_t* px) {
  memset(px, 0, 4);
  const int64_t w = (int64_t)l.right - l.left, lx = x - l.left, ly = y - l.top;
  if (lx < 0 || ly < 0 || lx >= w || ly >= (int64_t)l.bottom - l.top) return;
  px[3] = 255;
  for (const psdtest::Channel& c : l.channels) {
    const int lane = c.id == 0 ? 2 : c.id == 1 ? 1 : c.id == 2 ? 0 : c.id == -1 ? 3 : -1;
    if (lane >= 0) px[lane] = c.data[(size_t)(ly * w + lx)];
  }
  if (px[3] == 0) px[0] = px[1] = px[2] = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  FuzzedDataProvider in(data, size);
  psdtest::Document doc;
  doc.width = in.ConsumeIntegralInRange<uint32_t>(1, 12);
  doc.height = in.ConsumeIntegralInRange<uint32_t>(1, 12);
  doc.compression = in.ConsumeBool() ? 1 : 0;
  const size_t planes = in.ConsumeBool() ? 4 : 3;
  for (size_t c = 0; c < planes; ++c) {
    Bytes p = in.ConsumeBytes<uint8_t>((size_t)doc.width * doc.height);
    p.resize((size_t)doc.width * doc.height, 7);
    doc.planes.push_back(p);
  }
  doc.negativeCount = in.ConsumeBool();
  const int layers = in.ConsumeIntegralInRange<int>(0, 4);
  for (int i = 0; i < layers; ++i) {
    psdtest::Layer l;
    l.top = in.ConsumeIntegralInRange<int32_t>(-6, 14);
    l.left = in.ConsumeIntegralInRange<int32_t>(-6, 14);
    l.bottom = l.top + in.ConsumeIntegralInRange<int32_t>(0, 9);
    l.right = l.left + in.ConsumeIntegralInRange<int32_t>(0, 9);
    const size_t n = (size_t)(l.bottom - l.top) * (size_t)(l.right - l.left);
    const uint8_t which = in.ConsumeIntegral<uint8_t>();
    const int16_t ids[] = {-1, 0, 1, 2, -2};
    for (int k = 0; k < 5; ++k) {
      if (!(which & (1 << k))) continue;
      psdtest::Channel c;
      c.id = ids[k];
      c.compression = in.ConsumeBool() ? 1 : 0;
      if (c.id == -2) {  // a mask of a size of its own
        c.rows = in.ConsumeIntegralInRange<uint32_t>(1, 4);
        c.columns = in.ConsumeIntegralInRange<uint32_t>(1, 4);
        c.data.assign((size_t)c.rows * c.columns, 1);
      } else {
        c.data = in.ConsumeBytes<uint8_t>(n);
        c.data.resize(n, 0x55);
      }
      l.channels.push_back(c);
    }
    l.blend = kBlends[in.ConsumeIntegralInRange<int>(0, 6)];
    l.name = in.ConsumeRandomLengthString(40);
    if ((l.unicode = in.ConsumeBool())) {
      const size_t units = in.ConsumeIntegralInRange<size_t>(0, 300);
      for (size_t u = 0; u < units; ++u) l.unicodeName.push_back((char16_t)in.ConsumeIntegral<uint16_t>());
    }
    l.sectionType = in.ConsumeIntegralInRange<int>(-1, 4);
    if (in.ConsumeBool()) l.blocks.push_back({"lyid", {0, 0, 0, 1}});
    l.padName = in.ConsumeBool();
    doc.layers.push_back(l);
  }
  psdtest::Layout layout;
  Bytes file = psdtest::Write(doc, &layout);
  // A few bytes overwritten anywhere.
  const int patches = in.ConsumeIntegralInRange<int>(0, 3);
  for (int i = 0; i < patches && !file.empty(); ++i) {
    const size_t at = in.ConsumeIntegralInRange<size_t>(0, file.size() - 1);
    file[at] = in.ConsumeIntegral<uint8_t>();
  }
  const bool intact = patches == 0;

  tqMemBlock block(file.data(), (uint32_t)file.size());
  tqImagePsd image;
  if (!image.load(block, 0) && intact && planes >= 3) abort();
  for (int i = 0; i < layers + 1; ++i) {
    for (int flag : {0, 1}) {
      tqPsdLayer info;
      const int ok = image.loadLayer(block, i, flag, &info);
      if (!intact) continue;
      const bool valid = i < layers && doc.layers[(size_t)i].blend != "pass";
      if (ok != (valid ? 1 : 0)) abort();
      if (!ok) continue;
      const psdtest::Layer& l = doc.layers[(size_t)i];
      if (info.top != l.top || info.right != l.right || info.channels != (int)l.channels.size()) abort();
      if (!l.unicode && l.name.size() <= 255 && strncmp(info.name, l.name.c_str(), l.name.size()) != 0) abort();
      if (!flag) continue;
      for (uint32_t y = 0; y < doc.height; ++y)
        for (uint32_t x = 0; x < doc.width; ++x) {
          uint8_t want[4];
          ExpectedPixel(l, x, y, want);
          if (memcmp(image.pixels() + (size_t)(doc.height - 1 - y) * doc.width * 4 + x * 4, want, 4) != 0) abort();
        }
    }
  }
  return 0;
}
