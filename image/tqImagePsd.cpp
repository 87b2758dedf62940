// PSD reader: the merged picture and the layer records. Every length read
// from the file is checked against the buffer and against the section that
// encloses it before it is used, and no picture is allocated before the data
// that fills it is known to be there.
#include "image/tqImagePsd.h"
#include "platform/tqShiftJis.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint16_t Be16(const uint8_t* p) { return (uint16_t)(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

// Big-endian reads over [at, end) of a buffer. A read that would leave the
// range fails, yields 0 and makes every later read fail too.
struct PsdCursor {
  const uint8_t* data = nullptr;
  uint64_t at = 0;
  uint64_t end = 0;
  bool ok = true;

  bool has(uint64_t n) const { return ok && at <= end && n <= end - at; }
  bool skip(uint64_t n) {
    if (!has(n)) return ok = false;
    at += n;
    return true;
  }
  uint8_t u8() { return has(1) ? data[at++] : (ok = false, 0); }
  uint16_t u16() {
    if (!has(2)) return ok = false, 0;
    at += 2;
    return Be16(data + at - 2);
  }
  uint32_t u32() {
    if (!has(4)) return ok = false, 0;
    at += 4;
    return Be32(data + at - 4);
  }
  int32_t s32() { return (int32_t)u32(); }
  // The next n bytes as a cursor of their own; this one moves past them.
  PsdCursor take(uint64_t n) {
    PsdCursor part{data, at, at, ok};
    if (skip(n))
      part.end = at;
    else
      part.ok = false;
    return part;
  }
};

// Where the sections of a file lie. Large documents (version 2) store the
// layer and mask section length, and the merged picture's row lengths, in
// twice the bytes.
struct PsdDocument {
  uint32_t width = 0, height = 0, channels = 0;
  bool large = false;
  int depth = 8;  // bits per channel sample: 8 or 16
  int mode = 3;   // 1 greyscale, 3 RGB, 8 duotone
  uint64_t layersAt = 0, layersEnd = 0;  // content of the layer and mask section
  uint64_t mergedAt = 0;                 // compression code of the merged picture
};

bool ReadDocument(const uint8_t* d, uint32_t size, PsdDocument& doc) {
  if (!tqImagePsd::isPsd(d, size)) return false;
  doc.large = Be16(d + 4) == 2;
  doc.depth = Be16(d + 22);
  doc.mode = Be16(d + 24);
  // Only the low 16 bits of a document's 32-bit width and height count; a
  // large document may be wider than that.
  doc.width = doc.large ? Be32(d + 18) : Be16(d + 20);
  doc.height = doc.large ? Be32(d + 14) : Be16(d + 16);
  doc.channels = Be16(d + 12);
  // Colour mode data, image resources, layer and mask section: each a length
  // and its bytes.
  PsdCursor c{d, 26, size};
  c.skip(c.u32());
  c.skip(c.u32());
  uint64_t layers = c.u32();
  if (doc.large) layers = layers << 32 | c.u32();
  doc.layersAt = c.at;
  c.skip(layers);
  doc.layersEnd = doc.mergedAt = c.at;
  return c.ok;
}

// The merged picture's channel data: its compression code (0 raw, 1 run
// length) and where the data starts, once at least `planes` planes of the
// document can be there. Run-length coding turns 2 bytes into at most 128,
// which bounds what a short file can make us allocate.
bool FindMergedData(const uint8_t* d, uint32_t size, const PsdDocument& doc, uint32_t planes, int* compression,
                    uint64_t* dataAt) {
  PsdCursor c{d, doc.mergedAt, size};
  const uint16_t code = c.u16();
  if (!c.ok || code > 1) return false;
  const uint64_t planeSize = (uint64_t)doc.width * doc.height * (uint64_t)(doc.depth / 8);
  if (code == 1) c.skip((uint64_t)doc.height * doc.channels * (doc.large ? 4 : 2));  // row lengths, not needed
  if (!c.has(code == 0 ? planes * planeSize : planes * ((planeSize + 127) / 128) * 2)) return false;
  *compression = code;
  *dataAt = c.at;
  return true;
}

// One channel of a rectangle on the document: it fills byte `lane` of every
// pixel of a bottom-row-first 4-byte picture of the document's size, clipped
// to the picture.
struct PsdTarget {
  uint8_t* pixels;
  uint32_t width, height;
  int lane;
  int64_t left, top;  // the rectangle on the document
  uint64_t w, h;      // its size, both above 0
};

