// Sound groups, the part tree with inheritance, the player's override file
// and the folder of a sound name.
#include <gtest/gtest.h>

#include <string>

#include "file/tqFileServer.h"
#include "tests/settings/configTestUtil.h"
#include "xml/tqXml.h"

using cfgtest::ConfigPtr;
using cfgtest::Doc;
using cfgtest::GameFolder;

namespace {

const char kDefinition[] =
    "<SOUNDGROUP>"
    "<g1><comment>音楽</comment><id>1</id><label>BGM</label><type>bgm</type><min>0</min><max>99</max></g1>"
    "<g2><id>2</id><type>se</type></g2>"
    "<g3><type>voice</type></g3>"
    "</SOUNDGROUP>\r\n"
    "<MASTER><name>master</name><volume>80</volume><sysplay>3</sysplay>"
    "<part><m1><volume>-1</volume></m1></part></MASTER>\r\n"
    "<PART>"
    "<bgm><name>BGM</name><id>1</id><head>BGM_</head><group>1</group><int>bgmdir</int>"
    "<volume>70</volume><play>1</play><mastervol>90</mastervol><mute>1</mute><sameid>1</sameid>"
    "<part>"
    "<loud><volume>0</volume><type>x</type></loud>"
    "<quiet><head>Ｑ</head><part><deep><skipvol>5</skipvol></deep></part></quiet>"
    "</part></bgm>"
    "<se><group>2</group><head>se</head><voicevol>0</voicevol></se>"
    "<orphan><group>9</group><head>orp</head></orphan>"
    "</PART>\r\n";

const char kOverride[] =
    "<MASTER><volume>50</volume></MASTER>"
    "<PART><bgm><volume>10</volume>"
    "<part><quiet><mute>1</mute><part><deep><play>0</play></deep></part></quiet></part>"
    "</bgm></PART>";

// A game whose folder "config" holds sound.xml, and whose save folder may
// hold the player's copy.
class ConfigSound : public testing::Test {
 protected:
  void SetUp() override {
    game_ = std::make_unique<GameFolder>(
        "<SOUNDCONFIG>sound</SOUNDCONFIG><INT>"
        "<int00><int>config</int><ext>xml</ext><dir>" +
        configFolder() +
        "</dir></int00>"
        "<int01><int>bgm</int><dir>bgm</dir></int01><int02><int>SE</int></int02></INT>");
    ASSERT_TRUE(tqp::CreateDirectory(configFolder().c_str()));
    ASSERT_TRUE(tqp::CreateDirectory(game_->SaveFolder().c_str()));
  }
  std::string configFolder() const { return dir_ / "config"; }
  void WriteDefinition(const std::string& body) {
    ASSERT_TRUE(tqtest::WriteFile(configFolder() + "\\sound.xml", Doc(body)));
  }
  void WriteOverride(const std::string& body) {
    // The player's file has the definition's file name, in the save folder.
    ASSERT_TRUE(tqtest::WriteFile(game_->SaveFolder() + "\\sound.xml", Doc(body)));
  }
  tqtest::TempDir dir_;
  std::unique_ptr<GameFolder> game_;
};

const SoundPart& Child(const SoundPart& part, size_t i) { return part.children.at(i); }

TEST_F(ConfigSound, GroupsAndInheritance) {
  WriteDefinition(kDefinition);
  ConfigPtr config = game_->Load();
  EXPECT_STREQ(config->SoundFile(), "");
  EXPECT_EQ(config->CheckSoundFile(), 1);
  EXPECT_STREQ(config->SoundFile(), "sound");

  const auto& groups = config->SoundGroups();
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups.at(1).comment, "音楽");
  EXPECT_EQ(groups.at(1).label, "BGM");
  EXPECT_EQ(groups.at(1).type, "bgm");
  EXPECT_EQ(groups.at(1).min, 0);
  EXPECT_EQ(groups.at(1).max, 99);
  EXPECT_EQ(groups.at(2).min, -1);
  EXPECT_EQ(groups.at(2).max, -1);
  EXPECT_EQ(groups.at(-1).type, "voice");  // a group without id

  const SoundPart& master = config->MasterPart();
  EXPECT_EQ(master.name, "master");
  EXPECT_EQ(master.volume, 80);
  EXPECT_EQ(master.curVolume, 80);
  ASSERT_EQ(master.children.size(), 1u);
  EXPECT_EQ(Child(master, 0).volume, 80);  // -1 is unset: inherited
  EXPECT_EQ(Child(master, 0).sysPlay, 3);

