// The plan's decisions, the old log's readability, the journal's format, and
// a swap that fails at each step putting the originals back.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/plan/tqUpdatePlan.h"
#include "app/plan/tqUpdateSwap.h"
#include "platform/tqPlatform.h"
#include "tests/support/tqTestSupport.h"
#include "util/tqUtil.h"

namespace {

using tqtest::ReadFile;
using tqtest::WriteFile;

TEST(InstallLogText, LinesTheMergeCanKeepAndTheRest) {
  struct Case {
    const char* what;
    std::string bytes;
    int badLine;  // 0: readable
  };
  const Case cases[] = {
      {"CR LF", "\"a\"\r\n\"b\"\r\n", 0},
      {"LF and a last line without end", "\"a\"\n\"b\"", 0},
      {"empty", "", 0},
      {"259 bytes", std::string(259, 'x') + "\r\n", 0},
      {"260 bytes", "\"a\"\r\n" + std::string(260, 'x') + "\r\n", 2},
      {"NUL", std::string("\"a\"\r\n\"b\0\"\r\n", 10), 2},
      {"CR only", "\"a\"\r\"b\"\r", 1},
      {"UTF-16 LE", std::string("\xFF\xFE\"\0a\0\"\0", 8), 1},
      {"UTF-16 BE", std::string("\xFE\xFF\0\"\0a", 6), 1},
  };
  for (const Case& c : cases) {
    int bad = -1;
    EXPECT_EQ(LogTextIsLines(c.bytes, &bad), c.badLine == 0) << c.what;
    EXPECT_EQ(bad, c.badLine) << c.what;
  }
}

TEST(InstallLogText, MergeKeepsTheOldSpellingAndOrder) {
  EXPECT_EQ(MergeInstallLog("\"Sub\\Inner.BIN\"\r\n\"old.txt\"\n", {"top.txt", "sub\\inner.bin"}),
            "\"old.txt\"\r\n\"Sub\\Inner.BIN\"\r\n\"top.txt\"\r\n");
}

// What the dry run reports as the lines install.log gains: only those the
// merge adds, whatever the case of the old log's spelling.
TEST(InstallLogText, LinesAddedAreThoseTheOldLogLacks) {
  struct Case {
    const char* what;
    std::string oldLog;
    std::vector<std::string> files;
    std::vector<std::string> added;
  };
  const Case cases[] = {
      {"no old log", "", {"b\\c.txt", "a.txt"}, {"\"a.txt\"", "\"b\\c.txt\""}},
      {"old spelling kept", "\"Sub\\Inner.BIN\"\r\n", {"sub\\inner.bin", "top.txt"}, {"\"top.txt\""}},
      {"all there, duplicates in the old log", "\"a\"\n\"A\"\n\"b\"\n", {"b", "a"}, {}},
      {"other lines of the old log stay", "notes\r\n\"x\"\r\n", {"表\\台詞.txt"}, {"\"表\\台詞.txt\""}},
  };
  for (const Case& c : cases) {
    UpdatePlan plan;
    plan.oldLog = c.oldLog;
    plan.newLog = MergeInstallLog(c.oldLog, c.files);
    EXPECT_EQ(LogLinesAdded(plan), c.added) << c.what;
  }
}

TEST(Journal, RoundTripAndDamagedOnesRefused) {
  Journal journal;
  journal.newFolders = {"new", "new\\表"};
  journal.entries = {{3, true, "a.bin"}, {4, false, "new\\表\\b.bin"}, {0, true, "install.log"}};
  std::string text = FormatJournal(journal);
  Journal back;
  ASSERT_TRUE(ParseJournal(text, &back));
  EXPECT_EQ(FormatJournal(back), text);
  const std::string header = "tqupdate-journal 1\n";
  const char* damaged[] = {
      "",
      "tqupdate-journal 1\nM 1 R a\n",                 // no end: cut short
      "tqupdate-journal 2\nend\n",                      // another format
      "tqupdate-journal 1\nM 1 R ..\\x\nend\n",        // leaves the installation
      "tqupdate-journal 1\nM 1 R \\x\nend\n",          // absolute
      "tqupdate-journal 1\nM 1 N C:x\nend\n",          // drive
      "tqupdate-journal 1\nM x R a\nend\n",            // no number
      "tqupdate-journal 1\nM 1 Q a\nend\n",            // no kind
      "tqupdate-journal 1\nD a\\\\b\nend\n",           // empty part
      "tqupdate-journal 1\nM 99999999 R a\nend\n",     // index out of range
      "tqupdate-journal 1\nend\nextra",                 // text after the end
      "tqupdate-journal 1\nM 1 R a\nD b\nend\n",        // a folder after a move (found by fuzzing)
      "tqupdate-journal 1\nM 01 R t\nend\n",             // a leading zero (found by fuzzing)
      "tqupdate-journal 1\nM 1 R a\tb\nend\n",          // a control byte in a name
  };
  for (const char* text : damaged) EXPECT_FALSE(ParseJournal(text, &back)) << text;
  EXPECT_TRUE(ParseJournal(header + "end\n", &back));
}

class SwapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install_ = dir_ / "game";
    data_ = dir_ / "data";
    ASSERT_TRUE(tqCreateFolderTree((install_ + "\\config").c_str(), false));
    ASSERT_TRUE(tqCreateFolderTree(data_.c_str(), false));
    Put(install_, "a.bin", "old a");
    Put(install_, "c.bin", "old c");
    Put(install_, "install.log", "\"a.bin\"\r\n");
    for (const char* name : {"a.bin", "b\\new.bin", "b\\deeper\\d.bin", "c.bin"})
      Put(data_, name, std::string("new ") + name);
    files_ = {"a.bin", "b\\new.bin", "b\\deeper\\d.bin", "c.bin"};
  }
  void Put(const std::string& base, const std::string& relative, const std::string& bytes) {
    std::string path = base + "\\" + relative;
    char parent[1024];
    ASSERT_TRUE(tqParentFolderOf(path.c_str(), parent));
    ASSERT_TRUE(tqCreateFolderTree(parent, false));
    ASSERT_TRUE(WriteFile(path, bytes));
  }
  // Every file and folder below the installation with its bytes.
  std::map<std::string, std::string> Tree(const std::string& folder = "") {
    std::map<std::string, std::string> tree;
    tqp::FindData data;
    std::string base = folder.empty() ? install_ : install_ + "\\" + folder;
    tqp::FindHandle h = tqp::FindFirst((base + "\\*.*").c_str(), data);
    if (!h) return tree;
    do {
      std::string name = data.name;
      if (name == "." || name == "..") continue;
      std::string relative = folder.empty() ? name : folder + "\\" + name;
      if (data.attributes & tqp::ATTR_DIRECTORY) {
        tree[relative + "\\"] = "";
        for (auto& entry : Tree(relative)) tree.insert(entry);
      } else {
        tree[relative] = ReadFile(install_ + "\\" + relative);
      }
    } while (tqp::FindNext(h, data));
    tqp::FindClose(h);
    return tree;
  }
  // Stages the plan's files as the copy engine would.
  void Stage(const UpdatePlan& plan) {
    ASSERT_TRUE(tqp::CreateDirectory(plan.Staging().c_str()));
    for (const PlanFile& f : plan.files) ASSERT_TRUE(WriteFile(plan.StagedPath(f.index), ReadFile(f.source)));
  }

  tqtest::TempDir dir_;
  std::string install_, data_;
  std::vector<std::string> files_;
};

