// Shared pieces of the archive fuzz targets: a scratch file per process and
// quiet diagnostics.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"

namespace archivefuzz {

struct Silent : tqErrorPresenter {
  void Show(const char*, const char*) override {}
};

inline const std::string& ScratchPath() {
  static const std::string path = [] {
    char base[1024] = {};
    tqp::GetTempPath(base, sizeof base);
    std::string p = base;
    if (!p.empty() && p.back() != '\\') p += '\\';
    char name[64];
    snprintf(name, sizeof name, "tq-archive-fuzz-%u.arc", (unsigned)tqp::CurrentThreadId());
    return p + name;
  }();
  return path;
}

inline void Once() {
  static bool done = [] {
    CreatePrivateHeap(10485760);
    static Silent silent;
    SetErrorPresenter(&silent);
    return true;
  }();
  (void)done;
}

inline bool WriteScratch(const uint8_t* data, size_t size) {
  tqp::FileHandle h = tqp::FileOpen(ScratchPath().c_str(), tqp::ACCESS_WRITE, 0,
                                    tqp::DISP_CREATE_ALWAYS, tqp::ATTR_NORMAL);
  if (h == tqp::INVALID_FILE) return false;
  uint32_t done = 0;
  bool ok = size == 0 || (tqp::FileWrite(h, data, (uint32_t)size, &done) && done == size);
  tqp::FileClose(h);
  return ok;
}

}  // namespace archivefuzz
