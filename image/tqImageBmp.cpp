// BMP reader and writer. Every bitmap loads as 4 bytes per pixel (blue,
// green, red, alpha) with its bottom row first: top-down files are turned
// over. The reader takes the 12-byte core header and the 40-byte info header
// with its later extensions (52, 56, 108 and 124 bytes: masks, colour space
// and profile fields, of which only the masks matter here); 1/4/8-bit palette
// pictures, plain or run-length coded; 16-bit pictures (5-5-5 unless masks say
// otherwise); 24-bit pictures; 32-bit pictures copied as they are, or through
// their masks when the file gives masks. The pixel rows start where the file
// header says (right after the headers, masks and palette when it gives a
// place inside them, as careless writers leave it zero). A file too short for
// its rows is refused.
#include "image/tqImageBmp.h"

#include "image/tqImageBytes.h"

namespace {

enum : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6 };

enum class BmpFail { Silent, Message };

// One channel packed in a pixel word: where it lies and its largest value.
struct Mask {
  uint32_t bits = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit Mask(uint32_t m = 0) : bits(m) {
    if (!m) return;
    while (!(m & 1)) {
      m >>= 1;
      ++shift;
    }
    max = m;
  }
  // The channel of a pixel word scaled to 0-255, rounded.
  uint8_t scale(uint32_t word) const {
    if (!max) return 0;
    const uint64_t v = (word & bits) >> shift;
    return (uint8_t)((v * 255 + max / 2) / max);
  }
};

struct BmpLayout {
  uint32_t headerSize = 0;
  int32_t width = 0;
  int64_t height = 0;
  bool topDown = false;
  int bits = 0;
  uint32_t compression = kRgb;
  bool useMasks = false;      // 16 and 32 bits: channels through masks
  uint32_t masks[4] = {};     // red, green, blue, alpha
  uint64_t paletteAt = 0;     // 1/4/8 bits
  uint32_t paletteEntries = 0;
  uint32_t paletteEntrySize = 4;
  uint64_t headersEnd = 0;    // after headers, masks and palette
};

bool KnownHeaderSize(uint32_t n) { return n == 12 || n == 40 || n == 52 || n == 56 || n == 108 || n == 124; }

// The bit count of a file whose header size is known, else 0.
int BitCount(const tqByteView& v) {
  if (!v.has(14, 4)) return 0;
  const uint32_t headerSize = v.u32(14);
  if (headerSize == 12) return v.has(24, 2) ? v.u16(24) : 0;
  return v.has(28, 2) ? v.u16(28) : 0;
}

// Fills the layout from the headers; which failure it is when they are not
// ones this reader decodes.
bool ReadLayout(const tqByteView& v, uint8_t* infoHeader, BmpLayout& L, BmpFail& why) {
  why = BmpFail::Message;
  L.headerSize = v.u32(14);
  if (!KnownHeaderSize(L.headerSize) || !v.has(14, L.headerSize)) return false;
  memset(infoHeader, 0, 40);
  if (L.headerSize == 12) {
    tqPut32(infoHeader + 4, v.u16(18));
    tqPut32(infoHeader + 8, v.u16(20));
    tqPut16(infoHeader + 12, v.u16(22));
    tqPut16(infoHeader + 14, v.u16(24));
  } else {
    memcpy(infoHeader, v.data + 14, 40);
  }
  tqPut32(infoHeader, 40);
  tqByteView info{infoHeader, 40};
  L.width = info.s32(4);
  const int32_t storedH = info.s32(8);
  L.topDown = storedH < 0;
  L.height = L.topDown ? -(int64_t)storedH : storedH;
  L.bits = info.u16(14);
  L.compression = info.u32(16);
  L.headersEnd = 14 + (uint64_t)L.headerSize;

  const int b = L.bits;
  switch (L.compression) {
    case kRgb:
      if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32) return why = BmpFail::Silent, false;
      if (b == 16) {
        L.useMasks = true;
        L.masks[0] = 0x7C00;
        L.masks[1] = 0x03E0;
        L.masks[2] = 0x001F;
      }
      break;
    case kRle8:
    case kRle4:
      // Run-length rows are always stored bottom row first.
      if (b != (L.compression == kRle8 ? 8 : 4) || L.topDown) return false;
      break;
    case kBitfields:
    case kAlphaBitfields: {
      if ((b != 16 && b != 32) || L.headerSize == 12) return false;
      const int count = L.compression == kAlphaBitfields ? 4 : 3;
      // The 40-byte header is followed by the masks; the longer ones hold
      // them (and the alpha mask) inside.
      uint64_t at = L.headerSize == 40 ? L.headersEnd : 14 + 40;
      if (L.headerSize == 40) L.headersEnd += 4 * (uint64_t)count;
      const int inHeader = L.headerSize == 40 ? count : L.headerSize >= 56 ? 4 : 3;
      if (!v.has(at, 4 * (uint64_t)inHeader)) return why = BmpFail::Silent, false;
      for (int i = 0; i < inHeader; ++i) L.masks[i] = v.u32(at + 4 * (uint64_t)i);
      L.useMasks = true;
      break;
    }
    default:
      return false;  // JPEG, PNG and other codings inside a bitmap are not read
  }
  if (b <= 8) {
    L.paletteEntrySize = L.headerSize == 12 ? 3 : 4;
    const uint32_t used = L.headerSize == 12 ? 0 : info.u32(32);
    const uint32_t full = 1u << b;
    L.paletteEntries = used == 0 || used > full ? full : used;
    L.paletteAt = L.headersEnd;
    // A palette cut short by the pixel offset keeps the entries before it.
    const uint64_t offset = v.u32(10);
    if (offset > L.paletteAt && offset < L.paletteAt + (uint64_t)L.paletteEntries * L.paletteEntrySize)
      L.paletteEntries = (uint32_t)((offset - L.paletteAt) / L.paletteEntrySize);
    L.headersEnd += (uint64_t)L.paletteEntries * L.paletteEntrySize;
    if (!v.has(L.paletteAt, L.headersEnd - L.paletteAt)) return why = BmpFail::Silent, false;
  }
  why = BmpFail::Silent;
  return L.width > 0 && L.height > 0 && tqImageFits((uint64_t)L.width, (uint64_t)L.height, 4);
}

