// HG codec. Decoding runs the zero/non-zero runs straight into the picture:
// each expanded byte of plane j carries one 2-bit group of four consecutive
// codes, so a table turns it into a 32-bit XOR word of zigzag-decoded
// differences at the right bit positions; zero runs cost nothing because the
// rows are cleared first. The differences are then summed in place (the first
// row of a block from the left, every other row from the row below it).
#include "image/tqHgCodec.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

struct Tables {
  // merge[j][x]: byte x of plane j as four zigzag-decoded difference bytes,
  // combined with the other planes' words by XOR.
  uint32_t merge[4][256];
  // Gamma codes of at most 12 bits, indexed by the next 12 bits of the
  // stream (first bit lowest): (length << 8) | value, 0 for longer codes.
  uint16_t gamma[4096];
  uint8_t reverse[256];
  uint8_t zigzagEncode[256];

  Tables() {
    for (int x = 0; x < 256; ++x) {
      for (int j = 0; j < 4; ++j) {
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i) {
          uint32_t pair = (x >> (2 * i)) & 3;
          // A code u decodes to (u >> 1), inverted when u is odd; bit 0 of u
          // comes from the last plane, so only that plane carries the
          // inversion.
          uint32_t b = j < 3 ? pair << (5 - 2 * j) : ((pair >> 1) ^ ((pair & 1) ? 0xFFu : 0u));
          word |= b << (8 * i);
        }
        merge[j][x] = word;
      }
      uint8_t r = 0;
      for (int b = 0; b < 8; ++b)
        if (x & (1 << b)) r |= (uint8_t)(0x80 >> b);
      reverse[x] = r;
      zigzagEncode[x] = x < 128 ? (uint8_t)(2 * x) : (uint8_t)(2 * (255 - x) + 1);
    }
    for (uint32_t bits = 0; bits < 4096; ++bits) {
      gamma[bits] = 0;
      if (!bits) continue;
      int z = __builtin_ctz(bits);
      int length = 2 * z + 1;
      if (length > 12) continue;
      uint32_t value = 1;
      for (int i = 0; i < z; ++i) value = (value << 1) | ((bits >> (z + 1 + i)) & 1);
      gamma[bits] = (uint16_t)((length << 8) | value);
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

inline uint32_t reverse32(uint32_t v, const uint8_t* rev) {
  return (uint32_t)rev[v & 0xFF] << 24 | (uint32_t)rev[(v >> 8) & 0xFF] << 16 | (uint32_t)rev[(v >> 16) & 0xFF] << 8 |
         rev[v >> 24];
}

// Bit reader over the inflated bit area, first bit of the stream = lowest bit
// of the first byte. Bits past the end read as 0 and drive count below 0,
// which the caller takes as a broken block.
struct BitReader {
  const uint8_t* p;
  const uint8_t* end;
  uint64_t buf = 0;
  int count = 0;  // valid bits in buf

  BitReader(const uint8_t* data, size_t length) : p(data), end(data + length) {}

  inline void refill() {
    if (end - p >= 8) {
      uint64_t v;
      memcpy(&v, p, 8);
      buf |= v << count;
      p += (63 - count) >> 3;
      count |= 56;
    } else {
      while (count <= 56 && p < end) {
        buf |= (uint64_t)*p++ << count;
        count += 8;
      }
    }
  }

  inline int bit() {
    refill();
    int b = (int)(buf & 1);
    buf >>= 1;
    --count;
    return count < 0 ? -1 : b;
  }

  // Next gamma value, or 0 when the stream is broken (prefix of 32 zero
  // bits or more, or past the end of the area).
  inline uint32_t gamma(const Tables& t) {
    refill();
    uint32_t e = t.gamma[buf & 4095];
    if (e) {
      int length = (int)(e >> 8);
      buf >>= length;
      count -= length;
      return count < 0 ? 0 : (e & 0xFF);
    }
    return gammaSlow(t);
  }

  uint32_t gammaSlow(const Tables& t) {
    // count >= 56 here unless the area is nearly used up.
    if (!buf) return 0;
    int z = __builtin_ctzll(buf);
    if (z >= 32 || z + 1 > count) return 0;
    buf >>= z + 1;
    count -= z + 1;
    if (z == 0) return 1;
    refill();
    if (count < z) return 0;
    uint32_t low = (uint32_t)(buf & ((1ull << z) - 1));
    buf >>= z;
    count -= z;
    return (1u << z) | (reverse32(low, t.reverse) >> (32 - z));
  }
};

inline void xor32(uint8_t* p, uint32_t v) {
  uint32_t w;
  memcpy(&w, p, 4);
  w ^= v;
  memcpy(p, &w, 4);
}

// Places the expanded stream, plane by plane, into the rows of one block.
// Expanded byte d lies in plane j = d / Q at index k = d - jQ and supplies
// the 2-bit groups of codes 4k .. 4k + 3 of the code stream, which runs from
// the bottom row of the block upwards.
struct Expander {
  const Tables& t;
  uint8_t* pixels;
  ptrdiff_t bottom;  // offset of the block's bottom row
  ptrdiff_t pitch;
  uint64_t rowBytes;
  uint64_t rows;
  uint64_t need;  // rows * rowBytes
  uint64_t quarter;

  uint64_t d = 0;          // expanded position
  int plane = 0;           // 4: past the fourth plane
  uint64_t planeEnd = 0;   // expanded position where the plane ends
  uint64_t k = 0;          // index within the plane
  uint64_t row = 0;        // mapping of code 4k, valid while 4k < need
  uint64_t col = 0;
  ptrdiff_t rowOffset = 0;

  Expander(const Tables& tables, uint8_t* px, ptrdiff_t bottomOffset, ptrdiff_t p, uint64_t rb, uint64_t n,
           uint64_t q)
      : t(tables), pixels(px), bottom(bottomOffset), pitch(p), rowBytes(rb), rows(n), need(rb * n), quarter(q) {
    planeEnd = quarter;
    rowOffset = bottom;
  }

  void nextPlane() {
    ++plane;
    k = 0;
    row = col = 0;
    rowOffset = bottom;
    planeEnd = plane < 4 ? planeEnd + quarter : UINT64_MAX;
  }

  void remap() {
    uint64_t m = 4 * k;
    if (m < need) {
      row = m / rowBytes;
      col = m % rowBytes;
      rowOffset = bottom - (ptrdiff_t)row * pitch;
    }
  }

  // A zero run: only the position moves.
  void skip(uint64_t n) {
    while (n) {
      uint64_t room = planeEnd - d;
      if (n >= room && plane < 4) {
        n -= room;
        d += room;
        nextPlane();
        continue;
      }
      d += n;
      uint64_t oldCode = 4 * k;
      k += n;
      if (plane < 4 && 4 * k < need) {
        col += 4 * n;
        if (col >= rowBytes) remap();
      }
      (void)oldCode;
      n = 0;
    }
  }

  void copy(const uint8_t* src, uint64_t n) {
    while (n) {
      if (plane >= 4) {
        d += n;
        return;
      }
      uint64_t seg = std::min(n, planeEnd - d);
      uint64_t done = 0;
      if (4 * k < need) {
        uint64_t words = std::min(seg, (need - 4 * k + 3) / 4);
        write(t.merge[plane], src, words);
        done = words;
      }
      k += seg - done;
      d += seg;
      src += seg;
      n -= seg;
      if (d == planeEnd) nextPlane();
    }
  }

  void write(const uint32_t* table, const uint8_t* src, uint64_t words) {
    while (words) {
      if (col + 4 <= rowBytes) {
        uint64_t fit = std::min(words, (rowBytes - col) >> 2);
        uint8_t* q = pixels + rowOffset + col;
        for (uint64_t i = 0; i < fit; ++i) xor32(q + 4 * i, table[src[i]]);
        src += fit;
        words -= fit;
        k += fit;
        col += 4 * fit;
        if (col == rowBytes) {
          col = 0;
          ++row;
          rowOffset -= pitch;
        }
      } else {
        // The four codes of this byte straddle two rows.
        uint32_t v = table[*src++];
        --words;
        ++k;
        for (int b = 0; b < 4; ++b) {
          if (row < rows) pixels[rowOffset + (ptrdiff_t)col] ^= (uint8_t)(v >> (8 * b));
          if (++col == rowBytes) {
            col = 0;
            ++row;
            rowOffset -= pitch;
          }
        }
      }
    }
  }
};

}  // namespace

// ------------------------------------------------------------ zlib areas

int64_t tqHgInflate(const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity) {
  z_stream z;
  memset(&z, 0, sizeof z);
  int rc = inflateInit(&z);
  if (rc != Z_OK) {
    DebugPrint("zlib init error : %s\n", z.msg ? z.msg : zError(rc));
    return -1;
  }
  z.next_in = const_cast<Bytef*>(src);
  z.avail_in = length;
  z.next_out = dst;
  z.avail_out = capacity;
  while (z.avail_out > 0) {
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK) break;  // end of stream, broken stream or no more input
  }
  uint64_t delivered = z.total_out;
  inflateEnd(&z);
  if (delivered < capacity) memset(dst + delivered, 0, capacity - delivered);
  return (int64_t)delivered;
}

