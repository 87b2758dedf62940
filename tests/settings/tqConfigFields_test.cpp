// The field list covers the settings block exactly, and its key names are
// the keys the readers really use: a file that sets one key changes that one
// field (and the few that are derived from it).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "settings/tqConfigFields.h"
#include "tests/settings/configTestUtil.h"
#include "xml/tqXml.h"

using cfgtest::ConfigPtr;
using cfgtest::Doc;
using cfgtest::FixedDisplay;
using cfgtest::GameFolder;

namespace {

TEST(ConfigFields, CoverTheBlockOnce) {
  const auto& fields = tqConfigFields();
  std::vector<int> owners(sizeof(tqConfigData), 0);
  std::set<std::string> names;
  size_t previous = 0;
  for (const tqConfigField& f : fields) {
    EXPECT_TRUE(names.insert(f.name).second) << "twice: " << f.name;
    EXPECT_GE(f.offset, previous) << f.name;  // layout order
    previous = f.offset;
    ASSERT_LE(f.offset + f.size, sizeof(tqConfigData)) << f.name;
    for (size_t i = f.offset; i < f.offset + f.size; ++i) ++owners[i];
  }
  for (size_t i = 0; i < sizeof(tqConfigData); ++i) {
    int expected = i >= offsetof(tqConfigData, reserved) ? 0 : 1;
    ASSERT_EQ(owners[i], expected) << "byte " << i;
  }
}

// Elements for a key path with a value.
std::string Element(const std::string& path, const std::string& value) {
  size_t slash = path.find('/');
  if (slash == std::string::npos) return "<" + path + ">" + value + "</" + path + ">";
  std::string head = path.substr(0, slash);
  return "<" + head + ">" + Element(path.substr(slash + 1), value) + "</" + head + ">";
}

std::string TestValue(const tqConfigField& f) { return f.kind == tqConfigField::TEXT ? "zq" : "12345"; }

std::set<std::string> Changed(const tqConfigData& before, const tqConfigData& after) {
  std::set<std::string> out;
  for (const tqConfigField& f : tqConfigFields())
    if (tqConfigFieldValue(before, f) != tqConfigFieldValue(after, f)) out.insert(f.name);
  return out;
}

// Fields of arrays are sampled; single fields are all tried.
bool Sampled(const std::string& name, size_t index) {
  return name.find_first_of("0123456789") == std::string::npos || index % 9 == 0;
}

TEST(ConfigFields, StartupKeysReachTheirFields) {
  FixedDisplay display;
  GameFolder game;
  ConfigPtr config = game.Load();
  tqXml empty;
  std::string none = Doc("");
  ASSERT_EQ(empty.OpenMem(none.data(), none.size()), 1);
  config->SetDefaults();
  config->ReadStartup(empty);
  const tqConfigData base = config->Data();

  // Values derived from another key.
  const std::map<std::string, std::set<std::string>> derived = {
      {"SCREEN/v_width", {"WINDOW/width", "WINDOW/full_width", "WINDOW/full_height"}},
      {"SCREEN/v_height", {"WINDOW/height", "WINDOW/full_width", "WINDOW/full_height"}},
      {"SHADER/PIXEL_MA", {"SHADER/PIXEL_MI"}},
      {"APP/brand", {"FOLDER/save", "FOLDER/imglib"}},
      {"GAME/autopriset/p00/base", {"MESSAGE/base"}},
      {"GAME/autopriset/p00/char", {"MESSAGE/CHAR"}},
      {"CONFIG_B/wnd_alpha", {"GAME/wndcolor"}},
  };
  // Not keys of the definition: results of other keys.
  const std::set<std::string> notKeys = {"MANUAL/present", "SHADER/PIXEL_MI", "FOLDER/save"};

  const auto& fields = tqConfigFields();
  int tried = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const tqConfigField& f = fields[i];
    if (f.offset >= offsetof(tqConfigData, wndWidth)) break;
    if (notKeys.count(f.name) || !Sampled(f.name, i)) continue;
    std::string text = Doc(Element(f.name, TestValue(f)));
    tqXml x;
    ASSERT_EQ(x.OpenMem(text.data(), text.size()), 1) << f.name;
    config->SetDefaults();
    config->ReadStartup(x);
    std::set<std::string> expected = {f.name};
    auto extra = derived.find(f.name);
    if (extra != derived.end()) expected.insert(extra->second.begin(), extra->second.end());
    std::set<std::string> changed = Changed(base, config->Data());
    for (const std::string& name : changed)
      EXPECT_TRUE(expected.count(name)) << "key " << f.name << " also changed " << name;
    EXPECT_TRUE(changed.count(f.name)) << "key " << f.name << " did not reach its field";
    ++tried;
  }
  EXPECT_GT(tried, 150);
}

TEST(ConfigFields, SetupKeysReachTheirFields) {
  FixedDisplay display;
  GameFolder game("<KEYCUSTOMIZE><key00><name>a</name></key00></KEYCUSTOMIZE>");
  ConfigPtr config = game.Load();
  const tqConfigData base = config->Data();
  // Fields of the user-settings part that the setup file does not carry
  // under these names.
  const std::vector<std::string> notInSetup = {
      "WINDOW/full_", "ETC/cache", "ETC/dragwnd", "APP/", "FONT/f0", "KEYCUSTOMIZE/",
      "VOICE/v0", "VOICE/v1", "VOICE/v2", "VOICE/v3", "VOICE/v4", "SYSTEMVOICE/ch",
      "SOUNDCONFIG", "EFFECTIVE/"};
  const auto& fields = tqConfigFields();
  int tried = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const tqConfigField& f = fields[i];
    if (f.offset < offsetof(tqConfigData, wndWidth)) continue;
    bool skip = !Sampled(f.name, i);
    for (const std::string& prefix : notInSetup) skip = skip || f.name.rfind(prefix, 0) == 0;
    if (skip) continue;
    std::string text = Doc(Element(f.name, TestValue(f)));
    tqXml x;
    ASSERT_EQ(x.OpenMem(text.data(), text.size()), 1);
    config->Data() = base;
    config->ReadSystemSettings(x);
    config->ReadConfigSettings(x);
    config->ReadGameSettings(x);
    std::set<std::string> changed = Changed(base, config->Data());
    EXPECT_EQ(changed, std::set<std::string>{f.name}) << "key " << f.name;
    ++tried;
  }
  EXPECT_GT(tried, 80);
}

TEST(ConfigFields, Values) {
  tqConfigData d = {};
  d.versionMajor = -3;
  d.wndColor = 0x64FF0010u;
  d.keys[1].mouse[2] = 200;
  memcpy(d.brand, "maker", 6);
  std::map<std::string, std::string> values;
  for (const tqConfigField& f : tqConfigFields()) values[f.name] = tqConfigFieldValue(d, f);
  EXPECT_EQ(values["VERSION/major"], "-3");
  EXPECT_EQ(values["GAME/wndcolor"], "0x64FF0010");
  EXPECT_EQ(values["KEYCUSTOMIZE/key01/mouse3"], "200");
  EXPECT_EQ(values["APP/brand"], "maker");
  // A text that fills its field is not read past it.
  memset(d.versionCode, 'x', sizeof d.versionCode);
  for (const tqConfigField& f : tqConfigFields()) {
    if (f.name == "APP/v_code") {
      EXPECT_EQ(tqConfigFieldValue(d, f), std::string(32, 'x'));
    }
  }
}

}  // namespace