// Palette as BGRA words; indices beyond it are black.
void ReadPalette(const tqByteView& v, const BmpLayout& L, uint8_t (*out)[4]) {
  memset(out, 0, 256 * 4);
  for (uint32_t i = 0; i < L.paletteEntries; ++i) {
    const uint8_t* p = v.data + L.paletteAt + (uint64_t)i * L.paletteEntrySize;
    out[i][0] = p[0];
    out[i][1] = p[1];
    out[i][2] = p[2];
    out[i][3] = 255;
  }
  for (uint32_t i = L.paletteEntries; i < 256; ++i) out[i][3] = 255;
}

// One uncompressed file row into a memory row of 4-byte pixels.
void DecodeRow(const BmpLayout& L, const Mask* masks, const uint8_t (*palette)[4], const uint8_t* s, uint8_t* d) {
  const int32_t W = L.width;
  if (L.bits == 32 && !L.useMasks) {
    memcpy(d, s, (size_t)W * 4);
  } else if (L.bits == 24) {
    for (int32_t x = 0; x < W; ++x, s += 3, d += 4) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = 255;
    }
  } else if (L.bits >= 16) {
    const int step = L.bits / 8;
    for (int32_t x = 0; x < W; ++x, s += step, d += 4) {
      const uint32_t word = step == 2 ? (uint32_t)(s[0] | s[1] << 8) : tqByteView{s, 4}.u32(0);
      d[0] = masks[2].scale(word);
      d[1] = masks[1].scale(word);
      d[2] = masks[0].scale(word);
      d[3] = masks[3].max ? masks[3].scale(word) : 255;
    }
  } else {
    // Indices packed from the top bit of each byte.
    const int b = L.bits, perByte = 8 / b, top = 8 - b;
    const uint8_t low = (uint8_t)((1 << b) - 1);
    for (int32_t x = 0; x < W; ++x, d += 4) {
      const uint8_t index = (uint8_t)((s[x / perByte] >> (top - (x % perByte) * b)) & low);
      memcpy(d, palette[index], 4);
    }
  }
}

// Run-length data into a bottom-row-first index plane of width x height
// (zero where the codes skip). Codes: a count and a value (for RLE4 two
// alternating indices); a zero count escapes: 0 ends the row, 1 ends the
// picture, 2 moves right and up by the next two bytes, n >= 3 is n literal
// indices padded to a 16-bit boundary. Writers code the row padding too, so
// indices beyond the row's end are dropped; codes cut off by the end of the
// file refuse it, and data ending without the end code keeps what came.
bool DecodeRle(const tqByteView& v, uint64_t at, const BmpLayout& L, uint8_t* plane) {
  const uint64_t W = (uint64_t)L.width, H = (uint64_t)L.height;
  const bool four = L.compression == kRle4;
  uint64_t x = 0, y = 0;
  auto put = [&](uint8_t index) {
    if (x < W) plane[y * W + x] = index;
    ++x;
  };
  while (v.has(at, 2) && y < H) {
    const uint8_t count = v.data[at], value = v.data[at + 1];
    at += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(four ? (uint8_t)(i & 1 ? value & 15 : value >> 4) : value);
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return true;
    } else if (value == 2) {
      if (!v.has(at, 2)) return false;
      x += v.data[at];
      y += v.data[at + 1];
      at += 2;
    } else {
      const uint64_t bytes = four ? (value + 1u) / 2 : value;
      if (!v.has(at, bytes)) return false;
      for (int i = 0; i < value; ++i) {
        const uint8_t byte = v.data[at + (four ? i / 2 : i)];
        put(four ? (uint8_t)(i & 1 ? byte & 15 : byte >> 4) : byte);
      }
      at += (bytes + 1) & ~uint64_t(1);
    }
  }
  return true;
}

}  // namespace