  const auto& parts = config->Parts();
  ASSERT_EQ(parts.size(), 3u);
  const SoundPart& bgm = parts[0];
  EXPECT_EQ(bgm.element, "bgm");
  EXPECT_EQ(bgm.name, "BGM");
  EXPECT_EQ(bgm.id, 1);
  EXPECT_EQ(bgm.head, "bgm_");  // stored in lower case
  EXPECT_EQ(bgm.folder, "bgmdir");
  EXPECT_EQ(bgm.mute, 1);
  EXPECT_EQ(bgm.sameId, 1);
  EXPECT_EQ(parts[1].element, "se");
  EXPECT_EQ(parts[1].voiceVolume, 0);
  EXPECT_EQ(parts[1].name, "");

  ASSERT_EQ(bgm.children.size(), 2u);
  const SoundPart& loud = Child(bgm, 0);
  EXPECT_EQ(loud.element, "loud");
  EXPECT_EQ(loud.volume, 0);  // 0 is a value: kept
  EXPECT_EQ(loud.curVolume, 0);
  EXPECT_EQ(loud.head, "bgm_");
  EXPECT_EQ(loud.group, 1);
  EXPECT_EQ(loud.folder, "bgmdir");
  EXPECT_EQ(loud.masterVolume, 90);
  EXPECT_EQ(loud.play, 1);
  EXPECT_EQ(loud.sysPlay, -1);  // unset all the way up
  EXPECT_EQ(loud.type, "x");
  EXPECT_EQ(loud.mute, 0);    // not inherited
  EXPECT_EQ(loud.sameId, 0);  // not inherited
  EXPECT_EQ(loud.id, -1);     // not inherited
  const SoundPart& quiet = Child(bgm, 1);
  EXPECT_EQ(quiet.head, "Ｑ");  // double-byte letters keep their case
  EXPECT_EQ(quiet.volume, 70);
  ASSERT_EQ(quiet.children.size(), 1u);
  const SoundPart& deep = Child(quiet, 0);
  EXPECT_EQ(deep.head, "Ｑ");
  EXPECT_EQ(deep.volume, 70);  // through the parent that inherited it
  EXPECT_EQ(deep.skipVolume, 5);
  EXPECT_EQ(deep.curSkipVolume, 5);

  // Without an override file the current values are the definition's.
  for (const SoundPart* p : {&master, &bgm, &loud, &quiet, &deep, &parts[1]}) {
    EXPECT_EQ(p->curVolume, p->volume) << p->element;
    EXPECT_EQ(p->curPlay, p->play) << p->element;
    EXPECT_EQ(p->curSysPlay, p->sysPlay) << p->element;
    EXPECT_EQ(p->curVoiceVolume, p->voiceVolume) << p->element;
    EXPECT_EQ(p->curSkipVolume, p->skipVolume) << p->element;
    EXPECT_EQ(p->curMute, p->mute) << p->element;
  }
}

TEST_F(ConfigSound, PlayerOverride) {
  WriteDefinition(kDefinition);
  WriteOverride(kOverride);
  ConfigPtr config = game_->Load();
  ASSERT_EQ(config->CheckSoundFile(), 1);
  const SoundPart& master = config->MasterPart();
  EXPECT_EQ(master.curVolume, 50);
  EXPECT_EQ(master.volume, 80);
  EXPECT_EQ(Child(master, 0).curVolume, 80);
  const SoundPart& bgm = config->Parts()[0];
  EXPECT_EQ(bgm.curVolume, 10);
  EXPECT_EQ(bgm.curMute, 1);  // no mute entry: the definition's
  EXPECT_EQ(bgm.curPlay, 1);
  const SoundPart& quiet = Child(bgm, 1);
  EXPECT_EQ(quiet.curMute, 1);
  EXPECT_EQ(quiet.curVolume, 70);
  EXPECT_EQ(Child(quiet, 0).curPlay, 0);
  EXPECT_EQ(Child(quiet, 0).curVolume, 70);
  EXPECT_EQ(config->Parts()[1].curVolume, -1);
}

