// HG codec. Decoding inflates both areas whole, the byte area into the free
// end of the expanded area E, and expands the runs into E front to back: the
// non-zero bytes move forward inside one buffer, which keeps the working
// memory to E and the bit area. The four planes of E are then merged row by
// row straight into the picture: a table turns a plane byte into the 2-bit
// groups of four codes, already zigzag-decoded, so four lookups and three
// XORs give four differences, which are summed with the row below (or, for
// the first row of a block, from the left) while the row is still in the
// cache.
#include "image/tqHgCodec.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#if TQ_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#if defined(__i386__) || defined(__x86_64__)
#define TQ_HG_SSE2 1
#include <emmintrin.h>
#endif

namespace {

struct Tables {
  // merge[j][x]: byte x of plane j as four zigzag-decoded difference bytes,
  // combined with the other planes' words by XOR.
  uint32_t merge[4][256];
  // Gamma codes of at most 12 bits, indexed by the next 12 bits of the
  // stream (first bit lowest): (length << 8) | value, 0 for longer codes.
  uint16_t gamma[4096];
  // Two gamma codes together in the next 12 bits (a zero run and the copy
  // run after it): (length << 12) | (first << 6) | second, 0 when the two do
  // not both fit.
  uint16_t pair[4096];
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
    for (uint32_t bits = 0; bits < 4096; ++bits) {
      pair[bits] = 0;
      const uint32_t first = gamma[bits], length = first >> 8;
      if (!first || length >= 12) continue;
      // The second code must lie inside the 12 - length bits known here.
      const uint32_t rest = bits >> length, known = 12 - length;
      if (!(rest & ((1u << known) - 1))) continue;
      const uint32_t z = (uint32_t)__builtin_ctz(rest);
      if (2 * z + 1 > known) continue;
      const uint32_t second = gamma[rest];
      pair[bits] = (uint16_t)(((length + (second >> 8)) << 12) | ((first & 0xFF) << 6) | (second & 0xFF));
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

bool ZlibHeaderOk(const uint8_t* src, uint32_t length) {
  // No preset dictionary: a stream that asks for one gives nothing.
  return length >= 2 && ((src[0] << 8) | src[1]) % 31 == 0 && (src[0] & 15) == Z_DEFLATED && (src[0] >> 4) <= 7 &&
         !(src[1] & 0x20);
}

// Inflating a zlib stream: its two header bytes are checked here and the
// deflate data is inflated raw, so the bytes delivered are exactly those a
// wrapped inflate delivers (the trailing checksum never changes how many
// bytes come out, only whether the end is reported as an error).
struct Inflater {
  z_stream z;
  bool started = false;
  bool finished = false;  // stream end, broken stream or no more input
  uint64_t delivered = 0;

  Inflater() { memset(&z, 0, sizeof z); }
  ~Inflater() {
    if (started) inflateEnd(&z);
  }

  // -1 when zlib cannot start (after its message).
  int begin(const uint8_t* src, uint32_t length) {
    int rc = inflateInit2(&z, -15);
    if (rc != Z_OK) {
      DebugPrint("zlib init error : %s\n", z.msg ? z.msg : zError(rc));
      return -1;
    }
    started = true;
    if (!ZlibHeaderOk(src, length)) {
      finished = true;  // a bad header or a preset dictionary gives nothing
      return 1;
    }
    z.next_in = const_cast<Bytef*>(src + 2);
    z.avail_in = length - 2;
    return 1;
  }

  // Up to capacity bytes into dst; the count delivered (0 at the end).
  uint32_t read(uint8_t* dst, uint32_t capacity) {
    if (finished || capacity == 0) return 0;
    z.next_out = dst;
    z.avail_out = capacity;
    while (z.avail_out > 0) {
      int rc = inflate(&z, Z_NO_FLUSH);
      if (rc != Z_OK) {
        finished = true;
        break;
      }
    }
    uint32_t n = capacity - z.avail_out;
    delivered += n;
    return n;
  }

  // Reads on until the stream ends or more than limit bytes came out in
  // all; the total delivered.
  uint64_t drain(uint64_t limit) {
    uint8_t scratch[4096];
    while (!finished && delivered <= limit) read(scratch, sizeof scratch);
    return delivered;
  }
};

#if TQ_HG_SSE2
// Sixteen bytes of each plane give 64 codes at once: for group i of every
// plane byte, the four planes' 2-bit groups are gathered into one code
// (first plane highest), zigzag-decoded, and the four groups interleaved
// back into code order. The same results as the merge tables; with a row
// below, its bytes are added.
__attribute__((target("sse2"))) inline void MergeSimd(const uint8_t* p0, const uint8_t* p1, const uint8_t* p2, const uint8_t* p3, uint8_t* out,
                      const uint8_t* below) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1));
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p2));
  const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p3));
  const __m128i m3 = _mm_set1_epi8(0x03), mC = _mm_set1_epi8(0x0C), m30 = _mm_set1_epi8(0x30),
                mC0 = _mm_set1_epi8((char)0xC0), one = _mm_set1_epi8(1), low7 = _mm_set1_epi8(0x7F);
  // Masking first keeps every shifted group inside its own byte, so 16-bit
  // shifts serve as byte shifts.
  __m128i x0 = _mm_or_si128(
      _mm_or_si128(_mm_slli_epi16(_mm_and_si128(a, m3), 6), _mm_slli_epi16(_mm_and_si128(b, m3), 4)),
      _mm_or_si128(_mm_slli_epi16(_mm_and_si128(c, m3), 2), _mm_and_si128(d, m3)));
  __m128i x1 = _mm_or_si128(
      _mm_or_si128(_mm_slli_epi16(_mm_and_si128(a, mC), 4), _mm_slli_epi16(_mm_and_si128(b, mC), 2)),
      _mm_or_si128(_mm_and_si128(c, mC), _mm_srli_epi16(_mm_and_si128(d, mC), 2)));
  __m128i x2 = _mm_or_si128(
      _mm_or_si128(_mm_slli_epi16(_mm_and_si128(a, m30), 2), _mm_and_si128(b, m30)),
      _mm_or_si128(_mm_srli_epi16(_mm_and_si128(c, m30), 2), _mm_srli_epi16(_mm_and_si128(d, m30), 4)));
  __m128i x3 = _mm_or_si128(
      _mm_or_si128(_mm_and_si128(a, mC0), _mm_srli_epi16(_mm_and_si128(b, mC0), 2)),
      _mm_or_si128(_mm_srli_epi16(_mm_and_si128(c, mC0), 4), _mm_srli_epi16(_mm_and_si128(d, mC0), 6)));
  // Zigzag: u >> 1, inverted when u is odd.
  x0 = _mm_xor_si128(_mm_and_si128(_mm_srli_epi16(x0, 1), low7), _mm_cmpeq_epi8(_mm_and_si128(x0, one), one));
  x1 = _mm_xor_si128(_mm_and_si128(_mm_srli_epi16(x1, 1), low7), _mm_cmpeq_epi8(_mm_and_si128(x1, one), one));
  x2 = _mm_xor_si128(_mm_and_si128(_mm_srli_epi16(x2, 1), low7), _mm_cmpeq_epi8(_mm_and_si128(x2, one), one));
  x3 = _mm_xor_si128(_mm_and_si128(_mm_srli_epi16(x3, 1), low7), _mm_cmpeq_epi8(_mm_and_si128(x3, one), one));
  const __m128i lo01 = _mm_unpacklo_epi8(x0, x1), hi01 = _mm_unpackhi_epi8(x0, x1);
  const __m128i lo23 = _mm_unpacklo_epi8(x2, x3), hi23 = _mm_unpackhi_epi8(x2, x3);
  __m128i v0 = _mm_unpacklo_epi16(lo01, lo23), v1 = _mm_unpackhi_epi16(lo01, lo23);
  __m128i v2 = _mm_unpacklo_epi16(hi01, hi23), v3 = _mm_unpackhi_epi16(hi01, hi23);
  if (below) {  // the differences are added to the row below
    v0 = _mm_add_epi8(v0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(below)));
    v1 = _mm_add_epi8(v1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(below + 16)));
    v2 = _mm_add_epi8(v2, _mm_loadu_si128(reinterpret_cast<const __m128i*>(below + 32)));
    v3 = _mm_add_epi8(v3, _mm_loadu_si128(reinterpret_cast<const __m128i*>(below + 48)));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), v1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), v2);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), v3);
}

