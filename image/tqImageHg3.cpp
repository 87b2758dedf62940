// HG-3 reader. Every distance and length of the file is checked against the
// buffer before it is followed; a file that points outside fails to load.
#include "image/tqImageHg3.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "image/tqImageBytes.h"
#include "image/tqImageJpeg.h"
#include "image/tqImageWebP.h"
#include "util/tqUtil.h"

namespace {

const char kMagic[] = "HG-3";

struct Tag {
  char name[9];     // empty when the stored name has no terminator
  uint64_t data;    // offset of the data in the file
  uint32_t length;
  bool inside;      // the data lies inside the buffer
};

// Offset of the picture entry with the identifier, following next-distances
// from the first entry.
bool FindEntry(const tqByteView& v, int id, uint64_t* entry) {
  uint64_t at = 12;
  for (;;) {
    if (!v.has(at, 8)) return false;
    if (v.s32(at + 4) == id) {
      *entry = at;
      return true;
    }
    uint32_t next = v.u32(at);
    if (next == 0) return false;
    at += next;
  }
}

// Bounds on what one picture entry may ask of the reader: real pictures carry
// a few value tags and at most some hundreds of slices.
constexpr size_t kMaxTags = 16384;
// A picture larger than this must bring compressed slice data in proportion
// (1 byte per kMaxExpansion bytes of pixels) before its buffer is allocated.
constexpr uint64_t kFreePictureBytes = 64u << 20;
constexpr uint64_t kMaxExpansion = 1024;

// The tags of the entry in file order; false when a tag header leaves the
// buffer or there are more than kMaxTags.
bool ReadTags(const tqByteView& v, uint64_t entry, std::vector<Tag>& tags) {
  uint64_t at = entry + 8;
  for (;;) {
    if (!v.has(at, 16) || tags.size() == kMaxTags) return false;
    Tag tag;
    memcpy(tag.name, v.data + at, 8);
    tag.name[8] = 0;
    if (!memchr(tag.name, 0, 8)) tag.name[0] = 0;
    tag.length = v.u32(at + 12);
    tag.data = at + 16;
    tag.inside = v.has(tag.data, tag.length);
    tags.push_back(tag);
    uint32_t next = v.u32(at + 8);
    if (next == 0) return true;
    at += next;
  }
}

const Tag* FindTag(const std::vector<Tag>& tags, const char* name) {
  for (const Tag& tag : tags)
    if (tag.name[0] && strcmp(tag.name, name) == 0) return &tag;
  return nullptr;
}

// The first tag of each name, for the many lookups of the slice names.
class TagIndex {
 public:
  explicit TagIndex(const std::vector<Tag>& tags) {
    for (const Tag& tag : tags)
      if (tag.name[0]) byName_.emplace(tag.name, &tag);
  }
  const Tag* Find(const char* name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
  }

 private:
  std::unordered_map<std::string, const Tag*> byName_;
};

// The slice tags img0000, img0001, ... up to the first missing name. False
// for a slice that leaves the picture or the buffer, for slices that would
// decode more rows than the picture has (each row is written once), or for
// areas larger than their slice can need.
bool ReadSlices(const tqByteView& v, const TagIndex& index, uint32_t H, uint32_t rowBytes,
                std::vector<tqHgBlock>& blocks, uint64_t* compressed) {
  uint64_t rowsTotal = 0;
  *compressed = 0;
  for (int n = 0; n < 10000; ++n) {
    char name[16];
    snprintf(name, sizeof name, "img%04d", n);
    const Tag* slice = index.Find(name);
    if (!slice) break;
    if (!slice->inside || slice->length < 24) return false;
    const uint64_t d = slice->data;
    tqHgBlock b;
    b.firstRow = v.u32(d);
    b.rows = v.u32(d + 4);
    b.byteAreaLength = v.u32(d + 8);
    b.byteAreaRaw = v.u32(d + 12);
    b.bitAreaLength = v.u32(d + 16);
    b.bitAreaRaw = v.u32(d + 20);
    if (b.rows == 0 || (uint64_t)b.firstRow + b.rows > H) return false;
    rowsTotal += b.rows;
    if (rowsTotal > H) return false;
    if (!v.has(d + 24, b.byteAreaLength) || !v.has(d + 24 + b.byteAreaLength, b.bitAreaLength))
      return false;
    // Neither area can hold more than the slice's expanded rows need.
    const uint64_t area = (uint64_t)b.rows * rowBytes + 4096;
    if (b.byteAreaRaw > area || b.bitAreaRaw > area + 64) return false;
    b.byteArea = v.data + d + 24;
    b.bitArea = b.byteArea + b.byteAreaLength;
    *compressed += (uint64_t)b.byteAreaLength + b.bitAreaLength;
    blocks.push_back(b);
  }
  return true;
}

}  // namespace

