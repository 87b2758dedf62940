// POSIX has no display-mode list: the current size is the configured screen
// size, and no other mode is offered.
#include "platform/tqDisplay.h"
#include "platform/tqPlatform.h"

namespace tqp {

bool CurrentDisplayMode(DisplayMode* mode) {
  if (!mode) return false;
  mode->width = ScreenWidth();
  mode->height = ScreenHeight();
  mode->bitsPerPixel = 32;
  mode->frequency = 60;
  return mode->width > 0 && mode->height > 0;
}

std::vector<DisplayMode> DisplayModes() { return {}; }

}  // namespace tqp