// count groups of 64 codes from plane index k on (see MergeSimd).
__attribute__((target("sse2"))) void MergeRunSimd(const uint8_t* p0, const uint8_t* p1, const uint8_t* p2,
                                                 const uint8_t* p3, uint64_t k, uint8_t* out, const uint8_t* below,
                                                 uint64_t count, ptrdiff_t ahead) {
  for (uint64_t i = 0; i < count; ++i, k += 16, out += 64, below = below ? below + 64 : nullptr) {
    // The row above comes next, in memory before this one: fetch its lines
    // ahead of the stores, which the processor does not foresee.
    _mm_prefetch(reinterpret_cast<const char*>(out - ahead), _MM_HINT_T0);
    MergeSimd(p0 + k, p1 + k, p2 + k, p3 + k, out, below);
  }
}

// 32-bit builds run on processors with and without SSE2.
bool HasSse2() {
  static const bool yes = __builtin_cpu_supports("sse2");
  return yes;
}
#endif

// Bytes after E's area: room for fixed 16-byte moves past the end of a run
// and for the 16 bytes of inflate headroom of a byte area kept in E.
constexpr uint32_t kSlack = 64;

// The whole stream in one call when the fast inflater takes it; whatever it
// refuses goes through zlib from the start, which counts what comes out
// before a fault or past the capacity. The fast inflater is more lenient
// than zlib with some broken code tables, so it must also find the stream's
// checksum intact: then the stream is one an encoder wrote, and both give
// the same bytes. (zlib ignores the checksum: a stream with a bad one still
// gives its bytes, through zlib.)
int64_t InflateArea(void* inflater, const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity) {
#if TQ_HAVE_LIBDEFLATE
  if (inflater && ZlibHeaderOk(src, length)) {
    size_t n = 0;
    if (libdeflate_zlib_decompress(static_cast<libdeflate_decompressor*>(inflater), src, length, dst, capacity,
                                   &n) == LIBDEFLATE_SUCCESS) {
      if (n < capacity) memset(dst + n, 0, capacity - n);
      return (int64_t)n;
    }
  }
#else
  (void)inflater;
#endif
  return tqHgInflateStreaming(src, length, dst, capacity);
}