int64_t tqHgDeflate(const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (deflateInit(&z, 9) != Z_OK) return -1;
  z.next_in = const_cast<Bytef*>(src);
  z.avail_in = length;
  z.next_out = dst;
  z.avail_out = capacity;
  uint8_t* spill = nullptr;  // counts what does not fit
  int rc;
  for (;;) {
    rc = deflate(&z, Z_FINISH);
    if (rc == Z_STREAM_END) break;
    if (z.avail_out != 0) {  // no progress with room left: the stream is broken
      DebugPrint("zlib encode error : %s", z.msg ? z.msg : zError(rc));
      break;
    }
    {
      if (!spill) spill = static_cast<uint8_t*>(PrivateAlloc(0, 65536));
      if (!spill) break;
      z.next_out = spill;
      z.avail_out = 65536;
    }
  }
  int64_t total = rc == Z_STREAM_END ? (int64_t)z.total_out : -1;
  deflateEnd(&z);
  if (spill) PrivateFree(spill);
  return total;
}

// ------------------------------------------------------------ decoding

int tqHgCodec::beginDecode(tqImage& image, uint32_t largestByteAreaRaw, const char* prefix) {
  endDecode();
  image_ = &image;
  prefix_ = prefix;
  uint64_t capacity = (uint64_t)largestByteAreaRaw + 16;
  if (capacity > 0xFFFFFFFFu) return 0;
  byteAreaBuffer_ = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)capacity));
  if (!byteAreaBuffer_) return 0;
  byteAreaCapacity_ = (uint32_t)capacity;
  return 1;
}

