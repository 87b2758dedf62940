// HG-3 save then load of random pictures, in random slices, must give the
// saved pixels, placement and values back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/image_fuzz.h"
#include "image/tqImageHg3.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  if (size < 5) return 0;
  const int w = 1 + data[0] % 97, h = 1 + data[1] % 61;
  const int bpp = (data[2] & 1) ? 4 : 3;
  const bool clear = data[2] & 2;
  const int sliceRows = data[3] % 64;  // 0: one slice
  const int id = (int8_t)data[4];
  data += 5;
  size -= 5;
  if (size == 0) return 0;
  tqImageHg3 picture;
  if (!picture.create(w, h, bpp)) return 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * bpp; ++x) picture.pixels()[y * picture.pitch() + x] = data[((size_t)y * w * bpp + x) % size];
  picture.setOffset(w / 2, -h);

  tqMemBlock file;
  if (!picture.saveSlices(file, id, 11, 13, clear, sliceRows)) abort();
  // save clears hidden colours in the picture itself: it is what must come back.
  tqImageHg3 back;
  if (!back.load(file, id)) abort();
  int bx, by, cw, ch;
  back.offset(&bx, &by);
  back.canvasSize(&cw, &ch);
  if (back.width() != w || back.height() != h || back.bytesPerPixel() != bpp) abort();
  if (bx != w / 2 || by != -h || cw != w || ch != h) abort();
  if (back.userValue1() != 11 || back.userValue2() != 13) abort();
  if (back.alphaState() != (picture.hasTransparency() ? 2 : 1)) abort();
  for (int y = 0; y < h; ++y)
    if (memcmp(back.pixels() + (size_t)y * back.pitch(), picture.pixels() + (size_t)y * picture.pitch(),
               (size_t)w * bpp))
      abort();
  // The second picture index does not exist.
  int other = 0;
  tqImageHg3 none;
  if (none.loadByIndex(file, 1, &other)) abort();
  return 0;
}