// Writes n bytes of the channel from position pos (rows of the rectangle one
// after the other): from src, or n copies of value when src is null.
void Emit(const PsdTarget& t, uint64_t pos, const uint8_t* src, uint8_t value, uint64_t n) {
  while (n > 0) {
    const uint64_t y = pos / t.w, x = pos % t.w;
    const uint64_t k = std::min(n, t.w - x);
    const int64_t docY = t.top + (int64_t)y;
    if (docY >= 0 && docY < (int64_t)t.height) {
      const int64_t x0 = t.left + (int64_t)x;
      const int64_t c0 = std::max<int64_t>(x0, 0);
      const int64_t c1 = std::min<int64_t>(x0 + (int64_t)k, t.width);
      uint8_t* row = t.pixels + (size_t)(t.height - 1 - docY) * t.width * 4 + t.lane;
      for (int64_t c = c0; c < c1; ++c) row[c * 4] = src ? src[c - x0] : value;
    }
    pos += k;
    n -= k;
    if (src) src += k;
  }
}

// Run-length data in [at, end) until count bytes are produced. A header
// byte h of 0-127 copies h + 1 literal bytes, 129-255 repeat the next byte
// 257 - h times, and 128 carries no data (writers pad rows with it). The
// part of the last run beyond count is dropped. On success *next is the
// offset after the last run used.
bool DecodeRunLength(const uint8_t* d, uint64_t at, uint64_t end, uint64_t count, const PsdTarget& t,
                     uint64_t* next) {
  uint64_t done = 0;
  while (done < count) {
    if (at >= end) return false;
    const uint8_t h = d[at++];
    if (h == 128) continue;
    if (h < 128) {
      const uint64_t n = (uint64_t)h + 1;
      if (n > end - at) return false;
      Emit(t, done, d + at, 0, std::min(n, count - done));
      at += n;
      done += std::min(n, count - done);
    } else {
      if (at >= end) return false;
      const uint64_t n = 257 - (uint64_t)h;
      Emit(t, done, nullptr, d[at++], std::min(n, count - done));
      done += std::min(n, count - done);
    }
  }
  *next = at;
  return true;
}

// Run-length data as above into a flat buffer of count bytes.
bool UnpackRunLength(const uint8_t* d, uint64_t at, uint64_t end, uint64_t count, uint8_t* out, uint64_t* next) {
  uint64_t done = 0;
  while (done < count) {
    if (at >= end) return false;
    const uint8_t h = d[at++];
    if (h == 128) continue;
    if (h < 128 && (uint64_t)h + 1 > end - at) return false;
    if (h > 128 && at >= end) return false;
    const uint64_t n = std::min<uint64_t>(h < 128 ? (uint64_t)h + 1 : 257 - (uint64_t)h, count - done);
    if (h < 128) {
      memcpy(out + done, d + at, n);
      at += (uint64_t)h + 1;
    } else {
      memset(out + done, d[at++], n);
    }
    done += n;
  }
  *next = at;
  return true;
}

// Sets byte `lane` of the rectangle's visible pixels to value.
void FillRect(const PsdTarget& t, uint8_t value) {
  const int64_t x0 = std::max<int64_t>(t.left, 0), y0 = std::max<int64_t>(t.top, 0);
  const int64_t x1 = std::min<int64_t>(t.left + (int64_t)t.w, t.width);
  const int64_t y1 = std::min<int64_t>(t.top + (int64_t)t.h, t.height);
  for (int64_t y = y0; y < y1; ++y) {
    uint8_t* row = t.pixels + (size_t)(t.height - 1 - y) * t.width * 4 + t.lane;
    for (int64_t x = x0; x < x1; ++x) row[x * 4] = value;
  }
}

// Byte of a BGRA pixel that a channel identifier fills; -1 for channels that
// are not drawn (masks).
int LaneOfChannel(int id) {
  switch (id) {
    case 0: return 2;   // red
    case 1: return 1;   // green
    case 2: return 0;   // blue
    case -1: return 3;  // transparency
    default: return -1;
  }
}

constexpr int kMaxLayerChannels = 256;

struct PsdChannel {
  int16_t id;
  uint32_t length;  // compression code and data
};

// The fixed part of a layer record and where its extra data lies.
struct PsdRecord {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  int channelCount = 0;
  PsdChannel channels[kMaxLayerChannels];
  uint64_t dataLength = 0;  // channel data of the layer, all channels
  uint8_t blendKey[4] = {};
  uint64_t extraAt = 0, extraEnd = 0;
};