void tqHgCodec::endDecode() {
  if (byteAreaBuffer_) PrivateFree(byteAreaBuffer_);
  if (bitAreaBuffer_) PrivateFree(bitAreaBuffer_);
  byteAreaBuffer_ = bitAreaBuffer_ = nullptr;
  byteAreaCapacity_ = 0;
  image_ = nullptr;
}

// Runs the bit area into the block's rows with plane length `quarter`;
// stores the expanded length. 0 for a hostile or broken stream.
int tqHgCodec::expand(const tqHgBlock& block, uint64_t quarter, uint64_t* expanded) {
  const Tables& t = tables();
  tqImage& img = *image_;
  const uint64_t rowBytes = (uint64_t)img.width() * img.bytesPerPixel();
  const uint64_t area = rowBytes * (uint64_t)img.height() + 4096;  // the expanded area's capacity
  const ptrdiff_t pitch = img.pitch();
  const ptrdiff_t bottom = (ptrdiff_t)(img.height() - 1 - (int64_t)block.firstRow) * pitch;
  const ptrdiff_t top = bottom - (ptrdiff_t)(block.rows - 1) * pitch;
  memset(img.pixels() + top, 0, (size_t)(block.rows * (uint64_t)pitch));

  BitReader bits(bitAreaBuffer_, block.bitAreaRaw);
  Expander out(t, img.pixels(), bottom, pitch, rowBytes, block.rows, quarter);
  const uint8_t* bytes = byteAreaBuffer_;
  const uint64_t byteCount = block.byteAreaRaw;
  uint64_t s = 0;

  int first = bits.bit();
  if (first < 0) return 0;
  uint64_t total = bits.gamma(t);
  if (!total || total > area) return 0;
  int64_t left = (int64_t)total;
  uint64_t d = 0;
  if (first) {
    uint64_t c = bits.gamma(t);
    if (!c || d + c > area || s + c > byteCount) return 0;
    out.copy(bytes + s, c);
    d += c;
    s += c;
    left -= (int64_t)c;
  }
  while (left > 0) {
    uint64_t z = bits.gamma(t);
    if (!z || d + z > area) return 0;
    out.skip(z);
    d += z;
    left -= (int64_t)z;
    if (left <= 0) break;
    uint64_t c = bits.gamma(t);
    if (!c || d + c > area || s + c > byteCount) return 0;
    out.copy(bytes + s, c);
    d += c;
    s += c;
    left -= (int64_t)c;
  }
  *expanded = d;
  return 1;
}

