// Disk files: open modes, positions, messages and the named-file operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "file/tqFile.h"
#include "tests/support/tqTestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using tqtest::Diagnostics;

class FileTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const std::string& bytes) {
    std::string path = dir_ / name;
    EXPECT_TRUE(tqtest::WriteFile(path, bytes));
    return path;
  }
  tqtest::TempDir dir_;
};

TEST_F(FileTest, OpenModeTable) {
  std::string existing = Make("e.bin", "0123456789");
  std::string missing = dir_ / "m.bin";
  struct {
    uint32_t mode;
    bool onExisting, onMissing;
    const char* note;
  } rows[] = {
      {0x0101, true, false, "read existing"},
      {0x0003, false, false, "no creation bit"},
      {0x0103, true, false, "read and write, existing: read only"},
      {0x0201, false, true, "read, new"},
      {0x0301, true, false, "existing with new: still open existing"},
      {0x0801, true, true, "read, always"},
      {0x0901, false, false, "existing and always: invalid"},
      {0x0A02, true, false, "new and always: truncate existing"},
      {0x0202, false, true, "write, new"},
  };
  for (const auto& row : rows) {
    for (bool exists : {true, false}) {
      tqtest::WriteFile(existing, "0123456789");
      tqtest::RemoveTree(missing);
      tqFile f;
      int r = f.Open(exists ? existing.c_str() : missing.c_str(), row.mode);
      EXPECT_EQ(r, (exists ? row.onExisting : row.onMissing) ? 1 : 0)
          << row.note << (exists ? " (existing)" : " (missing)");
      if (r) {
        EXPECT_EQ(f.GetPosition(), 0);
        f.Close();
      }
    }
  }
  EXPECT_TRUE(Diagnostics().boxes.empty());
  EXPECT_TRUE(Diagnostics().lines.empty());  // failed opens are silent
}

TEST_F(FileTest, CreateEmptiesOrMakesTheFile) {
  std::string path = Make("c.txt", "old contents");
  tqFile f;
  ASSERT_EQ(f.Open(path.c_str(), 0x0402), 1);
  EXPECT_EQ(f.GetSize(), 0);
  EXPECT_EQ(f.Write("new", 3), 3);
  EXPECT_EQ(f.GetPosition(), 3);
  EXPECT_NE(f.Close(), 0);
  EXPECT_EQ(tqtest::ReadFile(path), "new");

  std::string fresh = dir_ / "fresh.txt";
  ASSERT_EQ(f.Open(fresh.c_str(), 0x0402), 1);
  f.Close();
  EXPECT_EQ(f.Exists(fresh.c_str()), 1);
}

TEST_F(FileTest, MisuseShowsTheMessages) {
  std::string path = Make("x.txt", "abc");
  tqFile f;
  EXPECT_EQ(f.Open(path.c_str(), 0x0100), 0);
  EXPECT_EQ(f.Open(path.c_str(), 0x0401), 0);
  ASSERT_EQ(f.Open(path.c_str(), 0x0101), 1);
  EXPECT_EQ(f.Open(path.c_str(), 0x0101), 0);
  EXPECT_EQ(f.Write("z", 1), -1);
  char name[300] = "untouched";
  EXPECT_STREQ(f.GetName(name), path.c_str());
  EXPECT_STREQ(name, path.c_str());
  f.Close();
  ASSERT_EQ(f.Open(path.c_str(), 0x0402), 1);
  char b[4];
  EXPECT_EQ(f.Read(b, 1), -1);
  f.Close();
  std::vector<std::string> expected = {
      "TQFILE_READ 又は TQFILE_WRITE を指定してください",
      "TQFILE_READ ではアクセス出来ません",
      "既に違うファイルがオープンされています",
      "書き込みモードでオープンされていません : " + path,
      "読み込みモードでオープンされていません : " + path,
  };
  EXPECT_EQ(Diagnostics().boxes, expected);
  EXPECT_EQ(tqtest::ReadFile(path), "");
}

