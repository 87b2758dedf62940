// Display modes of the primary display: the engine matches its full-screen
// size against them. Windows enumerates the driver's modes; POSIX has no mode
// list and only reports the current size.
#pragma once

#include <cstdint>
#include <vector>

namespace tqp {

struct DisplayMode {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerPixel = 0;
  int32_t frequency = 0;  // refresh rate in Hz
};

// The mode the primary display uses now; false when it cannot be had.
bool CurrentDisplayMode(DisplayMode* mode);
// Every mode the primary display offers, in the driver's order (empty on
// POSIX).
std::vector<DisplayMode> DisplayModes();

}  // namespace tqp
