// Shared set-up of the image fuzz targets: the private heap and a presenter
// that never blocks.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "image/tqImage.h"
#include "tqClassBase/tqClassBase.h"

namespace imagefuzz {

struct Silent : tqErrorPresenter {
  void Show(const char*, const char*) override {}
};

inline void Once() {
  static bool done = [] {
    CreatePrivateHeap(10485760);
    static Silent silent;
    SetErrorPresenter(&silent);
    return true;
  }();
  (void)done;
}

// A loaded picture must have the layout the adapters promise: 24 or 32 bits,
// rows that hold their pixels, and a buffer that holds its rows.
inline void CheckLayout(const tqImage& image) {
  const int bpp = image.bytesPerPixel();
  if (!image.pixels() || image.width() <= 0 || image.height() <= 0 || bpp < 3 || bpp > 4 ||
      image.pitch() < image.width() * bpp || (uint64_t)image.pitch() * image.height() > image.bufferSize())
    abort();
}

}  // namespace imagefuzz
