// Picks the format class of an encoded buffer by its first bytes, loads it
// and keeps the picture for painting.
#pragma once

#include "image/tqImage.h"

enum : int {
  TQIMAGE_NONE = 0,
  TQIMAGE_BMP = 1,
  TQIMAGE_PSD = 2,
  TQIMAGE_TQF = 3,
  TQIMAGE_HG2 = 4,
  TQIMAGE_JPEG = 5,
  TQIMAGE_HG3 = 6,
  TQIMAGE_PNG = 7,
  TQIMAGE_WEBP = 8,
};

class tqImageHolder : public tqClassBase {
 public:
  tqImageHolder() = default;
  ~tqImageHolder();
  tqImageHolder(const tqImageHolder&) = delete;
  tqImageHolder& operator=(const tqImageHolder&) = delete;

  void init();
  // Loads picture id of source; with normalise, places it on its canvas.
  // Returns the pixels, or null when the format is unknown or the load fails.
  uint8_t* load(const tqMemBlock& source, int normalise, int id);
  void normaliseToCanvas();

  int pitch() const { return image_ ? image_->pitch() : 0; }
  int bytesPerPixel() const { return image_ ? image_->bytesPerPixel() : 0; }
  uint8_t* pixels() const { return image_ ? image_->pixels() : nullptr; }
  tqImage* image() const { return image_; }
  int type() const { return type_; }
  uint32_t size(int* w, int* h) const { return image_ ? image_->size(w, h) : 0; }

  // The format tests in their order: the type of the first that passes,
  // TQIMAGE_NONE when none does.
  static int formatOf(const tqMemBlock& source);
  // A new, empty object of the format class (tracked allocation).
  static tqImage* createFormat(int type);
  static const char* formatName(int type);

 private:
  void drop();

  tqImage* image_ = nullptr;
  int32_t type_ = TQIMAGE_NONE;
};