// Reads one record and moves the cursor to the next: the record's extra-data
// length is what finds the next record, whatever the blocks inside it say.
bool ReadRecord(PsdCursor& c, PsdRecord& r) {
  r.top = c.s32();
  r.left = c.s32();
  r.bottom = c.s32();
  r.right = c.s32();
  const uint16_t channels = c.u16();
  if (!c.ok || channels > kMaxLayerChannels) return false;
  r.channelCount = channels;
  r.dataLength = 0;
  for (int i = 0; i < channels; ++i) {
    r.channels[i].id = (int16_t)c.u16();
    r.channels[i].length = c.u32();
    r.dataLength += r.channels[i].length;
  }
  c.skip(4);  // blend signature
  if (c.has(4)) memcpy(r.blendKey, c.data + c.at, 4);
  c.skip(4);
  c.skip(4);  // opacity, clipping, flags, filler
  const uint32_t extra = c.u32();
  r.extraAt = c.at;
  c.skip(extra);
  r.extraEnd = c.at;
  return c.ok;
}

int BlendCode(const uint8_t* key) {
  static const char kKeys[][5] = {"norm", "lddg", "mul ", "scrn", "over", "div "};
  for (int i = 0; i < (int)(sizeof kKeys / sizeof kKeys[0]); ++i)
    if (memcmp(key, kKeys[i], 4) == 0) return i;
  return -1;
}

// Lead bytes of code page 932, including the extension rows 0xF0-0xFC that
// the conversion produces for some characters.
bool IsNarrowLead(uint8_t c) { return tqp::IsCp932LeadByte(c); }

bool IsSurrogate(uint16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// A big-endian UTF-16 name of count characters as narrow text in out (256
// bytes): characters without a narrow form become '?', the text ends at a
// NUL character, and it is cut to 255 bytes without splitting a double-byte
// character.
void NarrowName(const uint8_t* be, uint64_t count, char* out) {
  // Every character takes at least one narrow byte: 255 are enough.
  std::vector<uint16_t> units;
  for (uint64_t i = 0; i < count && i < 255; ++i) {
    const uint16_t u = Be16(be + 2 * i);
    if (u == 0) break;
    units.push_back(u);
  }
  std::string narrow;
  if (!tqp::NarrowFromUtf16(units.data(), units.size(), narrow)) {
    narrow.clear();
    for (size_t i = 0; i < units.size() && narrow.size() < 255; ++i) {
      std::string one;
      if (IsSurrogate(units[i])) {
        // Code page 932 has no form for characters beyond 0xFFFF.
        if (units[i] < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) ++i;
        narrow += '?';
      } else if (tqp::NarrowFromUtf16(&units[i], 1, one) && !one.empty()) {
        narrow += one;
      } else {
        narrow += '?';
      }
    }
  }
  size_t length = 0;
  while (length < narrow.size()) {
    const size_t step = IsNarrowLead((uint8_t)narrow[length]) ? 2 : 1;
    if (length + step > 255 || length + step > narrow.size()) break;
    length += step;
  }
  memcpy(out, narrow.data(), length);
  out[length] = 0;
}

// Blend code, name and group marker of a record, from its extra data: mask
// data, blending ranges, the Pascal name and its padding, then blocks of "8BIM", a 4-byte key, a 32-bit length and
// the data. "luni" replaces the name with its Unicode form; "lsct" gives the
// group marker and ends the walk.
bool ReadRecordDetails(const uint8_t* d, const PsdRecord& r, tqPsdLayer& layer) {
  layer.top = r.top;
  layer.left = r.left;
  layer.bottom = r.bottom;
  layer.right = r.right;
  layer.channels = r.channelCount;
  layer.blend = BlendCode(r.blendKey);
  if (layer.blend < 0) return false;

  PsdCursor e{d, r.extraAt, r.extraEnd};
  e.skip(e.u32());  // mask data
  e.skip(e.u32());  // blending ranges
  const uint8_t nameLength = e.u8();
  if (!e.has(nameLength)) return false;
  memcpy(layer.name, d + e.at, nameLength);
  layer.name[nameLength] = 0;
  e.skip(nameLength);
  // The name is padded with zeros to a multiple of 4 bytes with its length
  // byte. Only zero bytes up to that boundary are skipped, so that records
  // of writers that do not pad keep their blocks.
  const uint64_t padding = (4 - (1 + (uint64_t)nameLength) % 4) % 4;
  for (uint64_t i = 0; i < padding && e.has(1) && d[e.at] == 0; ++i) ++e.at;

  while (e.has(12)) {
    const uint8_t* header = d + e.at;
    // Anything that is not a block (trailing padding) ends the walk.
    if (memcmp(header, "8BIM", 4) != 0 && memcmp(header, "8B64", 4) != 0) break;
    e.skip(8);
    PsdCursor block = e.take(e.u32());
    if (!block.ok) return false;
    if (memcmp(header + 4, "luni", 4) == 0) {
      const uint32_t count = block.u32();
      if (!block.ok || count > (block.end - block.at) / 2) return false;
      NarrowName(d + block.at, count, layer.name);
    } else if (memcmp(header + 4, "lsct", 4) == 0) {
      const uint32_t type = block.u32();
      if (!block.ok) return false;
      // 0 is an ordinary layer; types beyond 3 are not known.
      layer.group = (type == 1 || type == 2) ? TQPSD_GROUP_FOLDER : type == 3 ? TQPSD_GROUP_END : TQPSD_GROUP_NONE;
      break;
    }
  }
  return true;
}

}  // namespace

