// HG-2 save then load of random pictures must give the saved pixels back,
// with the cropping and canvas rules of save.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/image_fuzz.h"
#include "image/tqImageHg2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  if (size < 4) return 0;
  const int w = 1 + data[0] % 97, h = 1 + data[1] % 61;
  const int bpp = (data[2] & 1) ? 4 : 3;
  const bool crop = data[2] & 2, clear = data[2] & 4;
  data += 3;
  size -= 3;
  tqImageHg2 picture;
  if (!picture.create(w, h, bpp)) return 0;
  // The rest of the input, repeated, makes the pixels.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * bpp; ++x) picture.pixels()[y * picture.pitch() + x] = data[((size_t)y * w * bpp + x) % size];
  picture.codec().cropOnSave = crop;

  tqImage original;
  original.copyFrom(picture);
  tqMemBlock file;
  if (!picture.save(file, 7, 11, 13, clear)) abort();
  // save crops (and clears) the picture itself: it is what must come back.
  tqImageHg2 back;
  if (!back.load(file, 7)) abort();
  int bw, bh, pw, ph, bx, by, px, py, cw, ch;
  back.size(&bw, &bh);
  picture.size(&pw, &ph);
  back.offset(&bx, &by);
  picture.offset(&px, &py);
  back.canvasSize(&cw, &ch);
  if (bw != pw || bh != ph || bx != px || by != py || cw != w || ch != h) abort();
  if (back.userValue1() != 11 || back.userValue2() != 13) abort();
  for (int y = 0; y < bh; ++y)
    if (memcmp(back.pixels() + (size_t)y * back.pitch(), picture.pixels() + (size_t)y * picture.pitch(),
               (size_t)bw * bpp))
      abort();
  // The kept rectangle sits where the original had it.
  for (int y = 0; y < bh; ++y)
    for (int x = 0; x < bw; ++x) {
      const uint8_t* a = back.pixelAt(x, y);
      const uint8_t* b = original.pixelAt(x + bx, y + by);
      if (!a || !b) abort();
      bool transparent = bpp == 4 && b[3] == 0;
      if (memcmp(a, b, clear && transparent ? 3 : bpp) != 0 && !(clear && transparent)) abort();
    }
  return 0;
}
