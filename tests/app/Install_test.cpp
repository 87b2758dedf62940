// Installation lookup, installed version and the version gate.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Install.h"
#include "tests/support/tqTestSupport.h"
#include "util/tqUtil.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

TEST(InstallFolder, TextBetweenTheFirstTags) {
  struct {
    const char* text;
    bool ok;
    const char* folder;
  } rows[] = {
      {"<xml><path>C:\\Games\\X</path></xml>", true, "C:\\Games\\X"},
      {"<path>C:\\Games\\X\\</path>", true, "C:\\Games\\X\\"},
      {"<path>\r\n  C:\\G </path>", true, "\r\n  C:\\G "},
      {"<path>C:\\表</path><path>D:\\</path>", true, "C:\\表"},
      {"</path><path>C:\\x", true, ""},
      {"<path></path>", true, ""},
      {"<path>C:\\x", false, "unchanged"},
      {"C:\\x</path>", false, "unchanged"},
      {"<PATH>C:\\x</PATH>", false, "unchanged"},
      {"", false, "unchanged"},
  };
  for (const auto& row : rows) {
    char folder[260];
    memset(folder, 0x7F, sizeof folder);
    strcpy(folder, "unchanged");
    EXPECT_EQ(ExtractInstallFolder(row.text, folder), row.ok) << row.text;
    EXPECT_STREQ(folder, row.folder) << row.text;
    if (row.ok) {
      for (size_t i = strlen(folder); i < sizeof folder; ++i) ASSERT_EQ(folder[i], 0);  // zero-filled
    }
  }
}

TEST(InstallFolder, TextsThatDoNotFitAreRefused) {
  char folder[260] = "before";
  std::string fits = "<path>" + std::string(259, 'f') + "</path>";
  EXPECT_TRUE(ExtractInstallFolder(fits.c_str(), folder));
  EXPECT_EQ(strlen(folder), 259u);
  strcpy(folder, "before");
  std::string longer = "<path>" + std::string(260, 'f') + "</path>";
  EXPECT_FALSE(ExtractInstallFolder(longer.c_str(), folder));
  EXPECT_STREQ(folder, "before");
}

TEST(VersionWord, FromTagTexts) {
  struct {
    const char* text;
    uint32_t word;
  } rows[] = {
      {"<major>1</major><minor>2</minor>", 0x00010002},
      {"<minor>2</minor><major>1</major>", 0x00010002},
      {"<major> 1</major><minor>2</minor>", 0x00000002},
      {"<major>\n1</major><minor>2</minor>", 0x00000002},
      {"<major>12.</major><minor>3</minor>", 0x00000003},
      {"<major>0x10</major><minor>+3</minor>", 0x00100003},
      {"<major>0xFFFF</major><minor>65535</minor>", 0xFFFFFFFF},
      // Out of a 16-bit field: refused as a whole (0, as for a missing file),
      // never wrapped into a word that passes.
      {"<major>1</major><minor>-1</minor>", 0},
      {"<major>-0</major><minor>1</minor>", 0x00000001},
      {"<major>2</major><minor>65536</minor>", 0},
      {"<major>65537</major><minor>0</minor>", 0},
      {"<major>99999999999999</major><minor>0</minor>", 0},
      {"<major>0x10000</major><minor>0</minor>", 0},
      {"<major>1</major>", 0x00010000},
      {"<minor>1</minor>", 0x00000001},
      {"<major>2</major><major>3</major><minor>1", 0x00020000},
      {"", 0},
  };
  for (const auto& row : rows) EXPECT_EQ(VersionWordFromText(row.text), row.word) << row.text;
  std::string huge = "<major>7" + std::string(400, '0') + "</major>";
  EXPECT_EQ(VersionWordFromText(huge.c_str()), 0u);
}

TEST(VersionWord, Gate) {
  EXPECT_TRUE(VersionGatePasses(VersionWord(1, 2), RequiredVersion("1", "2")));
  EXPECT_FALSE(VersionGatePasses(VersionWord(1, 1), RequiredVersion("1", "2")));
  EXPECT_TRUE(VersionGatePasses(VersionWord(2, 0), RequiredVersion("1", "9")));
  EXPECT_TRUE(VersionGatePasses(0, RequiredVersion("", "")));
  EXPECT_FALSE(VersionGatePasses(0, RequiredVersion("0", "1")));
  // A required number out of range is refused; the unchecked form never
  // lets an ordinary installation through for it.
  const char* bad[][2] = {{"-1", "0"}, {"65536", "0"}, {"0", "70000"}, {"99999999999999", "0"}};
  for (const auto& b : bad) {
    uint32_t word = 0;
    EXPECT_FALSE(RequiredVersion(b[0], b[1], &word)) << b[0] << "." << b[1];
    EXPECT_FALSE(VersionGatePasses(VersionWord(65535, 65534), RequiredVersion(b[0], b[1])));
  }
  uint32_t word = 0;
  EXPECT_TRUE(RequiredVersion("65535", "0x0", &word));
  EXPECT_EQ(word, 0xFFFF0000u);
}