bool tqImagePsd::isPsd(const uint8_t* data, uint32_t size) {
  if (!data || size < 30 || memcmp(data, "8BPS", 4) != 0) return false;
  const uint16_t version = Be16(data + 4), depth = Be16(data + 22);
  const uint16_t mode = Be16(data + 24), colourData = Be16(data + 26);
  // Samples of other depths would be misread as 8-bit ones.
  if ((version != 1 && version != 2) || (depth != 8 && depth != 16)) return false;
  return (mode == 8 || mode == 3 || mode == 1) && (colourData == 0 || colourData == 3);
}

int tqImagePsd::failEmpty() {
  releasePixels();
  setGeometry(0, 0, 0, 0);
  canvasWidth_ = canvasHeight_ = 0;
  offsetX_ = offsetY_ = 0;
  alphaState_ = 0;
  return 0;
}

bool tqImagePsd::startPicture(uint32_t width, uint32_t height) {
  const uint32_t size = width * height * 4;  // callers keep it within TQIMAGE_MAX_BYTES
  if (!reserve(size)) return false;
  memset(pixels_, 0, size);
  setGeometry((int)width, (int)height, 4, (int)(width * 4));
  canvasWidth_ = (int)width;
  canvasHeight_ = (int)height;
  offsetX_ = offsetY_ = 0;
  alphaState_ = 0;
  return true;
}

int tqImagePsd::load(const tqMemBlock& source, int) {
  const uint8_t* d = source.data;
  const uint32_t size = d ? source.size : 0;
  PsdDocument doc;
  if (!ReadDocument(d, size, doc)) return failEmpty();
  const uint32_t W = doc.width, H = doc.height;
  // Greyscale documents have one colour channel, the others three; further
  // channels (alpha channels, spot colours) are not read.
  const uint32_t colours = doc.mode == 1 ? 1 : 3;
  if (W == 0 || H == 0 || doc.channels < colours || !tqImageFits(W, H, 4)) return failEmpty();
  int compression = 0;
  uint64_t at = 0;
  if (!FindMergedData(d, size, doc, colours, &compression, &at)) return failEmpty();
  if (!startPicture(W, H)) return failEmpty();

  // The colour channels in file order are red, green and blue (or grey).
  const uint64_t planeSize = (uint64_t)W * H;
  PsdTarget whole{pixels_, W, H, 3, 0, 0, W, H};
  FillRect(whole, 255);
  if (doc.depth == 16) {
    if (!readWidePlanes(d, size, at, compression == 1, colours)) return failEmpty();
  } else {
    for (uint32_t c = 0; c < colours; ++c) {
      PsdTarget t = whole;
      t.lane = LaneOfChannel((int)c);
      if (compression == 0) {
        Emit(t, 0, d + at, 0, planeSize);  // FindMergedData saw every plane
        at += planeSize;
      } else if (!DecodeRunLength(d, at, size, planeSize, t, &at)) {
        return failEmpty();
      }
    }
  }
  if (colours == 1) {
    // Grey goes to blue, green and red alike.
    for (uint64_t i = 0; i < planeSize; ++i) pixels_[4 * i] = pixels_[4 * i + 1] = pixels_[4 * i + 2];
  }
  clearTransparentColour();
  return 1;
}

// Planes of 16-bit big-endian samples, each reduced to 8 bits by rounding,
// into the red, green and blue lanes (red alone for grey).
bool tqImagePsd::readWidePlanes(const uint8_t* d, uint32_t size, uint64_t at, bool runLength, uint32_t colours) {
  const uint64_t samples = (uint64_t)width_ * height_, bytes = samples * 2;
  uint8_t* plane = nullptr;
  if (runLength) {
    plane = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)bytes));
    if (!plane) return false;
  }
  bool ok = true;
  for (uint32_t c = 0; c < colours && ok; ++c) {
    const uint8_t* src = d + at;
    if (runLength) {
      ok = UnpackRunLength(d, at, size, bytes, plane, &at);
      src = plane;
    } else {
      at += bytes;  // FindMergedData saw every plane
    }
    const int lane = LaneOfChannel((int)c);
    for (uint64_t i = 0; ok && i < samples; ++i) {
      const uint32_t v = (uint32_t)src[2 * i] << 8 | src[2 * i + 1];
      const uint64_t y = i / (uint64_t)width_, x = i % (uint64_t)width_;
      pixels_[((uint64_t)height_ - 1 - y) * pitch_ + 4 * x + lane] = (uint8_t)((v * 255 + 32767) / 65535);
    }
  }
  if (plane) PrivateFree(plane);
  return ok;
}

