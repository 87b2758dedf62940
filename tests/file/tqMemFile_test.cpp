// Memory files: the three ways to fill one, bounded reads, step growth of
// writes, and the borrowed buffer of a shared file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "file/tqFile.h"
#include "file/tqMemFile.h"
#include "tests/support/tqTestSupport.h"

namespace {

const char kNotOpen[] = "tqMemFile : ファイルがオープンされていません";

std::string Contents(tqMemFile& f) {
  uint8_t* data = nullptr;
  uint32_t length = 0;
  if (!f.GetBuffer(&data, &length)) return "<none>";
  return std::string(reinterpret_cast<char*>(data), length);
}

TEST(MemFile, WithoutBufferEverySlotFails) {
  tqMemFile f;
  char buffer[8];
  EXPECT_EQ(f.Read(buffer, 1), -1);
  EXPECT_EQ(f.Write("x", 1), -1);
  EXPECT_EQ(tqtest::Diagnostics().lines, (std::vector<std::string>{kNotOpen, kNotOpen}));
  EXPECT_EQ(f.GetPosition(), -1);
  EXPECT_EQ(f.Seek(0), -1);
  EXPECT_EQ(f.GetSize(), -1);
  EXPECT_EQ(f.GetName(buffer), nullptr);
  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(f.Open("anything", TQFILE_READ), 1);
  EXPECT_EQ(f.GetHandle(), TQ_INVALID_HANDLE);
  EXPECT_EQ(f.GetFileSizeOf("x"), 0xFFFFFFFFu);
}

TEST(MemFile, ReadsAreCutAtTheEndAndReadingAtTheEndFails) {
  tqMemFile f;
  ASSERT_EQ(f.LoadFromMemory("name.bin", "abcdefghij", 10), 1);
  char buffer[16] = {};
  EXPECT_EQ(f.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(f.Read(buffer, 100), 6);
  EXPECT_EQ(std::string(buffer, 6), "efghij");
  EXPECT_EQ(f.Read(buffer, 1), -1);  // unlike a disk file, -1 at the end
  EXPECT_TRUE(tqtest::Diagnostics().lines.empty());
  char name[256] = {};
  EXPECT_STREQ(f.GetName(name), "name.bin");
  EXPECT_STREQ(name, "name.bin");
}

TEST(MemFile, SeekClampsToTheLastByte) {
  tqMemFile f;
  ASSERT_EQ(f.LoadFromMemory("", "0123456789", 10), 1);
  EXPECT_EQ(f.Seek(3), 3);
  EXPECT_EQ(f.Seek(10), 9);
  EXPECT_EQ(f.Seek(100), 9);
  EXPECT_EQ(f.GetPosition(), 9);
  tqMemFile empty;
  ASSERT_EQ(empty.LoadFromMemory("", "", 0), 1);
  EXPECT_EQ(empty.Seek(0), -1);
}

TEST(MemFile, WritesGrowByWholeSteps) {
  tqMemFile f;
  ASSERT_EQ(f.Create(4), 1);
  EXPECT_EQ(f.GetSize(), 4);
  EXPECT_EQ(f.Write("ab", 2), 2);
  EXPECT_EQ(f.GetSize(), 4);
  // Ending exactly at the end of the buffer still grows it by a step.
  EXPECT_EQ(f.Write("cd", 2), 2);
  EXPECT_EQ(f.GetSize(), 8);
  // 4 + 9 = 13 needs two more steps: the length must exceed the end.
  EXPECT_EQ(f.Write("efghijklm", 9), 9);
  EXPECT_EQ(f.GetSize(), 16);
  EXPECT_EQ(Contents(f), "abcdefghijklm");
  // Bytes past what was written are zero.
  f.Seek(13);
  char rest[3] = {1, 1, 1};
  EXPECT_EQ(f.Read(rest, 3), 3);
  EXPECT_EQ(std::string(rest, 3), std::string(3, '\0'));
}

TEST(MemFile, LoadedFilesGrowWhenWrittenPastTheEnd) {
  tqMemFile f;
  ASSERT_EQ(f.LoadFromMemory("", "xyz", 3), 1);
  f.Seek(2);
  EXPECT_EQ(f.Write("1234", 4), 4);
  EXPECT_GT(f.GetSize(), 6);
  EXPECT_EQ(Contents(f), "xy1234");
}

TEST(MemFile, FillingTwiceFailsUntilClosed) {
  tqMemFile f;
  ASSERT_EQ(f.Create(8), 1);
  EXPECT_EQ(f.Create(8), 0);
  EXPECT_EQ(f.LoadFromMemory("", "a", 1), 0);
  EXPECT_EQ(f.LoadFromMemory("", nullptr, 1), 0);
  tqMemFile other;
  EXPECT_EQ(f.Share(&other), 0);
  EXPECT_EQ(f.Close(), 1);
  EXPECT_EQ(f.GetSize(), -1);
  EXPECT_EQ(f.LoadFromMemory("", "a", 1), 1);
}

TEST(MemFile, SharedBufferIsWrittenThroughAndNeverFreedByTheBorrower) {
  tqMemFile owner;
  ASSERT_EQ(owner.LoadFromMemory("owner", "hello", 5), 1);
  {
    tqMemFile borrower;
    ASSERT_EQ(borrower.Share(&owner), 1);
    EXPECT_STREQ(borrower.GetName(nullptr), "owner");
    EXPECT_EQ(borrower.Write("J", 1), 1);
    EXPECT_EQ(borrower.Close(), 1);
  }
  // Still the owner's, with the borrower's write in it.
  char buffer[5];
  EXPECT_EQ(owner.Read(buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "Jello");

  // A borrower that grows gets its own copy; the owner keeps its bytes.
  tqMemFile grower;
  ASSERT_EQ(grower.Share(&owner), 1);
  grower.Seek(4);
  EXPECT_EQ(grower.Write("o world", 7), 7);
  EXPECT_EQ(owner.GetSize(), 5);
  owner.Seek(0);
  EXPECT_EQ(owner.Read(buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "Jello");
}

TEST(MemFile, LoadFromFileCopiesNameAndBytes) {
  tqtest::TempDir dir;
  std::string path = dir / "data.bin";
  ASSERT_TRUE(tqtest::WriteFile(path, "file bytes"));
  tqFile disk;
  ASSERT_EQ(disk.Open(path.c_str(), TQFILE_READ | TQFILE_EXISTING), 1);
  tqMemFile f;
  EXPECT_EQ(f.LoadFromFile(nullptr), 0);
  ASSERT_EQ(f.LoadFromFile(&disk), 1);
  EXPECT_STREQ(f.GetName(nullptr), path.c_str());
  EXPECT_EQ(f.GetSize(), 10);
  char buffer[10];
  EXPECT_EQ(f.Read(buffer, 10), 10);
  EXPECT_EQ(std::string(buffer, 10), "file bytes");
  EXPECT_TRUE(disk.IsOpen());  // the other file stays open
  // A file that is not open has no size to copy.
  tqFile closed;
  tqMemFile g;
  EXPECT_EQ(g.LoadFromFile(&closed), 0);
}

}  // namespace
