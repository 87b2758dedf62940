// Helpers of the configuration tests.
#include "tests/settings/configTestUtil.h"

namespace cfgtest {

namespace {

tqDisplayInfo StandardDisplay() {
  tqDisplayInfo info;
  info.known = true;
  info.current = {1920, 1080, 32, 60};
  info.modes = {{800, 600, 32, 60},   {1280, 720, 16, 60},  {1280, 720, 32, 75},
                {1280, 720, 32, 60},  {1600, 900, 32, 60},  {1920, 1080, 32, 60},
                {2560, 1440, 32, 60}, {1280, 1024, 32, 60}};
  return info;
}

}  // namespace

FixedDisplay::FixedDisplay() : FixedDisplay(StandardDisplay()) {}

FixedDisplay::FixedDisplay(const tqDisplayInfo& info) : info_(info) {
  tqConfig::OverrideDisplay(&info_);
}

FixedDisplay::~FixedDisplay() { tqConfig::OverrideDisplay(nullptr); }

GameFolder::GameFolder(const std::string& startupBody, bool addSaveFolder) {
  std::string body = startupBody;
  if (addSaveFolder && body.find("<FOLDER>") == std::string::npos)
    body += "<FOLDER><save>" + SaveFolder() + "</save></FOLDER>\r\n";
  EXPECT_TRUE(tqtest::WriteFile(StartupPath(), Doc(body)));
}

ConfigPtr GameFolder::Load(const char* setupFile, int mode) const {
  return ConfigPtr(new tqConfig(StartupPath().c_str(), setupFile, mode));
}

}  // namespace cfgtest