int tqHgCodec::decodeBlock(const tqHgBlock& block) {
  if (!image_ || !image_->pixels()) return 0;
  tqImage& img = *image_;
  const int B = img.bytesPerPixel();
  const uint64_t rowBytes = (uint64_t)img.width() * B;
  if (block.rows == 0 || (uint64_t)block.firstRow + block.rows > (uint64_t)img.height() || rowBytes == 0 ||
      (uint64_t)img.pitch() != rowBytes)
    return 0;

  if (block.byteAreaRaw + 16ull > byteAreaCapacity_ ||
      tqHgInflate(block.byteArea, block.byteAreaLength, byteAreaBuffer_, block.byteAreaRaw + 16) !=
          block.byteAreaRaw) {
    DebugPrint("%sバイト領域のサイズが異常です", prefix_);
    return 0;
  }
  if (bitAreaBuffer_) PrivateFree(bitAreaBuffer_);
  bitAreaBuffer_ = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)block.bitAreaRaw + 16));
  if (!bitAreaBuffer_ || tqHgInflate(block.bitArea, block.bitAreaLength, bitAreaBuffer_, block.bitAreaRaw + 16) !=
                             block.bitAreaRaw) {
    DebugPrint("%sビット領域のサイズが異常です", prefix_);
    return 0;
  }

  // The plane length is a quarter of the expanded length, known only at the
  // end; every writer makes it a quarter of the announced total, so try that
  // and run again in the rare case the runs said otherwise.
  BitReader probe(bitAreaBuffer_, block.bitAreaRaw);
  probe.bit();
  uint64_t total = probe.gamma(tables());
  uint64_t expanded = 0;
  uint64_t guess = std::max<uint64_t>(total / 4, 1);
  if (!expand(block, guess, &expanded)) return 0;
  uint64_t need = rowBytes * block.rows;
  if (expanded % 4 != 0 || expanded < need) return 0;
  if (expanded / 4 != guess && !expand(block, expanded / 4, &expanded)) return 0;
  PrivateFree(bitAreaBuffer_);
  bitAreaBuffer_ = nullptr;

  // Sum the differences: the bottom row of the block from the left, each
  // row above it from the row below.
  const ptrdiff_t pitch = img.pitch();
  uint8_t* row = img.pixels() + (ptrdiff_t)(img.height() - 1 - (int64_t)block.firstRow) * pitch;
  for (uint64_t i = (uint64_t)B; i < rowBytes; ++i) row[i] = (uint8_t)(row[i] + row[i - B]);
  for (uint32_t r = 1; r < block.rows; ++r) {
    uint8_t* __restrict up = row - pitch;
    const uint8_t* __restrict below = row;
    for (uint64_t i = 0; i < rowBytes; ++i) up[i] = (uint8_t)(up[i] + below[i]);
    row = up;
  }
  return 1;
}

// ------------------------------------------------------------ encoding

namespace {

struct BitWriter {
  uint8_t* out;
  uint8_t* end;
  uint64_t acc = 0;
  int count = 0;
  bool overflow = false;

  inline void put(uint64_t bits, int length) {  // length <= 32
    acc |= bits << count;
    count += length;
    while (count >= 8) {
      if (out < end)
        *out++ = (uint8_t)acc;
      else
        overflow = true;
      acc >>= 8;
      count -= 8;
    }
  }
  void gamma(uint32_t v, const Tables& t) {
    int z = 31 - __builtin_clz(v);
    put(1ull << z, z + 1);  // z zero bits, then the 1
    if (z) put(reverse32(v & ((1u << z) - 1), t.reverse) >> (32 - z), z);
  }
  void flush() {
    if (count > 0) put(0, 8 - count);
  }
};

}  // namespace