TEST(InstalledVersion, ReadsConfigStartupXml) {
  tqtest::TempDir dir;
  EXPECT_EQ(ReadInstalledVersion(dir.Path().c_str()), 0u);  // missing file
  ASSERT_TRUE(tqCreateFolderTree((dir / "config").c_str(), false));
  ASSERT_TRUE(tqtest::WriteFile(dir / "config\\startup.xml",
                                "<?xml version=\"1.0\"?>\r\n<document><VERSION><major>1</major>"
                                "<minor>2</minor></VERSION></document>"));
  EXPECT_EQ(ReadInstalledVersion(dir.Path().c_str()), 0x00010002u);
  // A trailing backslash in the folder disappears in the join.
  EXPECT_EQ(ReadInstalledVersion((dir.Path() + "\\").c_str()), 0x00010002u);
}

#ifndef _WIN32
// A Wine prefix whose installation record names C:\Games\X: the Linux updater
// finds the game and reads its version without starting Wine.
TEST(InstallLookup, ThroughAWinePrefix) {
  tqtest::TempDir prefix;
  std::string system;
  ASSERT_TRUE(tqp::ToSystemPath(prefix.Path().c_str(), system));
  ASSERT_TRUE(tqCreateFolderTree((prefix / "dosdevices").c_str(), false));
  ASSERT_TRUE(tqCreateFolderTree((prefix / "drive_c\\ProgramData\\表ブランド").c_str(), false));
  ASSERT_TRUE(tqCreateFolderTree((prefix / "drive_c\\Games\\X\\config").c_str(), false));
  ASSERT_EQ(symlink("../drive_c", (system + "/dosdevices/c:").c_str()), 0);
  ASSERT_TRUE(tqtest::WriteFile(prefix / "drive_c\\ProgramData\\表ブランド\\game.xml",
                                "<?xml version=\"1.0\"?><document><path>C:\\Games\\X</path></document>"));
  ASSERT_TRUE(tqtest::WriteFile(prefix / "drive_c\\Games\\X\\config\\startup.xml",
                                "<major>3</major><minor>4</minor>"));
  const char* old = getenv("WINEPREFIX");
  std::string keep = old ? old : "";
  setenv("WINEPREFIX", system.c_str(), 1);
  char folder[260];
  EXPECT_TRUE(LookupInstallation("表ブランド", "game", folder));
  EXPECT_STREQ(folder, "C:\\Games\\X");
  EXPECT_EQ(ReadInstalledVersion(folder), 0x00030004u);
  EXPECT_FALSE(LookupInstallation("表ブランド", "other", folder));
  // An empty brand: the record lies in the application-data folder itself.
  ASSERT_TRUE(tqtest::WriteFile(prefix / "drive_c\\ProgramData\\direct.xml", "<path>C:\\D</path>"));
  ASSERT_TRUE(tqp::CreateDirectory((prefix / "drive_c\\D").c_str()));
  EXPECT_TRUE(LookupInstallation("", "direct", folder));
  EXPECT_STREQ(folder, "C:\\D");
  // The record's own path, as the package tool names it when it is missing.
  char shared[260], record[1024];
  ASSERT_TRUE(tqShellFolder(8, shared));
  ASSERT_TRUE(InstallRecordPath("表ブランド", "game", record, sizeof record));
  EXPECT_EQ(std::string(record), std::string(shared) + "\\表ブランド\\game.xml");
  ASSERT_TRUE(InstallRecordPath("", "direct", record, sizeof record));
  EXPECT_EQ(std::string(record), std::string(shared) + "\\direct.xml");
  EXPECT_FALSE(InstallRecordPath("表ブランド", "game", record, strlen(shared) + 8));
  if (old)
    setenv("WINEPREFIX", keep.c_str(), 1);
  else
    unsetenv("WINEPREFIX");
}
#else
TEST(InstallLookup, InTheApplicationDataFolder) {
  char shared[260];
  ASSERT_TRUE(tqShellFolder(8, shared));
  std::string brand = "tqtest-brand-" + std::to_string(tqp::TickCount());
  std::string folder = std::string(shared) + "\\" + brand;
  ASSERT_TRUE(tqCreateFolderTree(folder.c_str(), false));
  tqtest::TempDir game;
  ASSERT_TRUE(tqtest::WriteFile(folder + "\\game.xml", "<path>" + game.Path() + "</path>"));
  char found[260];
  EXPECT_TRUE(LookupInstallation(brand.c_str(), "game", found));
  EXPECT_STREQ(found, game.Path().c_str());
  EXPECT_FALSE(LookupInstallation(brand.c_str(), "missing", found));
  tqtest::RemoveTree(folder);
}
#endif

}  // namespace
