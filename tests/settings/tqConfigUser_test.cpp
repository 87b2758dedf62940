// The player's settings: reading, writing, the round trip over random
// values, the game defaults and the effective volumes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "file/tqFileServer.h"
#include "tests/settings/configTestUtil.h"
#include "tqClassBase/tqClassBase.h"
#include "xml/tqXml.h"

using cfgtest::ConfigPtr;
using cfgtest::Doc;
using cfgtest::FixedDisplay;
using cfgtest::GameFolder;

namespace {

const char kKeys[] =
    "<KEYCUSTOMIZE><key00><name>ok</name></key00><key05><name>cancel</name></key05>"
    "<key79><name>last</name></key79></KEYCUSTOMIZE>";

bool WriteSetup(const GameFolder& game, const std::string& body) {
  tqp::CreateDirectory(game.SaveFolder().c_str());
  return tqtest::WriteFile(game.SaveFolder() + "\\setup.xml", Doc(body));
}

TEST(ConfigUser, SetupWithOnlyWindowWidthChangesOnlyThat) {
  FixedDisplay display;
  GameFolder game(kKeys);
  ConfigPtr config = game.Load();
  ASSERT_TRUE(WriteSetup(game, "<WINDOW><width>1234</width></WINDOW>"));
  tqConfigData before = config->Data();
  EXPECT_EQ(config->LoadUserSettings(TQCONFIG_SYSTEM | TQCONFIG_GAME), 1);
  tqConfigData expected = before;
  expected.wndWidth = 1234;
  EXPECT_EQ(memcmp(&config->Data(), &expected, sizeof expected), 0);
}

TEST(ConfigUser, MissingOrBrokenSetupChangesNothing) {
  GameFolder game;
  ConfigPtr config = game.Load();
  tqConfigData before = config->Data();
  EXPECT_EQ(config->LoadUserSettings(3), 0);
  ASSERT_TRUE(WriteSetup(game, "<WINDOW><width>1234</width></WINDOW"));
  EXPECT_EQ(config->LoadUserSettings(3), 0);
  EXPECT_EQ(memcmp(&config->Data(), &before, sizeof before), 0);
}

TEST(ConfigUser, FlagsSelectTheGroups) {
  GameFolder game(kKeys);
  ConfigPtr config = game.Load();
  ASSERT_TRUE(WriteSetup(game,
                         "<WINDOW><fps>30</fps></WINDOW><VOICE><vol_bgm>10</vol_bgm></VOICE>"
                         "<CONFIG><type>2</type></CONFIG><KEY><kb1_00>65</kb1_00></KEY>"));
  EXPECT_EQ(config->LoadUserSettings(TQCONFIG_SYSTEM), 1);
  EXPECT_EQ(config->Data().wndFps, 30);
  EXPECT_EQ(config->Data().volBgm, 100);
  EXPECT_EQ(config->Data().configType, 0);
  EXPECT_EQ(config->LoadUserSettings(TQCONFIG_GAME), 1);
  EXPECT_EQ(config->Data().volBgm, 10);
  EXPECT_EQ(config->Data().configType, 2);
  EXPECT_EQ(config->Data().keys[0].keyboard[0], 65);
}

TEST(ConfigUser, SpecialReads) {
  FixedDisplay display;
  GameFolder game(std::string(kKeys) + "<SCREEN><full_width>1600</full_width><full_height>900</full_height></SCREEN>");
  ConfigPtr config = game.Load();
  config->Data().etcDisableMovie = 5;
  ASSERT_EQ(config->Data().fullWidth, 1600);
  ASSERT_TRUE(WriteSetup(
      game,
      // 1000 x 700 is no mode: the full-screen size stays
      "<WINDOW><full_width>1000</full_width><full_height>700</full_height><full_wide>9</full_wide></WINDOW>"
      // bindings of an entry without a name are not read, slot 4 never
      "<KEY><kb1_01>1</kb1_01><kb4_00>1</kb4_00><jp3r_05>300</jp3r_05><ms2_79>4</ms2_79></KEY>"
      "<ETC><cache>0</cache></ETC>"));
  EXPECT_EQ(config->LoadUserSettings(3), 1);
  const tqConfigData& d = config->Data();
  EXPECT_EQ(d.etcDisableMovie, 0);  // read with default 0
  EXPECT_EQ(d.fullWidth, 1600);
  EXPECT_EQ(d.fullHeight, 900);
  EXPECT_EQ(d.wndFullWide, 0);  // written only
  EXPECT_EQ(d.etcCache, 1);     // written only
  EXPECT_EQ(d.keys[1].keyboard[0], 0);
  EXPECT_EQ(d.keys[0].keyboard[3], 0);
  EXPECT_EQ(d.keys[5].repJoypad[2], 300 & 0xFF);
  EXPECT_EQ(d.keys[79].mouse[1], 4);

  // A mode of the display is taken, with the window size as default.
  ASSERT_TRUE(WriteSetup(game, "<WINDOW><width>1280</width><height>720</height></WINDOW>"));
  EXPECT_EQ(config->LoadUserSettings(1), 1);
  EXPECT_EQ(d.fullWidth, 1280);
  EXPECT_EQ(d.fullHeight, 720);
}

TEST(ConfigUser, SavedFileLayout) {
  GameFolder game(kKeys);
  ConfigPtr config = game.Load();
  config->Data().keys[5].keyboard[0] = 27;
  EXPECT_EQ(config->SaveUserSettings(TQCONFIG_GAME), 1);
  std::string text = tqtest::ReadFile(game.SaveFolder() + "\\setup.xml");
  EXPECT_EQ(text.compare(0, cfgtest::kDecl.size(), cfgtest::kDecl), 0);
  EXPECT_NE(text.find("    <kb1_05>27</kb1_05>\r\n"), std::string::npos);
  EXPECT_NE(text.find("<jp3r_79>0</jp3r_79>"), std::string::npos);
  EXPECT_EQ(text.find("<kb1_01>"), std::string::npos);  // no name, no bindings
  EXPECT_EQ(text.find("<kb4_00>"), std::string::npos);
  EXPECT_NE(text.find("<vol_master>100</vol_master>"), std::string::npos);
  EXPECT_EQ(text.find("<WINDOW>"), std::string::npos);  // the system group was not asked for

  EXPECT_EQ(config->SaveUserSettings(TQCONFIG_SYSTEM), 1);
  text = tqtest::ReadFile(game.SaveFolder() + "\\setup.xml");
  EXPECT_NE(text.find("<full_wide>0</full_wide>"), std::string::npos);
  EXPECT_NE(text.find("<cache>1</cache>"), std::string::npos);
  EXPECT_EQ(text.find("<VOICE>"), std::string::npos);
}

TEST(ConfigUser, SaveCreatesTheSaveFolder) {
  tqtest::TempDir dir;
  const std::string deep = dir / "a\\b\\c";
  GameFolder deepGame("<FOLDER><save>" + deep + "</save></FOLDER>");
  ConfigPtr config = deepGame.Load();
  EXPECT_EQ(config->SaveUserSettings(3), 1);
  EXPECT_FALSE(tqtest::ReadFile(deep + "\\setup.xml").empty());
  EXPECT_EQ(config->LoadUserSettings(3), 1);
}

TEST(ConfigUser, FailedSaveIsReported) {
  tqtest::TempDir dir;
  ASSERT_TRUE(tqtest::WriteFile(dir / "file", "x"));
  // The save folder is a file: nothing can be written below it.
  GameFolder game("<FOLDER><save>" + (dir / "file") + "</save></FOLDER>");
  ConfigPtr config = game.Load();
  EXPECT_EQ(config->SaveUserSettings(3), 0);
  EXPECT_EQ(tqtest::ReadFile(dir / "file"), "x");
}

// Random texts the writer can put down and the reader gives back: no markup
// characters and no blanks.
std::string RandomText(tqRandom& r, size_t capacity) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-";
  size_t length = r.Next() % capacity;
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    if (i + 2 < length && r.Next() % 8 == 0) {
      out += "漢";
      ++i;
      continue;
    }
    out += kChars[r.Next() % (sizeof kChars - 1)];
  }
  return out;
}