int tqImagePsd::loadLayer(const tqMemBlock& source, int layerIndex, int flag, tqPsdLayer* info) {
  if (info) *info = tqPsdLayer();
  auto fail = [&] { return flag ? failEmpty() : 0; };
  const uint8_t* d = source.data;
  const uint32_t size = d ? source.size : 0;
  PsdDocument doc;
  // Layer records of large or 16-bit documents are laid out differently and
  // are not read.
  if (!ReadDocument(d, size, doc) || layerIndex < 0 || doc.large || doc.depth != 8) return fail();

  // Layer info inside the layer and mask section: its length, the layer
  // count (negative when the merged picture's first alpha channel is its
  // transparency), the records, then the channel data of every layer in
  // record order.
  PsdCursor section{d, doc.layersAt, doc.layersEnd};
  PsdCursor layers = section.take(section.u32());
  const int count = std::abs((int)(int16_t)layers.u16());
  if (!layers.ok || layerIndex >= count) return fail();
  // The chosen record, and a scratch one for the others (only their lengths
  // are used).
  PsdRecord chosen, other;
  uint64_t dataBefore = 0;  // channel data of the layers before the chosen one
  // Pixels need the end of the last record, where channel data starts.
  const int last = flag ? count - 1 : layerIndex;
  for (int i = 0; i <= last; ++i) {
    PsdRecord& r = i == layerIndex ? chosen : other;
    if (!ReadRecord(layers, r)) return fail();
    if (i < layerIndex) dataBefore += r.dataLength;
  }
  tqPsdLayer layer;
  if (!ReadRecordDetails(d, chosen, layer)) return fail();

  if (flag) {
    const uint32_t W = doc.width, H = doc.height;
    if (W == 0 || H == 0 || (uint64_t)W * H * 4 > TQIMAGE_MAX_BYTES) return fail();
    // A file that claims a document size has a merged picture of that size:
    // it must be there before a picture of that size is made for a layer.
    int mergedCompression = 0;
    uint64_t mergedAt = 0;
    const uint32_t planes = std::max<uint32_t>(1, std::min<uint32_t>(3, doc.channels));
    if (!FindMergedData(d, size, doc, planes, &mergedCompression, &mergedAt)) return fail();
    uint64_t at = layers.at + dataBefore;
    if (at > layers.end || chosen.dataLength > layers.end - at) return fail();
    const int64_t w = (int64_t)chosen.right - chosen.left, h = (int64_t)chosen.bottom - chosen.top;
    if (w < 0 || h < 0) return fail();
    if (!startPicture(W, H)) return fail();
    if (w > 0 && h > 0) {
      PsdTarget rect{pixels_, W, H, 3, chosen.left, chosen.top, (uint64_t)w, (uint64_t)h};
      bool hasAlpha = false;
      for (int i = 0; i < chosen.channelCount; ++i) hasAlpha |= chosen.channels[i].id == -1;
      if (!hasAlpha) FillRect(rect, 255);
      for (int i = 0; i < chosen.channelCount; ++i) {
        const uint64_t channelAt = at, length = chosen.channels[i].length;
        at += length;
        rect.lane = LaneOfChannel(chosen.channels[i].id);
        if (rect.lane < 0) continue;
        if (length < 2) return fail();
        const uint16_t compression = Be16(d + channelAt);
        const uint64_t dataAt = channelAt + 2, dataLength = length - 2;
        if (compression == 0) {
          if (rect.w > dataLength / rect.h) return fail();
          Emit(rect, 0, d + dataAt, 0, rect.w * rect.h);
        } else if (compression == 1) {
          const uint64_t rowTable = rect.h * 2;
          uint64_t next = 0;
          if (rowTable > dataLength ||
              !DecodeRunLength(d, dataAt + rowTable, dataAt + dataLength, rect.w * rect.h, rect, &next))
            return fail();
        } else {
          return fail();  // zip-coded channels are not read
        }
      }
    }
    clearTransparentColour();
  }
  if (info) *info = layer;
  return 1;
}