int tqImageHg3::loadByIndex(const tqMemBlock& source, int index, int* outId) {
  tqByteView v{source.data, source.data ? source.size : 0};
  if (!v.data || !v.has(0, 4) || memcmp(v.data, kMagic, 4) != 0 || index < 0) return 0;
  uint64_t at = 12;
  for (int i = 0; i < index; ++i) {
    if (!v.has(at, 8)) return 0;
    uint32_t next = v.u32(at);
    if (next == 0) return 0;
    at += next;
  }
  if (!v.has(at, 8)) return 0;
  int id = v.s32(at + 4);
  if (outId) *outId = id;
  return load(source, id);
}

int tqImageHg3::load(const tqMemBlock& source, int id) {
  cptype_ = 0;
  imgmode_ = 0;
  if (!decode(source, id)) return 0;

  // Tag pass: per-picture values.
  tqByteView v{source.data, source.size};
  uint64_t entry = 0;
  std::vector<Tag> tags;
  if (FindEntry(v, id, &entry)) ReadTags(v, entry, tags);
  bool jpeg = false, modeTag = false;
  for (const Tag& tag : tags) {
    if (!tag.inside) continue;
    const uint8_t* data = v.data + tag.data;
    uint8_t word[4] = {0, 0, 0, 0};
    memcpy(word, data, tag.length < 4 ? tag.length : 4);
    int32_t value;
    memcpy(&value, word, 4);
    if (strncmp(tag.name, "ats", 3) == 0) {
      int key = 0, end = 0;
      if (tqNumberEnd(tag.name + 3, &key, &end)) {
        uint8_t record[20] = {};
        memcpy(record, data, tag.length < 20 ? tag.length : 20);
        setAttributeRecord(key, 0, record);
      }
    } else if (strcmp(tag.name, "cptype") == 0) {
      cptype_ = value;
    } else if (strcmp(tag.name, "imgmode") == 0) {
      imgmode_ = value;
      modeTag = true;
    } else if (strcmp(tag.name, "img_jpg") == 0 || strcmp(tag.name, "img_jpa") == 0) {
      jpeg = true;
    }
  }
  // JPEG planes come out red first; unless the file says otherwise they are
  // turned into the blue-first order of the other pictures.
  if (jpeg && !modeTag) imgmode_ = 1;
  swapRedBlueIfMarked();
  return 1;
}