template <size_t N>
void SetRandom(tqRandom& r, char (&field)[N]) {
  std::string text = RandomText(r, N);
  memset(field, 0, N);
  memcpy(field, text.data(), text.size());
}

int32_t RandomInt(tqRandom& r) {
  switch (r.Next() % 4) {
    case 0: return (int32_t)(r.Next() % 3) - 1;
    case 1: return (int32_t)(r.Next() % 1000);
    case 2: return (int32_t)r.Next();
    default: return r.Next() % 2 ? INT32_MIN : INT32_MAX;
  }
}

// Fills every field the setup file covers with random values.
void Randomise(tqRandom& r, tqConfigData& d, const tqDisplayInfo& display) {
  int32_t* ints[] = {
      &d.wndWidth, &d.wndHeight, &d.wndFps, &d.wndMode, &d.wndBpp, &d.wndLimit,
      &d.wndFullscreen, &d.wndSetmode, &d.wndCursorMode, &d.wndScreensaver, &d.wndCamouflage,
      &d.wndOutInfo, &d.texBpp, &d.texMin, &d.texMag, &d.texDither, &d.sndDs3d, &d.sndSticky,
      &d.sndStereo, &d.etcImgcache, &d.etcDualcore, &d.etcDisableMovie, &d.etcDisablePixelShader,
      &d.etcWaitD3dCommand, &d.gdiCap, &d.d3dBackbuffer, &d.d3dHardTnL, &d.d3dLight, &d.d3dVsync,
      &d.d3dAntialias, &d.d3dFogtype, &d.d3dTexSize, &d.d3dTexComp, &d.fullSize, &d.fullPos,
      &d.mwPos, &d.wall, &d.noFullRes, &d.configType, &d.fontShadowRightDown,
      &d.fontShadowAround, &d.fontBold, &d.fontProportional, &d.fontFixed, &d.enableJoypad,
      &d.volBgm, &d.volSe, &d.volVoice, &d.volPlay, &d.volMaster, &d.contVoice, &d.muteMaster,
      &d.muteBgm, &d.muteSe, &d.muteVoice, &d.mutePlay, &d.msgSpeed, &d.msgAutoPreset,
      &d.msgBase, &d.msgChar, &d.msgInd, &d.msgCont, &d.msgStill, &d.msgWaitPcm, &d.msgSkipFull,
      &d.msgLogLimit, &d.effSpeed, &d.effHelp, &d.effAutoC, &d.effAutoCd, &d.effAutoCds,
      &d.effDramatic, &d.effSkipDraw, &d.effSkipMot, &d.enableDrag, &d.drawWnd, &d.enableRead,
      &d.readColor, &d.skipSpeed, &d.contSkip, &d.wipe, &d.ctrlMode, &d.autoLeft,
      &d.enableReadSel, &d.autoSelect, &d.alwaysActive};
  for (int32_t* p : ints) *p = RandomInt(r);
  d.wndColor = r.Next();
  for (int32_t& v : d.voicePlay) v = RandomInt(r);
  for (tqSystemVoiceEntry& v : d.systemVoices) v.play = RandomInt(r);
  SetRandom(r, d.etcPicture);
  SetRandom(r, d.etcExport);
  SetRandom(r, d.etcImgImport);
  SetRandom(r, d.fontFace);
  SetRandom(r, d.fontFaceRuby);
  for (tqKeyEntry& k : d.keys) {
    if (!k.name[0]) continue;
    uint8_t* kinds[8] = {k.keyboard,    k.mouse,    k.joypad,    k.touch,
                         k.repKeyboard, k.repMouse, k.repJoypad, k.repTouch};
    for (uint8_t* slots : kinds)
      for (int s = 0; s < 4; ++s) slots[s] = (uint8_t)r.Next();
  }
  // Written but not read back.
  d.wndFullWide = RandomInt(r);
  d.etcCache = RandomInt(r);
  // The full-screen size comes back only as one of the display's modes.
  const tqp::DisplayMode& m = display.modes[r.Next() % 3 == 0 ? 3 : 5];
  d.fullWidth = m.width;
  d.fullHeight = m.height;
}