TEST_F(SwapTest, PlanDecidesAndTheSwapPutsEverythingInPlace) {
  UpdatePlan plan;
  PlanProblem problem;
  ASSERT_TRUE(BuildPlan(data_.c_str(), install_.c_str(), files_, &plan, &problem));
  ASSERT_EQ(plan.files.size(), 4u);
  EXPECT_TRUE(plan.files[0].replaces);
  EXPECT_FALSE(plan.files[1].replaces);
  EXPECT_EQ(plan.files[1].size, 13u);  // "new b\\new.bin"
  EXPECT_EQ(plan.newFolders, (std::vector<std::string>{"b", "b\\deeper"}));
  EXPECT_TRUE(plan.logExists);
  std::vector<CheckResult> results;
  ASSERT_TRUE(CheckPlan(plan, &results));
  EXPECT_EQ(results.size(), 4u);

  std::map<std::string, std::string> expected = Tree();
  for (const std::string& f : files_) expected[f] = "new " + f;
  expected["b\\"] = expected["b\\deeper\\"] = "";
  expected["install.log"] = "\"a.bin\"\r\n\"b\\deeper\\d.bin\"\r\n\"b\\new.bin\"\r\n\"c.bin\"\r\n";
  Stage(plan);
  SwapProblem swapProblem;
  ASSERT_TRUE(CommitStaged(plan, SwapHooks(), &swapProblem));
  EXPECT_EQ(Tree(), expected);
}

// A folder that appears where a file must go after the checks makes that
// rename fail: every earlier step is undone and the old tree is back.
TEST_F(SwapTest, FailureAtEachSwapStepPutsTheOriginalsBack) {
  for (const char* blocked : {"b\\new.bin", "b\\deeper\\d.bin"}) {
    UpdatePlan plan;
    PlanProblem problem;
    ASSERT_TRUE(BuildPlan(data_.c_str(), install_.c_str(), files_, &plan, &problem));
    // Created by the test after the plan; it holds a file, so neither the
    // rename nor the undo's removal of new folders can take it away.
    Put(install_, std::string(blocked) + "\\keep", "k");
    std::map<std::string, std::string> before = Tree();
    Stage(plan);
    SwapProblem swapProblem;
    EXPECT_FALSE(CommitStaged(plan, SwapHooks(), &swapProblem)) << blocked;
    EXPECT_EQ(swapProblem.path, install_ + "\\" + blocked);
    EXPECT_EQ(Tree(), before) << blocked;
    EXPECT_EQ(ReadFile(install_ + "\\install.log"), "\"a.bin\"\r\n");
    tqtest::RemoveTree(install_ + "\\b");
  }
}

TEST_F(SwapTest, RepairOfNothingAndOfLeftovers) {
  SwapProblem problem;
  EXPECT_EQ(RepairInstallation(install_, SwapHooks(), &problem), RepairOutcome::Clean);
  Put(install_, "~update.stage\\3", "half a file");
  EXPECT_EQ(RepairInstallation(install_, SwapHooks(), &problem), RepairOutcome::LeftoversRemoved);
  EXPECT_EQ(tqExists((install_ + "\\~update.stage").c_str()), 0);
  Put(install_, "~update.journal", "tqupdate-journal 1\nM 1 R a.bin\n");  // damaged
  std::map<std::string, std::string> before = Tree();
  EXPECT_EQ(RepairInstallation(install_, SwapHooks(), &problem), RepairOutcome::Failed);
  EXPECT_EQ(Tree(), before);
}

}  // namespace
