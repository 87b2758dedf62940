// The start-up definition: defaults, every kind of key, replacements, sound
// groups, folders with macros and the full-screen size.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "file/tqFileServer.h"
#include "tests/settings/configTestUtil.h"
#include "tests/support/tqTestSupport.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

using cfgtest::ConfigPtr;
using cfgtest::Doc;
using cfgtest::FixedDisplay;
using cfgtest::GameFolder;

namespace {

std::string AppData() {
  char folder[1024] = {};
  EXPECT_TRUE(tqShellFolder(9, folder));
  return folder;
}

// Every documented default, checked on a configuration that read nothing.
void ExpectDefaults(const tqConfigData& d) {
  EXPECT_EQ(d.iniVersion, 10);
  EXPECT_EQ(d.versionMajor, 0);
  EXPECT_EQ(d.versionMinor, 0);
  EXPECT_EQ(d.virtualWidth, 800);
  EXPECT_EQ(d.virtualHeight, 600);
  EXPECT_EQ(d.wndWidth, 800);
  EXPECT_EQ(d.wndHeight, 600);
  EXPECT_EQ(d.screenList[0].w, 800);
  EXPECT_EQ(d.screenList[0].h, 600);
  EXPECT_EQ(d.screenList[4].w, 0);
  EXPECT_EQ(d.heap, 0x40000);
  EXPECT_STREQ(d.startScript, "main.tqs");
  EXPECT_STREQ(d.versionCode, "open_zpv");
  EXPECT_STREQ(d.mutex, "");
  EXPECT_STREQ(d.infoFile, "info.txt");
  EXPECT_STREQ(d.infoComment,
               "■■ システム情報 ■■\r\n\r\n"
               " Eメールでサポートを受ける時は、このファイルを添付してください。\r\n\r\n\r\n");
  EXPECT_EQ(d.cfgMode + d.cfgKey + d.cfgSnd + d.cfgEff + d.cfgWnd + d.cfgMes + d.cfgFont + d.cfgSysv, 8);
  EXPECT_EQ(d.cfgSysconfig + d.cfgAutoselect + d.cfgSmpWndAlpha + d.cfgView3d, 0);
  EXPECT_EQ(d.cfgWndAlpha, 1);
  EXPECT_EQ(d.enableDrag, 1);
  const int presets[10][2] = {{5, 7},   {7, 8},   {8, 8},   {12, 7},  {15, 5},
                              {16, 9},  {17, 12}, {21, 11}, {25, 10}, {29, 10}};
  for (int i = 0; i < TQCONFIG_PRESETS; ++i) {
    EXPECT_EQ(d.presetBase[i], i < 10 ? presets[i][0] : 0) << i;
    EXPECT_EQ(d.presetChar[i], i < 10 ? presets[i][1] : 0) << i;
  }
  for (const tqStartupSoundGroup& g : d.soundGroups) {
    EXPECT_EQ(g.id, -1);
    EXPECT_EQ(g.min, -1);
    EXPECT_EQ(g.max, -1);
  }
  EXPECT_STREQ(d.sceneCurrent, "scene");
  EXPECT_STREQ(d.sceneParam, "*.txt");
  EXPECT_NE(d.sceneCommand[0], 0);
  EXPECT_EQ(d.logType, 1);
  EXPECT_EQ(d.logCol, 40);
  EXPECT_EQ(d.logProf, 4);
  EXPECT_EQ(d.logNameLine, 1);
  EXPECT_EQ(d.logIndent, 1);
  EXPECT_EQ(d.logNameIndent, 0);
  EXPECT_EQ(d.logDispMes, 1);
  EXPECT_EQ(d.logDispName, 1);
  EXPECT_EQ(d.logSpace, 0);
  EXPECT_EQ(d.logEscape, 1);
  EXPECT_EQ(d.flagMax, 1024);
  EXPECT_EQ(d.flagLocal[0].start, 0);
  EXPECT_EQ(d.flagLocal[0].count, 512);
  EXPECT_EQ(d.flagGlobal[0].start, 512);
  EXPECT_EQ(d.flagGlobal[0].count, 512);
  EXPECT_EQ(d.flagLocal[7].start, -1);
  EXPECT_EQ(d.flagGlobal[3].count, -1);
  EXPECT_EQ(d.etcCache, 1);
  EXPECT_EQ(d.etcDragWnd, 1);
  EXPECT_NE(d.brand[0], 0);
  EXPECT_NE(d.title[0], 0);
  EXPECT_NE(d.url[0], 0);
}

TEST(ConfigStartup, MissingAndEmptyDefinitionsLeaveEveryDefault) {
  tqtest::TempDir dir;
  ConfigPtr missing(new tqConfig((dir / "none.xml").c_str(), nullptr, 0));
  ExpectDefaults(missing->Data());
  EXPECT_EQ(std::string(missing->Data().saveFolder),
            AppData() + "\\" + missing->Data().brand + "\\zpv");
  EXPECT_EQ(std::string(missing->Data().imglibFolder),
            std::string(missing->Data().saveFolder) + "\\imglib");
  EXPECT_TRUE(missing->Replacements().empty());
  missing.reset();

  // Without a display the full-screen size stays the window size.
  tqDisplayInfo unknown;
  FixedDisplay display(unknown);
  ASSERT_TRUE(tqtest::WriteFile(dir / "empty.xml", Doc("")));
  ConfigPtr empty(new tqConfig((dir / "empty.xml").c_str(), nullptr, 0));
  ExpectDefaults(empty->Data());
  EXPECT_EQ(empty->Data().fullWidth, 800);
  EXPECT_EQ(empty->Data().fullHeight, 600);
  // The saved copy is the block as loaded.
  EXPECT_EQ(memcmp(&empty->Data(), &empty->Saved(), sizeof(tqConfigData)), 0);
}

TEST(ConfigStartup, NamesAndPointers) {
  EXPECT_EQ(g_tqConfig, nullptr);
  EXPECT_EQ(g_tqConfigData, nullptr);
  {
    GameFolder game;
    ConfigPtr config = game.Load();
    EXPECT_EQ(g_tqConfig, config.get());
    EXPECT_EQ(g_tqConfigData, &config->Data());
    EXPECT_EQ(g_tqConfigSaved, &config->Saved());
    EXPECT_STREQ(config->SetupFile(), "setup.xml");
    EXPECT_STREQ(config->StartupFile(), game.StartupPath().c_str());
  }
  EXPECT_EQ(g_tqConfig, nullptr);
  EXPECT_EQ(g_tqConfigData, nullptr);
  EXPECT_EQ(g_tqConfigSaved, nullptr);
}

TEST(ConfigStartup, DefaultStartupNameIsReadFromTheCurrentFolder) {
  GameFolder game;
  char previous[1024];
  ASSERT_TRUE(tqp::GetCurrentDirectory(previous, sizeof previous));
  ASSERT_TRUE(tqp::CreateDirectory((game / "config").c_str()));
  ASSERT_TRUE(tqtest::WriteFile(game / "config\\startup.xml",
                                Doc("<VERSION><major>3</major><minor>7</minor></VERSION>")));
  ASSERT_TRUE(tqp::SetCurrentDirectory(game.Path().c_str()));
  ConfigPtr config(new tqConfig(nullptr, nullptr, 0));
  tqp::SetCurrentDirectory(previous);
  EXPECT_STREQ(config->StartupFile(), "config\\startup.xml");
  EXPECT_EQ(config->Data().versionMajor, 3);
  EXPECT_EQ(config->Data().versionMinor, 7);
}

TEST(ConfigStartup, ValuesOfEveryKind) {
  FixedDisplay display;
  GameFolder game(
      "<VERSION><ini>1.5</ini><major>2</major><minor>0x10</minor></VERSION>\r\n"
      "<SCREEN><v_width>1280</v_width><v_height>720</v_height>"
      "<list><type2><w>640</w><h>480</h></type2></list><frameimg>frame</frameimg></SCREEN>\r\n"
      "<APP><brand>メーカー</brand><title>題名</title><mutex>m1</mutex><mutex_cfg>m2</mutex_cfg>"
      "<tweet>1</tweet><use_ps>1</use_ps></APP>\r\n"
      "<ETC><heap>-1</heap></ETC>\r\n"
      "<SHADER><VERTEX_MA>3</VERTEX_MA><VERTEX_MI>1</VERTEX_MI><PIXEL_MA>2</PIXEL_MA><PIXEL_MI>9</PIXEL_MI></SHADER>\r\n"
      "<TEXTURE><area07><dy>77</dy></area07></TEXTURE>\r\n"
      "<INT><need63>5</need63>"
      "<int00><int>image</int><ext>hg3</ext><dir>image</dir><name>画像</name></int00>"
      "<int127><int>last</int></int127></INT>\r\n"
      "<GAME><autopriset><p03><base>99</base></p03></autopriset>"
      "<flag><local3><start>10</start></local3></flag>"
      "<log><nameformat><first>【</first></nameformat></log></GAME>\r\n"
      "<VOICE><v05><int>VoiceFolder</int><head>AB</head></v05></VOICE>\r\n"
      "<KEYCUSTOMIZE><key02><name>決定</name><keyboard1>0x10D</keyboard1>"
      "<rep_touch4>7</rep_touch4></key02></KEYCUSTOMIZE>\r\n");
  ConfigPtr config = game.Load();
  const tqConfigData& d = config->Data();
  EXPECT_EQ(d.iniVersion, 0);  // a decimal followed by '.' reads as 0
  EXPECT_EQ(d.versionMajor, 2);
  EXPECT_EQ(d.versionMinor, 16);
  EXPECT_EQ(d.virtualWidth, 1280);
  EXPECT_EQ(d.wndWidth, 1280);  // the window starts at the virtual size
  EXPECT_EQ(d.wndHeight, 720);
  EXPECT_EQ(d.screenList[2].w, 640);
  EXPECT_EQ(d.screenList[2].h, 480);
  EXPECT_STREQ(d.frameImage, "frame");
  EXPECT_STREQ(d.brand, "メーカー");
  EXPECT_STREQ(d.title, "題名");
  EXPECT_STREQ(d.mutex, "m1");
  EXPECT_STREQ(d.mutexConfig, "m2");
  EXPECT_EQ(d.tweet, 1);
  EXPECT_EQ(d.usePs, 1);
  EXPECT_EQ(d.heap, -1);
  EXPECT_EQ(d.vertexShaderMax, 3);
  EXPECT_EQ(d.vertexShaderMin, 1);
  EXPECT_EQ(d.pixelShaderMax, 2);
  EXPECT_EQ(d.pixelShaderMin, 2);  // from PIXEL_MA; PIXEL_MI is no key
  EXPECT_EQ(d.textureArea[7].dy, 77);
  EXPECT_EQ(d.need[63], 5);
  EXPECT_STREQ(d.folders[0].key, "image");
  EXPECT_STREQ(d.folders[0].ext, "hg3");
  EXPECT_STREQ(d.folders[0].path, "image");
  EXPECT_STREQ(d.folders[0].name, "画像");
  EXPECT_STREQ(d.folders[127].key, "last");
  EXPECT_EQ(d.presetBase[3], 99);
  EXPECT_EQ(d.presetChar[3], 7);
  EXPECT_EQ(d.flagLocal[3].start, 10);
  EXPECT_EQ(d.flagLocal[3].count, -1);
  EXPECT_STREQ(d.logNameFirst, "【");
  EXPECT_STREQ(d.voices[5].folder, "voicefolder");  // the int key in lower case
  EXPECT_STREQ(d.voices[5].head, "AB");
  EXPECT_STREQ(d.keys[2].name, "決定");
  EXPECT_EQ(d.keys[2].keyboard[0], 0x0D);  // the low byte of the binding
  EXPECT_EQ(d.keys[2].repTouch[3], 7);
  EXPECT_EQ(d.keys[1].name[0], 0);
}

TEST(ConfigStartup, TextsAreCutToTheirFields) {
  std::string longText(300, 'a');
  std::string sjis;
  for (int i = 0; i < 20; ++i) sjis += "漢";  // 40 bytes
  GameFolder game("<APP><brand>" + longText + "</brand></APP><INT><int00><int>x" + sjis +
                  "</int></int00></INT>");
  ConfigPtr config = game.Load();
  EXPECT_EQ(strlen(config->Data().brand), 259u);
  // 32-byte key: "x" and 15 whole double-byte characters.
  EXPECT_EQ(strlen(config->Data().folders[0].key), 31u);
  EXPECT_EQ(std::string(config->Data().folders[0].key), "x" + sjis.substr(0, 30));
}

TEST(ConfigStartup, ReplacementsStopAtTheFirstGap) {
  struct Case {
    const char* name;
    std::string body;
    size_t count;
  };
  const Case cases[] = {
      {"two then a gap",
       "<r00><find>a</find><rep>b</rep></r00><r01><find>c</find><rep>d</rep></r01>"
       "<r03><find>e</find><rep>f</rep></r03>",
       2},
      {"find without rep", "<r00><find>a</find></r00><r01><find>c</find><rep>d</rep></r01>", 0},
      {"rep without find", "<r00><rep>a</rep></r00>", 0},
      {"empty texts count", "<r00><find></find><rep></rep></r00>", 1},
      {"none", "", 0},
  };
  for (const Case& c : cases) {
    GameFolder game("<SCRIPT><replace>" + c.body + "</replace></SCRIPT>");
    ConfigPtr config = game.Load();
    EXPECT_EQ(config->Replacements().size(), c.count) << c.name;
  }
  GameFolder game(
      "<SCRIPT><replace><r00><find>①</find><rep>(1)</rep></r00>"
      "<r01><find>x</find><rep>y</rep></r01></replace></SCRIPT>");
  ConfigPtr config = game.Load();
  ASSERT_EQ(config->Replacements().size(), 2u);
  EXPECT_EQ(config->Replacements().at("①"), "(1)");
  EXPECT_EQ(config->Replacements().at("x"), "y");
}

TEST(ConfigStartup, SoundGroupWithoutIdStaysUndefined) {
  GameFolder game(
      "<SOUNDGROUP><group03><type>bgm</type><min>1</min></group03>"
      "<group05><id>7</id><type>se</type><max>9</max></group05></SOUNDGROUP>");
  ConfigPtr config = game.Load();
  const tqConfigData& d = config->Data();
  EXPECT_EQ(d.soundGroups[3].id, -1);
  EXPECT_STREQ(d.soundGroups[3].type, "bgm");
  EXPECT_EQ(d.soundGroups[5].id, 7);
  EXPECT_STREQ(d.soundGroups[5].type, "se");
  EXPECT_EQ(d.soundGroups[5].min, -1);
  EXPECT_EQ(d.soundGroups[5].max, 9);
}

TEST(ConfigStartup, FolderTextsExpandMacros) {
  tqtest::TempDir dir;
  const std::string body =
      "<APP><brand>maker</brand><title>game</title></APP>"
      "<FOLDER><save>%USERPROFILE%\\%brand%\\%title%</save><imglib>%save%\\lib</imglib></FOLDER>";
  ASSERT_TRUE(tqtest::WriteFile(dir / "s.xml", Doc(body)));
  ConfigPtr config(new tqConfig((dir / "s.xml").c_str(), nullptr, 0));
  EXPECT_EQ(std::string(config->Data().saveFolder), AppData() + "\\maker\\game");
  EXPECT_EQ(std::string(config->Data().imglibFolder), AppData() + "\\maker\\game\\lib");

  // Without FOLDER texts both derive from the brand read.
  ASSERT_TRUE(tqtest::WriteFile(dir / "t.xml", Doc("<APP><brand>maker</brand></APP>")));
  config.reset(new tqConfig((dir / "t.xml").c_str(), nullptr, 0));
  EXPECT_EQ(std::string(config->Data().saveFolder), AppData() + "\\maker\\zpv");
  EXPECT_EQ(std::string(config->Data().imglibFolder), AppData() + "\\maker\\zpv\\imglib");
}

TEST(ConfigStartup, ManualFlagFollowsTheFile) {
  GameFolder game;
  ASSERT_TRUE(tqtest::WriteFile(game / "manual.html", "x"));
  struct Case {
    std::string path;
    int present;
  };
  const Case cases[] = {{game / "manual.html", 1}, {game / "missing.html", 0}, {"", 0}};
  for (const Case& c : cases) {
    GameFolder g("<MANUAL><path>" + c.path + "</path></MANUAL>");
    ConfigPtr config = g.Load();
    EXPECT_EQ(config->Data().manualPresent, c.present) << c.path;
    EXPECT_EQ(std::string(config->Data().manualPath), c.path);
  }
}

TEST(ConfigStartup, PresetNumberSelectsBaseAndChar) {
  GameFolder game("<GAME><autopriset><p00><base>40</base><char>41</char></p00></autopriset></GAME>");
  ConfigPtr config = game.Load();
  EXPECT_EQ(config->Data().msgAutoPreset, 0);
  EXPECT_EQ(config->Data().msgBase, 40);
  EXPECT_EQ(config->Data().msgChar, 41);
}

TEST(ConfigStartup, UserSettingDefaults) {
  FixedDisplay display;
  GameFolder game(
      "<GENERAL><screensaver>1</screensaver><camouflage>2</camouflage></GENERAL>"
      "<SCREEN><width>1024</width><height>768</height><fps>30</fps><wall>4</wall></SCREEN>"
      "<ETC><cache>0</cache></ETC><TEXTURE><filter_min>2</filter_min></TEXTURE>"
      "<SOUND><use3d>1</use3d></SOUND><APP><cdpath>D:\\</cdpath><dualcore>1</dualcore></APP>"
      "<CURSOR><mode>3</mode></CURSOR>"
      "<FONT><f00><face>ゴシック</face><faceruby>明朝</faceruby></f00>"
      "<shadow><around>1</around></shadow></FONT>"
      "<SOUNDCONFIG>sound.xml</SOUNDCONFIG>"
      "<VOICE><vol><bgm>80</bgm><master>50</master></vol></VOICE>"
      "<SYSTEMVOICE><ch01><name>sys</name><play>0</play></ch01></SYSTEMVOICE>"
      "<GAME><read><color>5</color></read><log><limit>300</limit></log>"
      "<readsel><enable>1</enable></readsel></GAME>");
  ConfigPtr config = game.Load();
  const tqConfigData& d = config->Data();
  EXPECT_EQ(d.wndScreensaver, 1);
  EXPECT_EQ(d.wndCamouflage, 2);
  EXPECT_EQ(d.wndWidth, 1024);
  EXPECT_EQ(d.wndHeight, 768);
  EXPECT_EQ(d.wndFps, 30);
  EXPECT_EQ(d.wall, 4);
  EXPECT_EQ(d.etcCache, 0);
  EXPECT_EQ(d.texMin, 2);
  EXPECT_EQ(d.sndDs3d, 1);
  EXPECT_STREQ(d.cdPath, "D:\\");
  EXPECT_EQ(d.etcDualcore, 1);
  EXPECT_EQ(d.wndCursorMode, 3);
  EXPECT_STREQ(d.fonts[0].face, "ゴシック");
  EXPECT_STREQ(d.fontFace, "ゴシック");
  EXPECT_STREQ(d.fontFaceRuby, "明朝");
  EXPECT_EQ(d.fontShadowAround, 1);
  EXPECT_STREQ(d.soundConfig, "sound.xml");
  EXPECT_EQ(d.volBgm, 80);
  EXPECT_EQ(d.volMaster, 50);
  EXPECT_EQ(d.volSe, 100);
  EXPECT_STREQ(d.systemVoices[1].name, "sys");
  EXPECT_EQ(d.systemVoices[1].play, 0);
  EXPECT_EQ(d.systemVoices[2].play, 1);
  EXPECT_EQ(d.readColor, 5);
  EXPECT_EQ(d.msgLogLimit, 300);
  EXPECT_EQ(d.enableReadSel, 1);
  // No 16:9 mode of 1024 x 768: the first one at least as large.
  EXPECT_EQ(d.fullWidth, 1600);
  EXPECT_EQ(d.fullHeight, 900);
}

TEST(ConfigStartup, WindowColourIsPacked) {
  struct Case {
    const char* body;
    uint32_t colour;
  };
  const Case cases[] = {
      {"<GAME><wndcolor><r>1</r><g>2</g><b>3</b><a>255</a></wndcolor></GAME>", 0x64010203u},
      {"<GAME><wndcolor><r>255</r><a>51</a></wndcolor></GAME>", 0x14FF0000u},
      {"<CONFIG_B><wnd_alpha>0</wnd_alpha></CONFIG_B>"
       "<GAME><wndcolor><g>16</g><a>200</a></wndcolor></GAME>",
       0xC8001000u},
  };
  for (const Case& c : cases) {
    GameFolder game(c.body);
    ConfigPtr config = game.Load();
    EXPECT_EQ(config->Data().wndColor, c.colour) << c.body;
  }
}

TEST(ConfigStartup, FullScreenSizeIsMatchedAgainstTheDisplayModes) {
  FixedDisplay display;
  struct Case {
    const char* body;
    int32_t w, h;
  };
  const Case cases[] = {
      // exact mode of the current format, refresh and aspect
      {"<SCREEN><full_width>1600</full_width><full_height>900</full_height></SCREEN>", 1600, 900},
      // the window size is the default; no exact mode: the first one as large
      {"<SCREEN><width>1500</width><height>800</height></SCREEN>", 1600, 900},
      // 1280 x 720 exists only at other depths or refresh rates in front of
      // the one that matches
      {"<SCREEN><full_width>1280</full_width><full_height>720</full_height></SCREEN>", 1280, 720},
      // larger than every mode: the display's size
      {"<SCREEN><full_width>4000</full_width><full_height>3000</full_height></SCREEN>", 1920, 1080},
      // a mode of another aspect is not taken
      {"<SCREEN><full_width>1280</full_width><full_height>1024</full_height></SCREEN>", 1920, 1080},
      {"<SCREEN><full_width>800</full_width><full_height>600</full_height></SCREEN>", 1280, 720},
  };
  for (const Case& c : cases) {
    GameFolder game(c.body);
    ConfigPtr config = game.Load();
    EXPECT_EQ(config->Data().fullWidth, c.w) << c.body;
    EXPECT_EQ(config->Data().fullHeight, c.h) << c.body;
  }
}

TEST(ConfigStartup, ThroughTheFileServer) {
  tqFileServer* server = new tqFileServer(0);
  ASSERT_EQ(g_tqFileServer, server);
  GameFolder game("<VERSION><major>4</major></VERSION>");
  ConfigPtr config = game.Load();
  EXPECT_EQ(config->Data().versionMajor, 4);
  EXPECT_TRUE(tqtest::Diagnostics().lines.empty());

  const std::string missing = game / "missing.xml";
  ConfigPtr none(new tqConfig(missing.c_str(), nullptr, 0));
  EXPECT_EQ(none->Data().heap, 0x40000);
  ASSERT_EQ(tqtest::Diagnostics().lines.size(), 1u);
  EXPECT_EQ(tqtest::Diagnostics().lines[0], "Open file error > " + missing);
  none.reset();
  config.reset();
  delete server;
  EXPECT_EQ(g_tqFileServer, nullptr);
}

TEST(ConfigStartup, FileServerPreloadSwitchComesFromTheSettings) {
  GameFolder off("<ETC><cache>0</cache></ETC>");
  ConfigPtr config = off.Load();
  tqFileServer* server = new tqFileServer();
  EXPECT_EQ(server->PreloadEnabled(), 0);
  delete server;
  config.reset();

  GameFolder on("");
  config = on.Load();
  server = new tqFileServer();
  EXPECT_EQ(server->PreloadEnabled(), 1);
  delete server;
  config.reset();

  server = new tqFileServer();  // no configuration: no preloading
  EXPECT_EQ(server->PreloadEnabled(), 0);
  delete server;
}

}  // namespace
