// PSD reader of the merged picture. Section lengths and run-length data are
// checked against the buffer.
#include "image/tqImagePsd.h"

#include <cstring>

namespace {

uint16_t Be16(const uint8_t* p) { return (uint16_t)(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

}  // namespace

bool tqImagePsd::isPsd(const uint8_t* data, uint32_t size) {
  if (!data || size < 30 || memcmp(data, "8BPS", 4) != 0) return false;
  uint16_t mode = Be16(data + 24), colourData = Be16(data + 26);
  return (mode == 8 || mode == 3) && (colourData == 0 || colourData == 3);
}

int tqImagePsd::load(const tqMemBlock& source, int) {
  const uint8_t* d = source.data;
  const uint64_t size = d ? source.size : 0;
  if (!isPsd(d, (uint32_t)size)) return 0;
  const uint32_t W = Be16(d + 20), H = Be16(d + 16);
  const uint32_t channels = Be16(d + 12);
  if (W == 0 || H == 0 || channels < 3 || (uint64_t)W * H * 4 > TQIMAGE_MAX_BYTES) return 0;
  // Colour mode data, image resources, layer and mask section: each a
  // 32-bit length and its bytes.
  uint64_t at = 26;
  for (int section = 0; section < 3; ++section) {
    if (at + 4 > size) return 0;
    at += 4 + (uint64_t)Be32(d + at);
  }
  if (at + 2 > size) return 0;
  const uint16_t compression = Be16(d + at);
  at += 2;
  if (compression != 0 && compression != 1) return 0;
  if (compression == 1) at += (uint64_t)H * channels * 2;
  if (at > size) return 0;

  const uint64_t planeSize = (uint64_t)W * H;
  // Raw planes must be there before anything is allocated for them.
  if (compression == 0 && at + 3 * planeSize > size) return 0;
  uint8_t* planes = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)(planeSize * 3)));
  if (!planes) return 0;
  bool ok = true;
  for (int c = 0; c < 3 && ok; ++c) {
    uint8_t* out = planes + c * planeSize;
    if (compression == 0) {
      if (at + planeSize > size) {
        ok = false;
        break;
      }
      memcpy(out, d + at, (size_t)planeSize);
      at += planeSize;
      continue;
    }
    uint64_t done = 0;
    while (done < planeSize) {
      if (at >= size) {
        ok = false;
        break;
      }
      uint8_t h = d[at++];
      if (h < 128) {
        uint64_t n = (uint64_t)h + 1;
        if (at + n > size) {
          ok = false;
          break;
        }
        uint64_t take = n < planeSize - done ? n : planeSize - done;
        memcpy(out + done, d + at, (size_t)take);
        at += n;
        done += take;
      } else if (h == 128) {
        // A no-op in run-length coding: it carries no data. Writers pad rows
        // with it; reading it as a run would shift every later byte.
        continue;
      } else {
        if (at >= size) {
          ok = false;
          break;
        }
        uint64_t n = 257 - (uint64_t)h;  // 129..255 repeat the next byte 128..2 times
        uint64_t take = n < planeSize - done ? n : planeSize - done;
        memset(out + done, d[at++], (size_t)take);
        done += take;
      }
    }
  }
  if (!ok || !reserve((uint32_t)(planeSize * 4))) {
    PrivateFree(planes);
    return 0;
  }
  setGeometry((int)W, (int)H, 4, (int)(W * 4));
  canvasWidth_ = (int)W;
  canvasHeight_ = (int)H;
  for (uint32_t y = 0; y < H; ++y) {
    uint8_t* dst = pixels_ + (size_t)(H - 1 - y) * W * 4;
    const uint64_t base = (uint64_t)y * W;
    for (uint32_t x = 0; x < W; ++x, dst += 4) {
      dst[0] = planes[2 * planeSize + base + x];
      dst[1] = planes[planeSize + base + x];
      dst[2] = planes[base + x];
      dst[3] = 255;
    }
  }
  PrivateFree(planes);
  clearTransparentColour();
  return 1;
}