void* NewInflater() {
#if TQ_HAVE_LIBDEFLATE
  return libdeflate_alloc_decompressor();
#else
  return nullptr;
#endif
}

void FreeInflater(void* inflater) {
#if TQ_HAVE_LIBDEFLATE
  libdeflate_free_decompressor(static_cast<libdeflate_decompressor*>(inflater));
#else
  (void)inflater;
#endif
}

// While far from every limit (dLimit and sLimit leave room for four pairs
// of runs below 64 and fixed stores of 64 bytes, and the gap keeps those
// stores off bytes still to be copied), a zero run and the copy run after
// it come from one lookup when both are short, and move with fixed stores.
// A refill holds at least four pairs, so the lookups only wait on each
// other. Stops at the first pair that does not fit.
inline void ShortPairs(const Tables& t, BitReader& bits, uint8_t* E, const uint8_t* bytes, uint64_t dLimit,
                       uint64_t sLimit, uint64_t& dOut, uint64_t& sOut, int64_t& gapOut) {
  uint64_t d = dOut, s = sOut;
  int64_t gap = gapOut;
  uint64_t buf = bits.buf;
  int count = bits.count;
  while (d < dLimit && s < sLimit && gap >= 144 + 4 * 64) {
    bits.buf = buf;
    bits.count = count;
    bits.refill();
    buf = bits.buf;
    count = bits.count;
    for (int j = 0; j < 4; ++j) {
      const uint32_t e = t.pair[buf & 4095];
      const int length = (int)(e >> 12);
      if (!e || count < length) goto done;
      buf >>= length;
      count -= length;
      const uint32_t z = (e >> 6) & 63, c = e & 63;
      memset(E + d, 0, 64);
      d += z;
      gap -= z;
      memcpy(E + d, bytes + s, 64);
      d += c;
      s += c;
    }
  }
done:
  bits.buf = buf;
  bits.count = count;
  dOut = d;
  sOut = s;
  gapOut = gap;
}