TEST_F(ConfigSound, FolderOfASoundName) {
  WriteDefinition(kDefinition);
  ConfigPtr config = game_->Load();
  EXPECT_EQ(config->FindFolder("sound", "BGM_title"), -1);  // not checked yet
  ASSERT_EQ(config->CheckSoundFile(), 1);
  struct Case {
    const char* name;
    int folder;
  };
  const Case cases[] = {
      {"BGM_title", 1},  // part bgm, group 1, type bgm
      {"bgm_01", 1},
      {"Ｑsong", 1},     // the inherited group of quiet
      {"se_click", 2},   // group 2, type se, folder key SE in any case
      {"orphan", -1},    // its group 9 does not exist
      {"voice", -1},     // no part has that head
      {"", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(config->FindFolder("SOUND", c.name), c.folder) << c.name;
  char path[260];
  EXPECT_EQ(config->ResolvePath(path, sizeof path, "bgm_01", "sound"), 1);
  EXPECT_STREQ(path, "bgm\\bgm_01");
  EXPECT_EQ(config->ResolvePath(path, sizeof path, "zz", "sound"), 0);
}

TEST_F(ConfigSound, MissingDefinition) {
  ConfigPtr config = game_->Load();
  EXPECT_EQ(config->CheckSoundFile(), 0);
  EXPECT_EQ(config->SoundPresent(), 0);
  EXPECT_TRUE(config->Parts().empty());
  config->SetSoundFile("other");
  EXPECT_EQ(config->CheckSoundFile(), 0);

  // Through the file server, which finds the same files.
  WriteDefinition(kDefinition);
  tqFileServer* server = new tqFileServer(0);
  config->SetSoundFile("sound");
  EXPECT_EQ(config->CheckSoundFile(), 1);
  EXPECT_EQ(config->Parts().size(), 3u);
  delete server;
}

TEST_F(ConfigSound, DeepNestingIsCut) {
  std::string body = "<PART><p>";
  for (int i = 0; i < 200; ++i) body += "<part><c>";
  body += "<volume>1</volume>";
  for (int i = 0; i < 200; ++i) body += "</c></part>";
  body += "</p></PART>";
  WriteDefinition(body);
  ConfigPtr config = game_->Load();
  ASSERT_EQ(config->CheckSoundFile(), 1);
  ASSERT_EQ(config->Parts().size(), 1u);
  int depth = 0;
  for (const SoundPart* p = &config->Parts()[0]; !p->children.empty(); p = &p->children[0]) ++depth;
  EXPECT_EQ(depth, 32);
}

// Two same-named children at every level answer to one path: read once, the
// tree stays as large as the file (read twice, 2^32 parts).
TEST_F(ConfigSound, RepeatedNamesAreReadOnce) {
  std::string inner = "<volume>7</volume>";
  for (int i = 0; i < 40; ++i) inner = "<part><c>" + inner + "</c><c></c></part>";
  WriteDefinition("<PART><p>" + inner + "</p><p><volume>1</volume></p></PART>");
  ConfigPtr config = game_->Load();
  ASSERT_EQ(config->CheckSoundFile(), 1);
  ASSERT_EQ(config->Parts().size(), 1u);
  size_t parts = 0;
  std::vector<const SoundPart*> stack{&config->Parts()[0]};
  while (!stack.empty()) {
    const SoundPart* p = stack.back();
    stack.pop_back();
    ++parts;
    ASSERT_LE(p->children.size(), 1u);
    for (const SoundPart& c : p->children) stack.push_back(&c);
  }
  EXPECT_EQ(parts, 33u);  // the part and 32 levels below it
}

TEST_F(ConfigSound, ReadFromDocuments) {
  tqXml definition, override;
  std::string def = Doc("<PART><a><volume>5</volume><mute>1</mute></a></PART>");
  std::string over = Doc("<PART><a><mute>0</mute></a></PART>");
  ASSERT_EQ(definition.OpenMem(def.data(), def.size()), 1);
  ASSERT_EQ(override.OpenMem(over.data(), over.size()), 1);
  GameFolder game;
  ConfigPtr config = game.Load();
  config->ReadSoundDefinition(definition, &override);
  ASSERT_EQ(config->Parts().size(), 1u);
  EXPECT_EQ(config->Parts()[0].curMute, 0);
  EXPECT_EQ(config->Parts()[0].curVolume, 5);
  EXPECT_TRUE(config->SoundGroups().empty());
}

}  // namespace