TEST(ConfigUser, SaveThenLoadGivesBackEveryCoveredField) {
  FixedDisplay display;
  GameFolder game(kKeys);
  tqRandom random(20240607);
  for (int round = 0; round < 25; ++round) {
    ConfigPtr writer = game.Load();
    Randomise(random, writer->Data(), display.Info());
    ASSERT_EQ(writer->SaveUserSettings(3), 1);
    tqConfigData written = writer->Data();
    writer.reset();

    ConfigPtr reader = game.Load();
    tqConfigData defaults = reader->Data();
    ASSERT_EQ(reader->LoadUserSettings(3), 1);
    tqConfigData expected = written;
    // Written only, never read back; slot 4 and touch bindings are not in
    // the file: those keep the reader's defaults.
    expected.wndFullWide = defaults.wndFullWide;
    expected.etcCache = defaults.etcCache;
    for (int i = 0; i < TQCONFIG_KEYS; ++i) {
      tqKeyEntry& e = expected.keys[i];
      const tqKeyEntry& dk = defaults.keys[i];
      e.keyboard[3] = dk.keyboard[3];
      e.mouse[3] = dk.mouse[3];
      e.joypad[3] = dk.joypad[3];
      e.repKeyboard[3] = dk.repKeyboard[3];
      e.repMouse[3] = dk.repMouse[3];
      e.repJoypad[3] = dk.repJoypad[3];
      memcpy(e.touch, dk.touch, sizeof e.touch);
      memcpy(e.repTouch, dk.repTouch, sizeof e.repTouch);
    }
    const tqConfigData& got = reader->Data();
    ASSERT_EQ(memcmp(&got, &expected, sizeof expected), 0) << "round " << round;
  }
}

