// HG-3 writer: one picture of codec slices with the tags a reader needs
// ("stdinfo" and "img0000", "img0001", ...), nothing else.
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/tqImageBytes.h"
#include "image/tqImageHg3.h"

namespace {

constexpr uint32_t kFileHeader = 12, kEntryHeader = 8, kTagHeader = 16, kStdInfo = 40, kSliceHeader = 24;

// A band of rows of another picture, without copying them: the encoder only
// reads the geometry and the rows through the pitch.
class BandView : public tqImage {
 public:
  BandView(const tqImage& whole, int top, int rows) {
    pixels_ = whole.pixels() + (size_t)top * (size_t)whole.pitch();
    bufferSize_ = (uint32_t)((size_t)rows * (size_t)whole.pitch());
    setGeometry(whole.width(), rows, whole.bytesPerPixel(), whole.pitch());
  }
  ~BandView() override {
    pixels_ = nullptr;  // the rows belong to the whole picture
    bufferSize_ = 0;
  }
};

// Encodes rows [top, top + rows) as the data of one slice tag; false when the
// encoder fails.
bool EncodeSlice(const tqImage& picture, int top, int rows, std::vector<uint8_t>& data) {
  BandView band(picture, top, rows);
  const uint64_t raw = (uint64_t)picture.width() * (uint64_t)picture.bytesPerPixel() * (uint64_t)rows;
  // Both areas deflated: at most the planes (raw, at least 1024) plus the
  // bit area (under a quarter of them) plus zlib's few bytes per block.
  const uint64_t capacity = (raw < 1024 ? 1024 : raw) * 3 / 2 + 4096;
  if (capacity > 0x7FFFFFF0u) return false;
  data.resize((size_t)(kSliceHeader + capacity));
  tqHgEncoded areas;
  int64_t length = tqHgEncode(band, data.data() + kSliceHeader, (uint32_t)capacity, &areas);
  if (length < 0 || (uint64_t)length > capacity) return false;
  const uint32_t firstRow = (uint32_t)(picture.height() - top - rows);  // counted from the bottom
  uint8_t* h = data.data();
  tqPut32(h, firstRow);
  tqPut32(h + 4, (uint32_t)rows);
  tqPut32(h + 8, areas.byteAreaLength);
  tqPut32(h + 12, areas.byteAreaRaw);
  tqPut32(h + 16, areas.bitAreaLength);
  tqPut32(h + 20, areas.bitAreaRaw);
  data.resize((size_t)(kSliceHeader + (uint64_t)length));
  return true;
}

uint8_t* PutTag(uint8_t* at, const char* name, const uint8_t* data, uint32_t length, bool last) {
  memset(at, 0, 8);
  memcpy(at, name, strlen(name));
  tqPut32(at + 8, last ? 0 : kTagHeader + length);
  tqPut32(at + 12, length);
  if (length) memcpy(at + kTagHeader, data, length);
  return at + kTagHeader + length;
}

}  // namespace

int tqImageHg3::save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) {
  return saveSlices(destination, id, userValue1, userValue2, clearTransparent, 0);
}

int tqImageHg3::saveSlices(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent,
                           int sliceRows) {
  destination.clear();
  if (bytesPerPixel_ != 3 && bytesPerPixel_ != 4) {
    DebugPrint("この色数には対応していません");
    return 0;
  }
  if (!pixels_ || width_ <= 0 || height_ <= 0 || sliceRows < 0) return 0;
  if (clearTransparent) clearTransparentColour();
  const int rowsPerSlice = sliceRows == 0 || sliceRows > height_ ? height_ : sliceRows;
  const int sliceCount = (height_ + rowsPerSlice - 1) / rowsPerSlice;
  if (sliceCount > 9999) return 0;  // slice names have four digits

  // Slice 0 holds the bottom rows: the reader fills rows upwards from r0.
  std::vector<std::vector<uint8_t>> slices((size_t)sliceCount);
  uint64_t total = kFileHeader + kEntryHeader + kTagHeader + kStdInfo;
  for (int i = 0; i < sliceCount; ++i) {
    const int bottom = height_ - i * rowsPerSlice;  // one past the slice's lowest memory row
    const int rows = bottom < rowsPerSlice ? bottom : rowsPerSlice;
    if (!EncodeSlice(*this, bottom - rows, rows, slices[(size_t)i])) return 0;
    total += kTagHeader + slices[(size_t)i].size();
  }
  if (total > 0xFFFFFFF0u || !destination.allocate((uint32_t)total)) {
    destination.clear();
    return 0;
  }

  uint8_t info[kStdInfo];
  int canvasW = canvasWidth_ > 0 ? canvasWidth_ : width_, canvasH = canvasHeight_ > 0 ? canvasHeight_ : height_;
  tqPut32(info, (uint32_t)width_);
  tqPut32(info + 4, (uint32_t)height_);
  tqPut16(info + 8, (uint16_t)(8 * bytesPerPixel_));
  tqPut16(info + 10, 0);
  tqPut32(info + 12, (uint32_t)offsetX_);
  tqPut32(info + 16, (uint32_t)offsetY_);
  tqPut32(info + 20, (uint32_t)canvasW);
  tqPut32(info + 24, (uint32_t)canvasH);
  tqPut32(info + 28, (uint32_t)hasTransparency());
  tqPut32(info + 32, (uint32_t)userValue1);
  tqPut32(info + 36, (uint32_t)userValue2);

  uint8_t* at = destination.data;
  memcpy(at, "HG-3", 4);
  tqPut32(at + 4, kFileHeader);
  tqPut32(at + 8, 0);
  tqPut32(at + 12, 0);  // the only picture: no next entry
  tqPut32(at + 16, (uint32_t)id);
  at = PutTag(at + kFileHeader + kEntryHeader, "stdinfo", info, kStdInfo, false);
  for (int i = 0; i < sliceCount; ++i) {
    char name[16];
    snprintf(name, sizeof name, "img%04d", i);
    const std::vector<uint8_t>& s = slices[(size_t)i];
    at = PutTag(at, name, s.data(), (uint32_t)s.size(), i + 1 == sliceCount);
  }
  destination.size = (uint32_t)total;
  canvasWidth_ = canvasW;
  canvasHeight_ = canvasH;
  userValue1_ = userValue1;
  userValue2_ = userValue2;
  return 1;
}
