// Display modes of the primary display through EnumDisplaySettings.
#include "platform/tqDisplay.h"
#include "platform/win32/win32.h"

namespace tqp {

namespace {

DisplayMode FromDevMode(const DEVMODEA& dm) {
  DisplayMode mode;
  mode.width = (int32_t)dm.dmPelsWidth;
  mode.height = (int32_t)dm.dmPelsHeight;
  mode.bitsPerPixel = (int32_t)dm.dmBitsPerPel;
  mode.frequency = (int32_t)dm.dmDisplayFrequency;
  return mode;
}

}  // namespace

bool CurrentDisplayMode(DisplayMode* mode) {
  if (!mode) return false;
  DEVMODEA dm = {};
  dm.dmSize = sizeof dm;
  if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &dm)) return false;
  *mode = FromDevMode(dm);
  return true;
}

std::vector<DisplayMode> DisplayModes() {
  std::vector<DisplayMode> modes;
  DEVMODEA dm = {};
  dm.dmSize = sizeof dm;
  for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &dm); ++i) {
    modes.push_back(FromDevMode(dm));
    dm = {};
    dm.dmSize = sizeof dm;
  }
  return modes;
}

}  // namespace tqp
