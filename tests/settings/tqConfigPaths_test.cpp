// Folder macros, the folder table and the joining of short names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/tqDisplay.h"
#include "tests/settings/configTestUtil.h"
#include "util/tqUtil.h"

using cfgtest::ConfigPtr;
using cfgtest::GameFolder;

namespace {

const char kStartup[] =
    "<APP><brand>maker</brand><title>game</title></APP>\r\n"
    "<INT>"
    "<int00><int>image</int><ext>hg3</ext><dir>image</dir></int00>"
    "<int01><int>Script</int><ext>tqs</ext></int01>"
    "<int02><int>config</int><ext>xml</ext><dir>config</dir></int02>"
    "<int03><int>noext</int><dir>data</dir></int03>"
    "<int04><int>image</int><ext>png</ext><dir>second</dir></int04>"
    "</INT>\r\n";

class ConfigPaths : public testing::Test {
 protected:
  void SetUp() override {
    game_ = std::make_unique<GameFolder>(std::string(kStartup) +
                                         "<FOLDER><save>C:\\save\\%title%</save>"
                                         "<imglib>%save%\\lib</imglib></FOLDER>");
    config_ = game_->Load();
  }
  std::string Expand(const std::string& text, size_t capacity = 1024) {
    std::string out(capacity, '\x7f');
    int n = config_->ExpandPath(out.data(), capacity, text.c_str());
    EXPECT_EQ((size_t)n, strlen(out.c_str()));
    return out.c_str();
  }
  std::string Resolve(const char* name, const char* key, int* result) {
    char out[1024] = "untouched";
    *result = config_->ResolvePath(out, sizeof out, name, key);
    return out;
  }
  std::unique_ptr<GameFolder> game_;
  ConfigPtr config_;
};

TEST_F(ConfigPaths, Macros) {
  char appData[1024], common[1024];
  ASSERT_TRUE(tqShellFolder(9, appData));
  ASSERT_TRUE(tqShellFolder(8, common));
  struct Case {
    std::string source, expected;
  };
  const Case cases[] = {
      {"%save%\\sub", "C:\\save\\game\\sub"},
      {"%SAVE%\\sub", "%SAVE%\\sub"},  // letter case counts
      {"%imglib%", "C:\\save\\game\\lib"},
      {"%brand%-%title%", "maker-game"},
      {"%USERPROFILE%\\x", std::string(appData) + "\\x"},
      {"%ProgramData%", common},
      {"%ALLUSERSPROFILE%\\y", std::string(common) + "\\y"},
      {"100%", "100%"},          // a single '%' at the end stays
      {"a%%b", "a%%b"},          // "%%" is no macro
      {"%unknown%x", "%unknown%x"},
      {"%brand", "%brand"},      // unterminated: to the end, no macro
      {"%%brand%", "%%brand%"},  // "%%" first, then "brand%" is plain text
      {"表%brand%示", "表maker示"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Expand(c.source), c.expected) << c.source;

  // A token longer than 259 characters is copied unchanged.
  std::string longToken = "%" + std::string(300, 'b') + "%";
  EXPECT_EQ(Expand(longToken + "%brand%"), longToken + "maker");

  char value[64];
  EXPECT_EQ(config_->ExpandMacro(value, sizeof value, "%title%"), 4);
  EXPECT_STREQ(value, "game");
  config_->ExpandMacro(value, sizeof value, "%title");
  EXPECT_STREQ(value, "%title");
}

TEST_F(ConfigPaths, ExpansionIsCutToTheDestination) {
  EXPECT_EQ(Expand("%brand%-%title%", 6), "maker");
  // Never half of a double-byte character.
  EXPECT_EQ(Expand("a表示", 4), "a表");
  EXPECT_EQ(Expand("ab表示", 4), "ab");
  char one[1] = {'x'};
  EXPECT_EQ(config_->ExpandPath(one, 1, "%brand%"), 0);
  EXPECT_EQ(one[0], 0);
}

TEST_F(ConfigPaths, FindFolder) {
  EXPECT_EQ(config_->FindFolder("image", nullptr), 0);  // the first of two
  EXPECT_EQ(config_->FindFolder("IMAGE", nullptr), 0);
  EXPECT_EQ(config_->FindFolder("script", nullptr), 1);
  EXPECT_EQ(config_->FindFolder("noext", nullptr), 3);
  EXPECT_EQ(config_->FindFolder("missing", nullptr), -1);
  EXPECT_EQ(config_->FindFolder(nullptr, nullptr), -1);
  // Without sound definitions "sound" finds nothing.
  EXPECT_EQ(config_->FindFolder("Sound", "bgm01"), -1);
}

TEST_F(ConfigPaths, ResolvePath) {
  struct Case {
    const char* name;
    const char* key;
    int result;
    std::string expected;
  };
  const Case cases[] = {
      {"bg01", "image", 1, "image\\bg01.hg3"},
      {"bg01.png", "image", 1, "image\\bg01.png"},  // an extension stays
      {"main", "SCRIPT", 1, "main.tqs"},            // no folder path: the name alone
      {"file", "noext", 1, "data\\file"},           // no default extension: none added
      {"sub\\bg01", "image", 1, "sub\\bg01"},       // a folder part: unchanged
      {"sub/bg01", "missing", 1, "sub/bg01"},
      {"\\bg01", "image", 1, "image\\\\bg01.hg3"},  // a separator first does not count
      {"表\\x", "image", 1, "表\\x"},
      {"a.b\\c", "image", 1, "a.b\\c"},
      {"bg01", "missing", 0, "untouched"},
  };
  for (const Case& c : cases) {
    int result = -1;
    std::string out = Resolve(c.name, c.key, &result);
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(out, c.expected) << c.name;
  }
  // The trail byte 0x5C of a double-byte character is no separator.
  int result = -1;
  EXPECT_EQ(Resolve("表", "image", &result), "image\\表.hg3");
  EXPECT_EQ(result, 1);
}

TEST(ConfigDisplay, MatchingRules) {
  tqDisplayInfo display;
  display.known = true;
  display.current = {1600, 1200, 32, 60};
  display.modes = {{1024, 768, 32, 60}, {800, 600, 32, 60},  {1280, 960, 16, 60},
                   {1280, 960, 32, 60}, {1400, 1050, 32, 60}, {1920, 1080, 32, 60}};
  struct Case {
    int32_t w, h, ew, eh;
    bool isMode;
  };
  const Case cases[] = {
      {800, 600, 800, 600, true},       // exact
      {1024, 768, 1024, 768, true},
      {900, 700, 1024, 768, false},     // the first at least as large, in mode order
      {1100, 700, 1280, 960, false},    // the 16-bit 1280 x 960 does not count
      {1920, 1080, 1600, 1200, false},  // another aspect: the display's size
      {1500, 1100, 1600, 1200, false},
  };
  for (const Case& c : cases) {
    int32_t w = c.w, h = c.h;
    EXPECT_TRUE(tqConfig::MatchFullScreen(display, &w, &h));
    EXPECT_EQ(w, c.ew) << c.w << "x" << c.h;
    EXPECT_EQ(h, c.eh) << c.w << "x" << c.h;
    EXPECT_EQ(tqConfig::IsFullScreenMode(display, c.w, c.h), c.isMode) << c.w << "x" << c.h;
  }
  display.known = false;
  int32_t w = 1, h = 2;
  EXPECT_FALSE(tqConfig::MatchFullScreen(display, &w, &h));
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 2);
  EXPECT_FALSE(tqConfig::IsFullScreenMode(display, 800, 600));
}

TEST(ConfigDisplay, PlatformModes) {
  tqp::DisplayMode current;
  bool known = tqp::CurrentDisplayMode(&current);
  std::vector<tqp::DisplayMode> modes = tqp::DisplayModes();
#ifdef _WIN32
  if (known) {
    EXPECT_GT(current.width, 0);
    EXPECT_GT(current.height, 0);
  }
  for (const tqp::DisplayMode& m : modes) EXPECT_GT(m.width, 0);
#else
  // No mode list: the full-screen size is the display's.
  ASSERT_TRUE(known);
  EXPECT_EQ(current.width, tqp::ScreenWidth());
  EXPECT_EQ(current.height, tqp::ScreenHeight());
  EXPECT_TRUE(modes.empty());
  tqDisplayInfo display = tqConfig::Display();
  int32_t w = 800, h = 600;
  EXPECT_TRUE(tqConfig::MatchFullScreen(display, &w, &h));
  EXPECT_EQ(w, tqp::ScreenWidth());
  EXPECT_EQ(h, tqp::ScreenHeight());
#endif
}

}  // namespace
