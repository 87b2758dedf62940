// Scanning the data folder and rewriting install.log.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/FileList.h"
#include "platform/tqPlatform.h"
#include "tests/support/tqTestSupport.h"
#include "util/tqUtil.h"

namespace {

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tqp::GetCurrentDirectory(saved_, sizeof saved_));
    ASSERT_TRUE(tqp::SetCurrentDirectory(dir_.Path().c_str()));
  }
  void TearDown() override { tqp::SetCurrentDirectory(saved_); }
  void Put(const std::string& relative) {
    char parent[1024];
    if (tqParentFolderOf(relative.c_str(), parent)) {
      ASSERT_TRUE(tqCreateFolderTree((dir_ / parent).c_str(), false));
    }
    ASSERT_TRUE(tqtest::WriteFile(dir_ / relative, relative));
  }
  tqtest::TempDir dir_;
  char saved_[1024];
};

TEST_F(ScanTest, ListsFilesDepthFirstAndSkipsFolders) {
  Put("A.txt");
  Put("sub\\B.txt");
  Put("sub\\deeper\\C.bin");
  Put("表\\ソ.txt");
  ASSERT_TRUE(tqp::CreateDirectory((dir_ / "empty").c_str()));
  ASSERT_TRUE(tqp::SetAttributes((dir_ / "A.txt").c_str(), tqp::ATTR_HIDDEN));
  FileList list;
  ScanFolder("", list);
  std::vector<std::string> sorted = list;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{"A.txt", "sub\\B.txt", "sub\\deeper\\C.bin", "表\\ソ.txt"}));
  // Depth first: the files of a folder come together, right after each other.
  auto b = std::find(list.begin(), list.end(), "sub\\B.txt");
  auto c = std::find(list.begin(), list.end(), "sub\\deeper\\C.bin");
  EXPECT_EQ(std::abs(b - c), 1);

  FileList sub;
  ScanFolder("sub", sub);
  std::sort(sub.begin(), sub.end());
  EXPECT_EQ(sub, (std::vector<std::string>{"sub\\B.txt", "sub\\deeper\\C.bin"}));
  FileList none;
  ScanFolder("missing", none);
  EXPECT_TRUE(none.empty());
}

TEST_F(ScanTest, InstallLogFromNothing) {
  Put("data\\A.txt");
  Put("data\\sub\\B.txt");
  ASSERT_TRUE(tqp::SetCurrentDirectory((dir_ / "data").c_str()));
  FileList list;
  ScanFolder("", list);
  std::string install = dir_ / "inst";
  ASSERT_TRUE(tqp::CreateDirectory(install.c_str()));
  UpdateInstallLog(install.c_str(), list);
  EXPECT_EQ(tqtest::ReadFile(install + "\\install.log"), "\"A.txt\"\r\n\"sub\\B.txt\"\r\n");
}

TEST(InstallLog, OldSpellingWinsAndEmptyLineStaysOnTop) {
  tqtest::TempDir dir;
  ASSERT_TRUE(tqtest::WriteFile(dir / "install.log",
                                "\"Sub\\b.TXT\"\r\n\r\n\"zeta.dat\"\n\"alpha.dat\""));
  UpdateInstallLog(dir.Path().c_str(), {"sub\\B.txt", "new.txt", "ALPHA.DAT", "new.txt"});
  EXPECT_EQ(tqtest::ReadFile(dir / "install.log"),
            "\r\n\"alpha.dat\"\r\n\"new.txt\"\r\n\"Sub\\b.TXT\"\r\n\"zeta.dat\"\r\n");
}

TEST(InstallLog, EmptyPackageRewritesTheOldLines) {
  tqtest::TempDir dir;
  ASSERT_TRUE(tqtest::WriteFile(dir / "install.log", "\"b\"\n\"a\"\n"));
  UpdateInstallLog(dir.Path().c_str(), {});
  EXPECT_EQ(tqtest::ReadFile(dir / "install.log"), "\"a\"\r\n\"b\"\r\n");
  tqtest::TempDir empty;
  UpdateInstallLog(empty.Path().c_str(), {});
  EXPECT_EQ(tqtest::ReadFile(empty / "install.log"), "");
}

TEST(LogList, StableSortCaseInsensitive) {
  LogList log;
  for (const char* line : {"b", "B", "a", "_x", "A", "b", "[", "Z", "z"}) log.Add(line);
  log.SortUnique();
  // '_' (0x5F) and '[' (0x5B) sort below the lower-case letters, above upper case
  // ones; first of each equal run stays.
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"[", "_x", "a", "b", "Z"}));
  EXPECT_EQ(log.Count(), 5u);
}

TEST(LogList, LongLinesAreSkippedNotCut) {
  LogList log;
  log.Add(std::string(259, 'k').c_str());
  log.Add(std::string(260, 'l').c_str());
  log.LoadText(("short\n" + std::string(300, 'm') + "\r\nlast").c_str());
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{std::string(259, 'k'), "short", "last"}));
  EXPECT_EQ(tqtest::Diagnostics().lines.size(), 2u);
}

TEST(LogList, LoadFailsForAMissingFileAndWriteForAFolder) {
  tqtest::TempDir dir;
  LogList log;
  log.Add("kept");
  EXPECT_FALSE(log.Load((dir / "none.log").c_str()));
  EXPECT_EQ(log.Count(), 1u);
  EXPECT_FALSE(log.Write(dir.Path().c_str()));
  EXPECT_TRUE(log.Write((dir / "ok.log").c_str()));
  EXPECT_EQ(tqtest::ReadFile(dir / "ok.log"), "kept\r\n");
}

}  // namespace