enum class Expansion { Done, Broken, Overtaken };

// Expands the runs of the bit area into E (area bytes usable, kSlack more
// writable), copying from bytes (count of them, 16 readable past each).
// gap is how far the next byte to copy lies ahead of the write position when
// the byte area sits inside E, or any large value when it does not: short
// runs are moved with fixed 16-byte stores while that leaves unread bytes
// alone. A zero run that would overwrite bytes still to be copied (only a
// hostile stream has that many zeros) answers Overtaken.
Expansion ExpandRuns(const uint8_t* bitArea, uint32_t bitLength, uint8_t* E, uint64_t area, const uint8_t* bytes,
                     uint64_t count, int64_t gap, uint64_t* expanded) {
  const Tables& t = tables();
  BitReader bits(bitArea, bitLength);
  uint64_t s = 0, d = 0;
  auto copy = [&](uint64_t c) {
    if (!c || d + c > area || s + c > count) return false;
    if (c <= 16 && gap >= 16)
      memcpy(E + d, bytes + s, 16);
    else
      memmove(E + d, bytes + s, (size_t)c);
    d += c;
    s += c;
    return true;
  };
  const int first = bits.bit();
  if (first < 0) return Expansion::Broken;
  const uint64_t total = bits.gamma(t);
  if (!total || total > area) return Expansion::Broken;
  if (first && !copy(bits.gamma(t))) return Expansion::Broken;
  const uint64_t dLimit = total > 4 * 128 ? total - 4 * 128 : 0, sLimit = count > 4 * 64 ? count - 4 * 64 : 0;
  while (d < total) {
    ShortPairs(t, bits, E, bytes, dLimit, sLimit, d, s, gap);
    const uint64_t z = bits.gamma(t);
    if (!z || d + z > area) return Expansion::Broken;
    if ((int64_t)z > gap && s < count) return Expansion::Overtaken;
    if (z <= 16 && gap >= 16)
      memset(E + d, 0, 16);
    else
      memset(E + d, 0, (size_t)z);
    d += z;
    gap -= (int64_t)z;
    if (d >= total) break;
    if (!copy(bits.gamma(t))) return Expansion::Broken;
  }
  *expanded = d;
  return Expansion::Done;
}

}  // namespace

// ------------------------------------------------------------ zlib areas

int64_t tqHgInflateStreaming(const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity) {
  Inflater in;
  if (in.begin(src, length) < 0) return -1;
  uint32_t n = in.read(dst, capacity);
  if (n < capacity) memset(dst + n, 0, capacity - n);
  return n;
}

int64_t tqHgInflate(const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity) {
  void* inflater = NewInflater();
  int64_t n = InflateArea(inflater, src, length, dst, capacity);
  FreeInflater(inflater);
  return n;
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
    if (!spill) spill = static_cast<uint8_t*>(PrivateAlloc(0, 65536));
    if (!spill) break;
    z.next_out = spill;
    z.avail_out = 65536;
  }
  int64_t total = rc == Z_STREAM_END ? (int64_t)z.total_out : -1;
  deflateEnd(&z);
  if (spill) PrivateFree(spill);
  return total;
}

// ------------------------------------------------------------ decoding

