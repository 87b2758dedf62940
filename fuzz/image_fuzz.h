// Shared set-up of the image fuzz targets: the private heap and a presenter
// that never blocks.
#pragma once

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

}  // namespace imagefuzz