int64_t tqHgEncode(const tqImage& image, uint8_t* dst, uint32_t capacity, tqHgEncoded* out) {
  const int B = image.bytesPerPixel();
  if (B != 3 && B != 4) {
    DebugPrint("この色数には対応していません");
    return -1;
  }
  const Tables& t = tables();
  const uint64_t W = (uint64_t)image.width(), H = (uint64_t)image.height();
  const uint64_t rowBytes = W * B, raw = rowBytes * H;
  const uint64_t N = std::max<uint64_t>(1024, raw);
  const uint64_t Q = (N + 3) / 4, T = 4 * Q;
  if (T > 0x7FFFFFF0u || !image.pixels()) return -2;

  // Codes in stream order (bottom row first), then the planes, then the
  // byte area, in one working buffer.
  uint8_t* work = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)(3 * T + 16)));
  if (!work) return -2;
  uint8_t* codes = work;
  uint8_t* planes = work + T + 8;
  uint8_t* byteArea = planes + T;
  memset(codes + raw, 0, (size_t)(T + 8 - raw));
  const uint8_t* zz = t.zigzagEncode;
  const uint8_t* px = image.pixels();
  const ptrdiff_t pitch = image.pitch();
  for (uint64_t j = 0; j < H; ++j) {
    const uint8_t* src = px + (ptrdiff_t)(H - 1 - j) * pitch;
    uint8_t* __restrict s = codes + j * rowBytes;
    if (j == 0) {
      for (int i = 0; i < B && (uint64_t)i < rowBytes; ++i) s[i] = zz[src[i]];
      for (uint64_t i = B; i < rowBytes; ++i) s[i] = zz[(uint8_t)(src[i] - src[i - B])];
    } else {
      const uint8_t* below = src + pitch;
      for (uint64_t i = 0; i < rowBytes; ++i) s[i] = zz[(uint8_t)(src[i] - below[i])];
    }
  }
  for (int j = 0; j < 4; ++j) {
    uint8_t* plane = planes + j * Q;
    const int shift = 6 - 2 * j;
    for (uint64_t k = 0; k < Q; ++k) {
      uint32_t w;
      memcpy(&w, codes + 4 * k, 4);
      uint32_t x = (w >> shift) & 0x03030303u;
      x |= x >> 6;
      x |= x >> 12;
      plane[k] = (uint8_t)x;
    }
  }

  // Runs: one bit for the kind of the first run, the total, then alternating
  // run lengths; non-zero bytes go to the byte area.
  // A run costs at most 1.5 bits a byte (runs of 2 take 3 bits).
  const uint64_t bitCapacity = T * 3 / 16 + 64;
  uint8_t* bitArea = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)bitCapacity));
  if (!bitArea) {
    PrivateFree(work);
    return -2;
  }
  BitWriter bw{bitArea, bitArea + bitCapacity};
  bw.put(planes[0] ? 1 : 0, 1);
  bw.gamma((uint32_t)T, t);
  uint64_t byteLength = 0;
  uint64_t i = 0;
  while (i < T) {
    uint64_t start = i;
    if (planes[i]) {
      while (i < T && planes[i]) ++i;
      memcpy(byteArea + byteLength, planes + start, (size_t)(i - start));
      byteLength += i - start;
    } else {
      while (i < T && !planes[i]) ++i;
    }
    bw.gamma((uint32_t)(i - start), t);
  }
  bw.flush();
  uint64_t bitLength = (uint64_t)(bw.out - bitArea);

  int64_t result = -2;
  if (!bw.overflow) {
    int64_t a = tqHgDeflate(byteArea, (uint32_t)byteLength, dst, capacity);
    int64_t b = a < 0 ? -1
                      : tqHgDeflate(bitArea, (uint32_t)bitLength, a <= capacity ? dst + a : nullptr,
                                    a <= capacity ? (uint32_t)(capacity - a) : 0);
    if (a >= 0 && b >= 0) {
      out->byteAreaLength = (uint32_t)a;
      out->byteAreaRaw = (uint32_t)byteLength;
      out->bitAreaLength = (uint32_t)b;
      out->bitAreaRaw = (uint32_t)bitLength;
      result = a + b;
    }
  }
  PrivateFree(bitArea);
  PrivateFree(work);
  return result;
}