TEST(ConfigUser, EffectiveVolumes) {
  struct Case {
    int32_t master, channel, effective;
  };
  const Case cases[] = {{50, 80, 40}, {33, 50, 16}, {100, 100, 100}, {0, 90, 0}, {99, 1, 0}};
  GameFolder game;
  ConfigPtr config = game.Load();
  for (const Case& c : cases) {
    tqConfigData& d = config->Data();
    d.volMaster = c.master;
    d.volBgm = d.volSe = d.volVoice = d.volPlay = c.channel;
    config->UpdateEffectiveVolumes();
    EXPECT_EQ(d.effVolBgm, c.effective) << c.master << " " << c.channel;
    EXPECT_EQ(d.effVolSe, c.effective);
    EXPECT_EQ(d.effVolVoice, c.effective);
    EXPECT_EQ(d.effVolPlay, c.effective);
  }
  ASSERT_TRUE(WriteSetup(game, "<VOICE><vol_master>50</vol_master><vol_bgm>80</vol_bgm>"
                               "<vol_se>33</vol_se></VOICE>"));
  EXPECT_EQ(config->LoadAllUserSettings(), 1);
  EXPECT_EQ(config->Data().effVolBgm, 40);
  EXPECT_EQ(config->Data().effVolSe, 16);
}

TEST(ConfigUser, GameDefaults) {
  GameFolder game;
  ConfigPtr config = game.Load();
  // No file server: nothing to read from.
  EXPECT_EQ(config->LoadGameDefaults(), 0);

  tqFileServer* server = new tqFileServer(0);
  ASSERT_EQ(server->SetFolder(0, "config.int", (game / "cfg").c_str(), 1), 1);
  tqtest::Diagnostics().lines.clear();
  EXPECT_EQ(config->LoadGameDefaults(), 0);
  ASSERT_EQ(tqtest::Diagnostics().lines.size(), 1u);
  EXPECT_EQ(tqtest::Diagnostics().lines[0], "Open file error > config.int/gamedef.xml");

  ASSERT_TRUE(tqp::CreateDirectory((game / "cfg").c_str()));
  ASSERT_TRUE(tqtest::WriteFile(game / "cfg\\gamedef.xml",
                                Doc("<VOICE><vol_master>50</vol_master><vol_bgm>80</vol_bgm>"
                                    "<play07>0</play07></VOICE><WINDOW><fps>5</fps></WINDOW>"
                                    "<MESSAGE><CHAR>3</CHAR></MESSAGE>")));
  EXPECT_EQ(config->LoadGameDefaults(), 1);
  EXPECT_EQ(config->Data().volMaster, 50);
  EXPECT_EQ(config->Data().voicePlay[7], 0);
  EXPECT_EQ(config->Data().msgChar, 3);
  EXPECT_EQ(config->Data().wndFps, 0);  // only the game group
  EXPECT_EQ(config->Saved().volMaster, 100);

  EXPECT_EQ(config->LoadGameDefaultsAndCommit(), 1);
  EXPECT_EQ(config->Saved().volMaster, 50);
  EXPECT_EQ(config->Data().effVolBgm, 40);
  config.reset();
  delete server;
}

}  // namespace