int tqImageHg3::decode(const tqMemBlock& source, int id) {
  tqByteView v{source.data, source.data ? source.size : 0};
  if (!v.data || !v.has(0, 4) || memcmp(v.data, kMagic, 4) != 0) {
    DebugPrint("HG3 : ヘッダが違います");
    return 0;
  }
  if (!v.has(4, 4) || v.u32(4) != 12) {
    DebugPrint("HG3 : ヘッダサイズが違います");
    return 0;
  }
  uint64_t entry = 0;
  std::vector<Tag> tags;
  if (!FindEntry(v, id, &entry) || !ReadTags(v, entry, tags)) return 0;
  const Tag* info = FindTag(tags, "stdinfo");
  if (!info || !info->inside || info->length < 40) return 0;
  const uint64_t s = info->data;
  const uint32_t W = v.u32(s), H = v.u32(s + 4);
  const int B = v.s16(s + 8) / 8;
  if (W == 0 || H == 0 || W > 0x7FFFFFFFu || H > 0x7FFFFFFFu || B < 1 || B > 4 ||
      (uint64_t)W * H * B > TQIMAGE_MAX_BYTES)
    return 0;
  const uint32_t rowBytes = W * (uint32_t)B, pictureBytes = rowBytes * H;

  const Tag* webpTag = FindTag(tags, "img_wbp");
  const Tag* jpegTag = webpTag ? nullptr : FindTag(tags, "img_jpg");
  if (webpTag) {
    if (!webpTag->inside) return 0;
    tqImageWebP webp;
    tqMemBlock block(v.data + webpTag->data, webpTag->length);
    if (!webp.load(block, 0)) return 0;
    // The copy takes the WebP rows as they are: they must be the picture's.
    if (B != 4 || (uint32_t)webp.width() != W || (uint32_t)webp.height() != H || webp.pitch() != (int)rowBytes)
      return 0;
    setGeometry((int)W, (int)H, B, (int)rowBytes);
    if (!reserve(pictureBytes)) return 0;
    memcpy(pixels_, webp.pixels(), pictureBytes);
  } else if (jpegTag) {
    if (!jpegTag->inside) return 0;
    tqImageJpeg jpeg;
    tqMemBlock block(v.data + jpegTag->data, jpegTag->length);
    if (!jpeg.load(block, 0)) return 0;
    if ((B != 3 && B != 4) || (uint32_t)jpeg.width() != W || (uint32_t)jpeg.height() != H) return 0;
    setGeometry((int)W, (int)H, B, (int)rowBytes);
    if (!reserve(pictureBytes)) return 0;
    for (uint32_t y = 0; y < H; ++y) {
      const uint8_t* src = jpeg.pixels() + (size_t)y * jpeg.pitch();
      uint8_t* dst = pixels_ + (size_t)y * rowBytes;
      if (B == 3) {
        memcpy(dst, src, (size_t)W * 3);
      } else {
        for (uint32_t x = 0; x < W; ++x, src += 3, dst += 4) {
          dst[0] = src[0];
          dst[1] = src[1];
          dst[2] = src[2];
          dst[3] = 255;
        }
      }
    }
    const Tag* alpha = B == 4 ? FindTag(tags, "img_al") : nullptr;
    if (alpha && alpha->inside && alpha->length >= 8) {
      uint32_t compressed = v.u32(alpha->data), raw = v.u32(alpha->data + 4);
      const uint64_t pixelsCount = (uint64_t)W * H;
      // Too short a plane, or one the picture could never hold, leaves the
      // picture opaque, as a plane of the wrong length does.
      if (v.has(alpha->data + 8, compressed) && raw >= pixelsCount && raw <= TQIMAGE_MAX_BYTES) {
        uint32_t capacity = raw > 1024 ? raw : 1024;
        uint8_t* plane = static_cast<uint8_t*>(PrivateAlloc(0, capacity));
        if (plane && tqHgInflate(v.data + alpha->data + 8, compressed, plane, capacity) == raw) {
          const uint8_t* a = plane;
          for (uint32_t y = 0; y < H; ++y) {
            uint8_t* dst = pixels_ + (size_t)y * rowBytes + 3;
            for (uint32_t x = 0; x < W; ++x, dst += 4) *dst = *a++;
          }
        }
        if (plane) PrivateFree(plane);
      }
    }
  } else {
    // Everything about the slices is checked before the picture's buffer
    // exists: a small file must not make the reader allocate or work much.
    std::vector<tqHgBlock> blocks;
    uint64_t compressed = 0;
    if (!ReadSlices(v, TagIndex(tags), H, rowBytes, blocks, &compressed)) return 0;
    if (pictureBytes > kFreePictureBytes && pictureBytes / kMaxExpansion > compressed) {
      DebugPrint("HG3 : %u x %u picture with %u bytes of data", W, H, (unsigned)compressed);
      return 0;
    }
    setGeometry((int)W, (int)H, B, (int)rowBytes);
    if (!reserve(pictureBytes)) return 0;
    std::vector<uint8_t> covered(H, 0);
    if (!blocks.empty()) {
      if (!codec_.beginDecode(*this, "tqImageHg3 : ")) return 0;
      for (const tqHgBlock& b : blocks) {
        if (!codec_.decodeBlock(b)) {
          codec_.endDecode();
          return 0;
        }
        for (uint32_t r = 0; r < b.rows; ++r) covered[H - 1 - b.firstRow - r] = 1;
      }
      codec_.endDecode();
    }
    // Rows no slice covers are blank rather than left as the heap gave them.
    for (uint32_t y = 0; y < H; ++y)
      if (!covered[y]) memset(pixels_ + (size_t)y * rowBytes, 0, rowBytes);
  }

  canvasWidth_ = v.s32(s + 20);
  canvasHeight_ = v.s32(s + 24);
  offsetX_ = v.s32(s + 12);
  offsetY_ = v.s32(s + 16);
  alphaState_ = v.u32(s + 28) ? 2 : 1;
  userValue1_ = v.s32(s + 32);
  userValue2_ = v.s32(s + 36);
  return 1;
}