TEST_F(FileTest, ClosedObjectResults) {
  tqFile f;
  char b[4];
  char name[8] = "keep";
  EXPECT_EQ(f.Write("x", 1), -1);
  EXPECT_TRUE(Diagnostics().lines.empty());
  EXPECT_EQ(f.Read(b, 1), -1);
  ASSERT_EQ(Diagnostics().lines.size(), 1u);
  EXPECT_EQ(Diagnostics().lines[0], "tqFile : ハンドルが無効です");
  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(f.GetName(name), nullptr);
  EXPECT_STREQ(name, "keep");
  EXPECT_EQ(f.GetPosition(), -1);
  EXPECT_EQ(f.GetSize(), -1);
  EXPECT_EQ(f.Seek(0), -1);
  EXPECT_EQ(f.GetHandle(), TQ_INVALID_HANDLE);
  EXPECT_TRUE(Diagnostics().boxes.empty());
}

TEST_F(FileTest, SeekClampsToTheLastByteAndReadStopsAtTheEnd) {
  std::string path = Make("ten.bin", "0123456789");
  tqFile f;
  ASSERT_EQ(f.Open(path.c_str(), 0x0101), 1);
  EXPECT_EQ(f.GetSize(), 10);
  EXPECT_EQ(f.Seek(3), 3);
  char b[16] = {};
  EXPECT_EQ(f.Read(b, 2), 2);
  EXPECT_STREQ(b, "34");
  EXPECT_EQ(f.GetPosition(), 5);
  EXPECT_EQ(f.Seek(10), 9);
  EXPECT_EQ(f.Seek(100), 9);
  EXPECT_EQ(f.Read(b, 16), 1);
  EXPECT_EQ(b[0], '9');
  EXPECT_EQ(f.Read(b, 16), 0);  // end of file is 0, not -1
  EXPECT_EQ(f.GetPosition(), 10);
  f.Close();

  std::string empty = Make("empty.bin", "");
  ASSERT_EQ(f.Open(empty.c_str(), 0x0101), 1);
  EXPECT_EQ(f.Seek(0), -1);
  EXPECT_EQ(f.Read(b, 4), 0);
}

TEST_F(FileTest, ReadAndWriteMeansReadOnly) {
  std::string path = Make("rw.bin", "abc");
  tqFile f;
  ASSERT_EQ(f.Open(path.c_str(), 0x0103), 1);
  char b[4] = {};
  EXPECT_EQ(f.Read(b, 3), 3);
  EXPECT_EQ(f.Write("z", 1), -1);
  ASSERT_EQ(Diagnostics().lines.size(), 1u);
  EXPECT_EQ(Diagnostics().lines[0].rfind("Write file failed : ", 0), 0u);
  EXPECT_TRUE(Diagnostics().boxes.empty());
  f.Close();
  EXPECT_EQ(tqtest::ReadFile(path), "abc");
}

TEST_F(FileTest, TwoReadersShareAFile) {
  std::string path = Make("shared.bin", "shared");
  tqFile a, b;
  ASSERT_EQ(a.Open(path.c_str(), 0x0101), 1);
  ASSERT_EQ(b.Open(path.c_str(), 0x0101), 1);
  char x[8] = {}, y[8] = {};
  EXPECT_EQ(a.Read(x, 6), 6);
  EXPECT_EQ(b.Read(y, 6), 6);
  EXPECT_STREQ(x, y);
}

