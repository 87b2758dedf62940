// The holder's format tests and every format class behind them, with the
// picture placed on its canvas and flattened as the updater does.
#include <cstddef>
#include <cstdint>

#include "fuzz/image_fuzz.h"
#include "image/tqImageHolder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  tqMemBlock block(data, (uint32_t)size);
  tqImageHolder holder;
  holder.init();
  if (holder.load(block, 1, 0) && holder.image()) {
    tqImage* image = holder.image();
    image->flattenOnto(0x00FFFFFF);
    image->flipVertical();
  }
  return 0;
}
