// Helpers of the configuration tests: documents under a "document" root, a
// configuration made from a start-up text in a temporary folder, and a fixed
// display.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "settings/tqConfig.h"
#include "tests/support/tqTestSupport.h"

namespace cfgtest {

inline const std::string kDecl = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n";

// A file whose root is "document" holding body.
inline std::string Doc(const std::string& body) {
  return kDecl + "<document>\r\n" + body + "</document>\r\n";
}

struct ConfigDeleter {
  void operator()(tqConfig* c) const { delete c; }
};
using ConfigPtr = std::unique_ptr<tqConfig, ConfigDeleter>;

// A display of 1920 x 1080 at 32 bits and 60 Hz with a few modes, used
// instead of the platform's for as long as the object lives.
class FixedDisplay {
 public:
  FixedDisplay();
  explicit FixedDisplay(const tqDisplayInfo& info);
  ~FixedDisplay();
  FixedDisplay(const FixedDisplay&) = delete;
  FixedDisplay& operator=(const FixedDisplay&) = delete;
  const tqDisplayInfo& Info() const { return info_; }

 private:
  tqDisplayInfo info_;
};

// A temporary game folder: the start-up definition is written there and the
// save folder points below it.
class GameFolder {
 public:
  // The start-up body gets FOLDER/save = <folder>\save unless it names one.
  explicit GameFolder(const std::string& startupBody = "", bool addSaveFolder = true);
  const std::string& Path() const { return dir_.Path(); }
  std::string operator/(const std::string& relative) const { return dir_ / relative; }
  std::string SaveFolder() const { return dir_ / "save"; }
  std::string StartupPath() const { return dir_ / "startup.xml"; }
  // A new configuration from the start-up file (or, with an empty body and
  // no file, from a missing one).
  ConfigPtr Load(const char* setupFile = nullptr, int mode = 0) const;

 private:
  tqtest::TempDir dir_;
};

}  // namespace cfgtest