int tqHgCodec::beginDecode(tqImage& image, const char* prefix) {
  endDecode();
  image_ = &image;
  prefix_ = prefix;
  const uint64_t area = (uint64_t)image.width() * image.bytesPerPixel() * image.height() + 4096;
  if (area + kSlack > 0xFFFFFFFFu) return 0;
  expanded_ = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)(area + kSlack)));
  if (!expanded_) {
    endDecode();
    return 0;
  }
  expandedCapacity_ = area;
  inflater_ = NewInflater();  // none: zlib does it all
  return 1;
}

void tqHgCodec::endDecode() {
  if (expanded_) PrivateFree(expanded_);
  if (bitAreaBuffer_) PrivateFree(bitAreaBuffer_);
  if (byteAreaBuffer_) PrivateFree(byteAreaBuffer_);
  if (inflater_) FreeInflater(inflater_);
  expanded_ = bitAreaBuffer_ = byteAreaBuffer_ = nullptr;
  inflater_ = nullptr;
  expandedCapacity_ = 0;
  image_ = nullptr;
}

// Inflates the byte area with 16 bytes of headroom: at the end of E when it
// fits there (inTail), else into a buffer of its own. None when memory ran
// out.
uint8_t* tqHgCodec::inflateByteArea(const tqHgBlock& block, int64_t* count, bool* inTail) {
  const uint64_t room = expandedCapacity_ + kSlack;
  uint8_t* bytes;
  *inTail = (uint64_t)block.byteAreaRaw + 32 <= room;
  if (*inTail) {
    bytes = expanded_ + (room - 16 - block.byteAreaRaw);
  } else {
    if (!byteAreaBuffer_) byteAreaBuffer_ = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)block.byteAreaRaw + 32));
    bytes = byteAreaBuffer_;
  }
  if (bytes) *count = InflateArea(inflater_, block.byteArea, block.byteAreaLength, bytes, block.byteAreaRaw + 16);
  return bytes;
}

int tqHgCodec::decodeBlock(const tqHgBlock& block) {
  if (!image_ || !image_->pixels() || !expanded_) return 0;
  tqImage& img = *image_;
  const int B = img.bytesPerPixel();
  const uint64_t rowBytes = (uint64_t)img.width() * B;
  if (block.rows == 0 || (uint64_t)block.firstRow + block.rows > (uint64_t)img.height() || rowBytes == 0 ||
      (uint64_t)img.pitch() != rowBytes)
    return 0;
  // Buffer sizes below are 32-bit on 32-bit builds.
  if ((uint64_t)block.byteAreaRaw + 32 > 0xFFFFFFFFu || (uint64_t)block.bitAreaRaw + 16 > 0xFFFFFFFFu) return 0;

  // Both areas whole; either of the wrong length fails the block, the byte
  // area's message first.
  int64_t byteCount = -1, bitCount = -1;
  bool inTail = false;
  uint8_t* bytes = inflateByteArea(block, &byteCount, &inTail);
  if (bitAreaBuffer_) PrivateFree(bitAreaBuffer_);
  bitAreaBuffer_ = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)block.bitAreaRaw + 16));
  if (bitAreaBuffer_)
    bitCount = InflateArea(inflater_, block.bitArea, block.bitAreaLength, bitAreaBuffer_, block.bitAreaRaw + 16);
  if (byteCount != (int64_t)block.byteAreaRaw) {
    if (bytes) DebugPrint("%sバイト領域のサイズが異常です", prefix_);
    return 0;
  }
  if (bitCount != (int64_t)block.bitAreaRaw) {
    if (bitAreaBuffer_) DebugPrint("%sビット領域のサイズが異常です", prefix_);
    return 0;
  }

  uint8_t* const E = expanded_;
  const uint64_t area = expandedCapacity_;
  uint64_t expanded = 0;
  Expansion result = ExpandRuns(bitAreaBuffer_, block.bitAreaRaw, E, area, bytes, block.byteAreaRaw,
                                inTail ? bytes - E : INT64_MAX, &expanded);
  if (result == Expansion::Overtaken) {
    // Once more with the byte area in a buffer of its own.
    byteAreaBuffer_ = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)block.byteAreaRaw + 32));
    if (!byteAreaBuffer_) return 0;
    InflateArea(inflater_, block.byteArea, block.byteAreaLength, byteAreaBuffer_, block.byteAreaRaw + 16);
    result = ExpandRuns(bitAreaBuffer_, block.bitAreaRaw, E, area, byteAreaBuffer_, block.byteAreaRaw, INT64_MAX,
                        &expanded);
  }
  PrivateFree(bitAreaBuffer_);
  bitAreaBuffer_ = nullptr;
  if (byteAreaBuffer_) PrivateFree(byteAreaBuffer_);
  byteAreaBuffer_ = nullptr;
  const uint64_t need = rowBytes * block.rows;
  if (result != Expansion::Done || expanded % 4 != 0 || expanded < need) return 0;
  mergePlanes(block, expanded);
  return 1;
}