bool tqImageBmp::isBmp(const uint8_t* data, uint32_t size) {
  if (!data || size < 26 || data[0] != 'B' || data[1] != 'M') return false;
  const int bits = BitCount(tqByteView{data, size});
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

int tqImageBmp::load(const tqMemBlock& source, int) {
  tqByteView v{source.data, source.data ? source.size : 0};
  if (!v.data || !v.has(0, 18) || v.data[0] != 'B' || v.data[1] != 'M') {
    DebugPrint("イメージのタイプが違います");
    return 0;
  }
  BmpLayout L;
  BmpFail why;
  if (!ReadLayout(v, infoHeader, L, why)) {
    if (why == BmpFail::Message) DebugPrint("イメージのタイプが違います");
    return 0;
  }
  const uint64_t W = (uint64_t)L.width, H = (uint64_t)L.height;
  const bool rle = L.compression == kRle8 || L.compression == kRle4;
  const uint64_t fileRow = ((W * (uint64_t)L.bits + 31) / 32) * 4;
  uint64_t offset = v.u32(10);
  if (offset < 14 + (uint64_t)L.headerSize) offset = L.headersEnd > 54 ? L.headersEnd : 54;
  // Run-length data is at least one code; everything else all of its rows.
  if (!v.has(offset, rle ? 2 : fileRow * H)) return 0;
  // Two bytes of runs cover at most 255 pixels. Codes that skip (row ends,
  // moves, an early end) could make a large blank picture from a few bytes;
  // writers do not make such files, so a picture well beyond what its data
  // could fill with runs is taken for a made-up one and refused.
  if (rle && W * H > (v.size - offset) * 128 + 65536) return 0;

  uint8_t palette[256][4];
  if (L.bits <= 8) ReadPalette(v, L, palette);
  Mask masks[4];
  for (int i = 0; i < 4; ++i) masks[i] = Mask(L.masks[i]);
  // Run-length pictures go through an index plane a quarter of the picture.
  uint8_t* plane = nullptr;
  if (rle) {
    plane = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)(W * H)));
    if (!plane) return 0;
    memset(plane, 0, (size_t)(W * H));
    if (!DecodeRle(v, offset, L, plane)) {
      PrivateFree(plane);
      return 0;
    }
  }
  const uint32_t pitch = (uint32_t)W * 4;
  if (!reserve(pitch * (uint32_t)H)) {
    if (plane) PrivateFree(plane);
    return 0;
  }
  setGeometry((int)W, (int)H, 4, (int)pitch);
  canvasWidth_ = (int)W;
  canvasHeight_ = (int)H;
  const uint8_t* src = v.data + offset;
  for (uint64_t y = 0; y < H; ++y, src += fileRow) {
    uint8_t* dst = pixels_ + (size_t)(L.topDown ? H - 1 - y : y) * pitch;
    if (rle) {
      const uint8_t* row = plane + y * W;
      for (uint64_t x = 0; x < W; ++x) memcpy(dst + 4 * x, palette[row[x]], 4);
    } else {
      DecodeRow(L, masks, palette, src, dst);
    }
  }
  if (plane) PrivateFree(plane);
  return 1;
}

int tqImageBmp::save(tqMemBlock& destination, int, int, int, int) {
  if (!pixels_ || (uint64_t)bufferSize_ + 54 > 0xFFFFFFF0u) return 0;
  const uint32_t total = bufferSize_ + 54;
  if (!destination.allocate(total)) return 0;
  uint8_t* h = destination.data;
  memset(h, 0, destination.capacity);
  h[0] = 'B';
  h[1] = 'M';
  tqPut32(h + 2, total);
  tqPut32(h + 10, 54);
  tqPut32(h + 14, 40);
  tqPut32(h + 18, (uint32_t)width_);
  tqPut32(h + 22, (uint32_t)height_);
  tqPut16(h + 26, 1);
  tqPut16(h + 28, (uint16_t)(8 * bytesPerPixel_));
  tqPut32(h + 34, bufferSize_);
  memcpy(h + 54, pixels_, bufferSize_);
  destination.size = total;
  return 1;
}