TEST_F(FileTest, NamesLongerThanTheFieldAreRefused) {
  std::string base = dir_.Path() + "\\";
  std::string name = base + std::string(255 - base.size(), 'n');
  ASSERT_EQ(name.size(), 255u);
  tqFile f;
  EXPECT_EQ(f.Open(name.c_str(), 0x0402), 1);  // 255 bytes fit
  f.Close();
  std::string longer = name + "x";
  EXPECT_EQ(f.Open(longer.c_str(), 0x0402), 0);
  EXPECT_EQ(f.Open(nullptr, 0x0101), 0);
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(FileTest, NamedFileQueries) {
  std::string path = Make("q.bin", std::string(1234, 'q'));
  tqFile f;
  EXPECT_EQ(f.GetFileSizeOf(path.c_str()), 1234u);
  EXPECT_EQ(tqFile::GetFileSizeOf64(path.c_str()), 1234u);
  EXPECT_EQ(f.GetFileSizeOf(dir_.Path().c_str()), 0u);
  EXPECT_EQ(f.GetFileSizeOf((dir_ / "none").c_str()), 0u);
  EXPECT_EQ(f.Exists(path.c_str()), 1);
  EXPECT_EQ(f.Exists(dir_.Path().c_str()), 0);
  EXPECT_EQ(f.Exists((dir_ / "none").c_str()), 0);
  EXPECT_EQ(f.GetAttribute((dir_ / "none").c_str()), 0xFFFFFFFFu);
  EXPECT_NE(f.GetAttribute(dir_.Path().c_str()) & 0x10, 0u);
}

TEST_F(FileTest, DeleteRules) {
  tqFile f;
  std::string plain = Make("plain.txt", "p");
  EXPECT_NE(f.Delete(plain.c_str(), 0), 0);
  EXPECT_EQ(f.Exists(plain.c_str()), 0);
  EXPECT_EQ(f.Delete(plain.c_str(), 0), 0);  // gone already

  std::string ro = Make("ro.txt", "r");
  ASSERT_NE(f.SetAttribute(ro.c_str(), 0x01), 0);
  EXPECT_NE(f.GetAttribute(ro.c_str()) & 0x01, 0u);
  EXPECT_EQ(f.Delete(ro.c_str(), 0), 0);
  EXPECT_EQ(f.Exists(ro.c_str()), 1);
  EXPECT_NE(f.Delete(ro.c_str(), 1), 0);
  EXPECT_EQ(f.Exists(ro.c_str()), 0);

  std::string folder = dir_ / "folder";
  ASSERT_TRUE(tqp::CreateDirectory(folder.c_str()));
  ASSERT_TRUE(tqp::SetAttributes(folder.c_str(), tqp::ATTR_READONLY));
  EXPECT_EQ(f.Delete(folder.c_str(), 0), 0);
  EXPECT_EQ(f.Delete(folder.c_str(), 1), 0);
  uint32_t attributes = f.GetAttribute(folder.c_str());
  EXPECT_NE(attributes & 0x10, 0u);  // still there,
  EXPECT_EQ(attributes & 0x01, 0u);  // with its attributes reset
}

TEST_F(FileTest, DoubleByteNamesSurviveTheRoundTrip) {
  // 表 ends in 0x5C: a byte-wise separator split would break the name.
  std::string name = "表示\\表.txt";
  ASSERT_TRUE(tqp::CreateDirectory((dir_ / "表示").c_str()));
  tqFile f;
  ASSERT_EQ(f.Open((dir_ / name).c_str(), 0x0402), 1);
  EXPECT_EQ(f.Write("hyo", 3), 3);
  f.Close();
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst((dir_ / "表示\\*").c_str(), data);
  ASSERT_NE(h, nullptr);
  bool found = false;
  do found |= std::string(data.name) == "表.txt";
  while (tqp::FindNext(h, data));
  tqp::FindClose(h);
  EXPECT_TRUE(found);
  EXPECT_EQ(tqtest::ReadFile(dir_ / name), "hyo");
#ifndef _WIN32
  std::string system;
  ASSERT_TRUE(tqp::ToSystemPath((dir_ / name).c_str(), system));
  EXPECT_NE(system.find("/\xE8\xA1\xA8\xE7\xA4\xBA/\xE8\xA1\xA8.txt"), std::string::npos);  // UTF-8
  struct stat st;
  EXPECT_EQ(stat(system.c_str(), &st), 0);
  std::string back;
  ASSERT_TRUE(tqp::FromSystemPath(system, back));
  EXPECT_EQ(back, dir_ / name);
#endif
}

}  // namespace