// Merges the planes into each row and sums the differences: the bottom row
// of the block from the left, each row above with the row below it, which
// is already final.
void tqHgCodec::mergePlanes(const tqHgBlock& block, uint64_t expanded) {
  const Tables& t = tables();
  tqImage& img = *image_;
  const int B = img.bytesPerPixel();
  const uint64_t rowBytes = (uint64_t)img.width() * B;
  uint8_t* const E = expanded_;
  const uint64_t Q = expanded / 4;
  const uint8_t* p0 = E;
  const uint8_t* p1 = E + Q;
  const uint8_t* p2 = E + 2 * Q;
  const uint8_t* p3 = E + 3 * Q;
  const uint32_t* m0 = t.merge[0];
  const uint32_t* m1 = t.merge[1];
  const uint32_t* m2 = t.merge[2];
  const uint32_t* m3 = t.merge[3];
  auto word = [&](uint64_t k) { return m0[p0[k]] ^ m1[p1[k]] ^ m2[p2[k]] ^ m3[p3[k]]; };
  const ptrdiff_t pitch = img.pitch();
  uint8_t* row = img.pixels() + (ptrdiff_t)(img.height() - 1 - (int64_t)block.firstRow) * pitch;
  uint64_t code = 0;  // first code of the row
#if TQ_HG_SSE2
  const bool sse2 = HasSse2();
#endif
  for (uint32_t r = 0; r < block.rows; ++r, code += rowBytes, row -= pitch) {
    // The first row is summed afterwards; the others add the row below as
    // they go (a zero offset for the first row would add the row itself).
    const ptrdiff_t down = r ? pitch : 0;
    uint8_t* out = row;
    uint64_t k = code / 4, len = rowBytes;
    uint32_t head = (uint32_t)(code % 4);
    auto put = [&](uint8_t* at, uint8_t v) { *at = r ? (uint8_t)(v + at[down]) : v; };
    if (head) {
      uint32_t w = word(k++);
      for (uint32_t i = head; i < 4 && len; ++i, --len) put(out++, (uint8_t)(w >> (8 * i)));
    }
#if TQ_HG_SSE2
    if (len >= 64 && sse2) {
      uint64_t groups = len / 64;
      MergeRunSimd(p0, p1, p2, p3, k, out, r ? out + down : nullptr, groups, pitch);
      k += 16 * groups;
      out += 64 * groups;
      len -= 64 * groups;
    }
#endif
    for (; len >= 4; len -= 4, out += 4) {
      uint32_t w = word(k++);
      for (int i = 0; i < 4; ++i) put(out + i, (uint8_t)(w >> (8 * i)));
    }
    if (len) {
      uint32_t w = word(k);
      for (uint32_t i = 0; i < len; ++i) put(out + i, (uint8_t)(w >> (8 * i)));
    }
    if (r == 0)
      for (uint64_t i = (uint64_t)B; i < rowBytes; ++i) row[i] = (uint8_t)(row[i] + row[i - B]);
  }
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
