// Archives: writing and reading back, the enciphered head/body/tail reads,
// seeking, the handle table, tqBigFile's slots and the refusal of hostile
// archive files.
#include "file/tqArchive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "file/tqBigFile.h"
#include "tests/support/tqTestSupport.h"

namespace {

struct Item {
  std::string name;
  std::string data;
};

std::string Pattern(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  std::mt19937 random(seed);
  for (auto& c : out) c = (char)random();
  return out;
}

const uint8_t kSalt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

class ArchiveTest : public testing::Test {
 protected:
  void SetUp() override { CreatePrivateHeap(10485760); }

  std::string Make(const std::vector<Item>& items, bool encrypt, uint32_t capacity = 16,
                   const char* file = "test.arc") {
    std::string path = dir_ / file;
    tqArchiveWriter writer;
    EXPECT_EQ(1, writer.Begin(path.c_str(), encrypt, capacity, kSalt));
    for (const Item& item : items)
      EXPECT_EQ(1, writer.Add(item.name.c_str(), item.data.data(), (uint32_t)item.data.size()))
          << item.name << ": " << writer.Error();
    EXPECT_EQ(1, writer.Finish()) << writer.Error();
    return path;
  }

  std::string ReadAll(tqArchive& archive, const char* name) {
    tqArchiveHandle* h = archive.OpenEntry(name);
    EXPECT_NE(TQARC_INVALID_HANDLE, h) << name;
    if (h == TQARC_INVALID_HANDLE) return {};
    std::string out(h->size + 16, '\0');
    int n = h->size ? archive.ReadEntry(h, out.data(), (uint32_t)out.size()) : 0;
    EXPECT_EQ((int)h->size, n);
    out.resize(n < 0 ? 0 : (size_t)n);
    archive.CloseEntry(h);
    return out;
  }

  tqtest::TempDir dir_;
};

TEST_F(ArchiveTest, WritesAndReadsBackEveryEntrySize) {
  std::vector<Item> items;
  for (size_t size : {0, 1, 7, 8, 9, 13, 15, 16, 17, 64, 1000, 1048583})
    items.push_back({"Dir/Entry" + std::to_string(size) + ".bin", Pattern(size, (uint32_t)size)});
  for (bool encrypt : {false, true}) {
    SCOPED_TRACE(encrypt ? "enciphered" : "plain");
    std::string path = Make(items, encrypt, 16, encrypt ? "e.arc" : "p.arc");
    tqArchive archive;
    ASSERT_EQ(1, archive.Open(path.c_str()));
    EXPECT_STREQ(encrypt ? "e" : "p", archive.GetName());
    EXPECT_EQ(encrypt, archive.Encrypted());
    ASSERT_EQ(items.size(), archive.Entries().size());
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].name, archive.Entries()[i].name);  // stored as given
      EXPECT_EQ(tqCrc32(0, items[i].data.data(), items[i].data.size()),
                archive.Entries()[i].entry.third);
      EXPECT_EQ(items[i].data, ReadAll(archive, items[i].name.c_str()));
    }
  }
}

TEST_F(ArchiveTest, NamesAreLookedUpUpperCasedAndDoubleByteAware) {
  // 0x83 0x61 is one double-byte character whose trail byte is 'a'.
  std::string path = Make({{"Sub/File.txt", "one"}, {"\x83\x61.txt", "two"}}, false);
  tqArchive archive;
  ASSERT_EQ(1, archive.Open(path.c_str(), "named"));
  EXPECT_STREQ("named", archive.GetName());
  EXPECT_EQ(1, archive.Contains("sub/file.TXT"));
  EXPECT_EQ("one", ReadAll(archive, "SUB/FILE.TXT"));
  EXPECT_EQ("two", ReadAll(archive, "\x83\x61.TXT"));
  EXPECT_EQ(0, archive.Contains("\x83\x41.TXT"));  // the trail byte is not a letter
  EXPECT_EQ(0, archive.Contains("File.txt"));
  EXPECT_EQ(TQARC_INVALID_HANDLE, archive.OpenEntry("missing"));
  EXPECT_TRUE(tqtest::Diagnostics().boxes.empty());
}

TEST_F(ArchiveTest, EncipheredLayoutOnDisk) {
  std::string plain = Pattern(13, 5);
  std::string path = Make({{"A", plain}}, true);
  std::string raw = tqtest::ReadFile(path);
  ASSERT_GE(raw.size(), TQARC_HEADER_SIZE + 13u);
  const char* stored = raw.data() + TQARC_HEADER_SIZE;
  // First block enciphered with the key derived from the salt, the last 5
  // bytes plain.
  uint8_t key[16], block[8];
  tqArchive::DeriveKey(kSalt, nullptr, 0, key);
  tqProtect protect;
  protect.SetKey(key, 16);
  protect.Encrypt(block, plain.data(), 8);
  EXPECT_EQ(0, memcmp(block, stored, 8));
  EXPECT_EQ(0, memcmp(plain.data() + 8, stored + 8, 5));

  tqArchive archive;
  ASSERT_EQ(1, archive.Open(path.c_str()));
  tqArchiveHandle* h = archive.OpenEntry("a");
  char out[16] = {};
  EXPECT_EQ(13, archive.ReadEntry(h, out, 13));
  EXPECT_EQ(0, memcmp(out, plain.data(), 13));
  EXPECT_EQ(10, archive.SeekEntry(h, 10, 0));
  EXPECT_EQ(3, archive.ReadEntry(h, out, 8));
  EXPECT_EQ(0, memcmp(out, plain.data() + 10, 3));
  EXPECT_EQ(0, archive.ReadEntry(h, out, 8));  // nothing left
  EXPECT_TRUE(tqtest::Diagnostics().boxes.empty());
}

TEST_F(ArchiveTest, PartialBlockInsideALongEntry) {
  std::string plain = Pattern(64, 9);
  tqArchive archive;
  ASSERT_EQ(1, archive.Open(Make({{"E", plain}}, true).c_str()));
  tqArchiveHandle* h = archive.OpenEntry("E");
  char out[5];
  archive.SeekEntry(h, 3, 0);
  EXPECT_EQ(5, archive.ReadEntry(h, out, 5));
  EXPECT_EQ(0, memcmp(out, plain.data() + 3, 5));
  EXPECT_EQ(8u, h->position);
  EXPECT_EQ(h->start + 8, h->fileOffset);
}

TEST_F(ArchiveTest, DifferentSaltsAndSecretsGiveDifferentKeys) {
  std::string plain(64, 'x');
  std::string path = dir_ / "other.arc";
  uint8_t salt[16] = {};
  tqArchiveWriter writer;
  ASSERT_EQ(1, writer.Begin(path.c_str(), true, 4, salt, "game secret", 11));
  ASSERT_EQ(1, writer.Add("X", plain.data(), 64));
  ASSERT_EQ(1, writer.Finish());
  std::string first = Make({{"X", plain}}, true);
  EXPECT_NE(tqtest::ReadFile(first).substr(TQARC_HEADER_SIZE, 64),
            tqtest::ReadFile(path).substr(TQARC_HEADER_SIZE, 64));

  tqArchive right, wrong;
  ASSERT_EQ(1, right.Open(path.c_str(), nullptr, "game secret", 11));
  ASSERT_EQ(1, wrong.Open(path.c_str()));
  EXPECT_EQ(plain, ReadAll(right, "X"));
  EXPECT_NE(plain, ReadAll(wrong, "X"));
}

TEST_F(ArchiveTest, SeekClampsIntoTheEntry) {
  tqArchive archive;
  ASSERT_EQ(1, archive.Open(Make({{"H", Pattern(100, 1)}, {"Z", ""}}, false).c_str()));
  tqArchiveHandle* h = archive.OpenEntry("H");
  struct Case {
    int32_t offset;
    int origin;
    int result;
    uint32_t position;
  };
  const Case cases[] = {
      {100, 0, 100, 99}, {120, 0, 100, 99}, {40, 0, 40, 40}, {0, 0, 0, 0},
      {10, 1, 10, 10},   {-4, 1, -4, 6},    {-20, 1, -6, 0}, {200, 1, 100, 99},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, archive.SeekEntry(h, c.offset, c.origin)) << c.offset << "/" << c.origin;
    EXPECT_EQ(c.position, h->position);
    EXPECT_EQ(h->start + c.position, h->fileOffset);
  }
  EXPECT_TRUE(tqtest::Diagnostics().boxes.empty());
  EXPECT_EQ(0, archive.SeekEntry(h, 5, 2));
  ASSERT_EQ(1u, tqtest::Diagnostics().boxes.size());
  EXPECT_EQ("ファイルポインタ移動タイプが不正です", tqtest::Diagnostics().boxes[0]);
  EXPECT_EQ(99u, h->position);

  // An empty entry stays at 0 and reads nothing.
  tqArchiveHandle* z = archive.OpenEntry("Z");
  EXPECT_EQ(0, archive.SeekEntry(z, 5, 0));
  EXPECT_EQ(0u, z->position);
  char byte;
  EXPECT_EQ(0, archive.ReadEntry(z, &byte, 1));
}

TEST_F(ArchiveTest, HandleTableAndArgumentRules) {
  tqArchive archive;
  ASSERT_EQ(1, archive.Open(Make({{"A", "aaaa"}, {"B", "bbbb"}}, false, 2).c_str()));
  EXPECT_EQ(2u, archive.HandleCapacity());
  tqArchiveHandle* a = archive.OpenEntry("A");
  EXPECT_EQ(TQARC_INVALID_HANDLE, archive.OpenEntry("nothing"));  // no slot used
  tqArchiveHandle* b = archive.OpenEntry("B");
  ASSERT_NE(TQARC_INVALID_HANDLE, a);
  ASSERT_NE(TQARC_INVALID_HANDLE, b);
  EXPECT_EQ(TQARC_HANDLE_OPEN, a->marker);
  EXPECT_STREQ("A", a->name);
  EXPECT_TRUE(tqtest::Diagnostics().boxes.empty());
  EXPECT_EQ(TQARC_INVALID_HANDLE, archive.OpenEntry("A"));
  ASSERT_EQ(1u, tqtest::Diagnostics().boxes.size());
  EXPECT_EQ("同時にオープンできるファイル数を超えています (MAX:2) : A",
            tqtest::Diagnostics().boxes[0]);

  EXPECT_EQ(1, archive.CloseEntry(a));
  EXPECT_EQ(0u, a->marker);
  EXPECT_EQ(0, archive.CloseEntry(a));
  char out[4];
  EXPECT_EQ(0, archive.ReadEntry(a, out, 4));  // a freed handle is invalid
  EXPECT_EQ(0, archive.ReadEntry(nullptr, out, 4));
  EXPECT_EQ(0, archive.ReadEntry(TQARC_INVALID_HANDLE, out, 4));
  tqArchiveHandle foreign = *b;  // a copy outside the table is not a handle
  EXPECT_EQ(0, archive.ReadEntry(&foreign, out, 4));
  EXPECT_EQ(0, archive.ReadEntry(b, out, 0));
  tqtest::Diagnostics().Clear();
  EXPECT_EQ(0, archive.ReadEntry(b, nullptr, 4));
  ASSERT_EQ(1u, tqtest::Diagnostics().boxes.size());
  EXPECT_EQ("読み込み先バッファが指定されていません", tqtest::Diagnostics().boxes[0]);
  EXPECT_NE(TQARC_INVALID_HANDLE, archive.OpenEntry("a"));  // the freed slot again

  archive.Close();
  EXPECT_FALSE(archive.IsOpen());
  EXPECT_EQ(TQARC_INVALID_HANDLE, archive.OpenEntry("A"));
  EXPECT_EQ(0, archive.Contains("A"));
}

TEST_F(ArchiveTest, RandomSeeksAndReadsMatchThePlainBytes) {
  std::mt19937 random(20240611);
  std::vector<Item> items;
  for (int i = 0; i < 8; ++i) {
    size_t size = 1 + random() % (i < 4 ? 64 : 5000);
    items.push_back({"R" + std::to_string(i), Pattern(size, (uint32_t)i * 77)});
  }
  tqArchive archive;
  ASSERT_EQ(1, archive.Open(Make(items, true).c_str()));
  std::vector<char> out(6000);
  for (int round = 0; round < 1000; ++round) {
    const Item& item = items[random() % items.size()];
    tqBigFile file(&archive);
    ASSERT_EQ(1, file.Open(item.name.c_str(), TQFILE_READ | TQFILE_EXISTING));
    uint32_t size = (uint32_t)item.data.size();
    uint32_t position = random() % size;
    uint32_t count = random() % (size + 10);
    ASSERT_EQ((int)position, file.Seek(position));
    uint32_t expected = count < size - position ? count : size - position;
    ASSERT_EQ((int)expected, file.Read(out.data(), count))
        << item.name << " at " << position << " count " << count;
    ASSERT_EQ(0, memcmp(out.data(), item.data.data() + position, expected))
        << item.name << " at " << position << " count " << count;
    ASSERT_EQ((int)(position + expected), file.GetPosition());
  }
  EXPECT_TRUE(tqtest::Diagnostics().boxes.empty());
}

TEST_F(ArchiveTest, ThreadsReadingOneArchiveAreSerialised) {
  std::vector<Item> items = {{"T0", Pattern(200000, 1)}, {"T1", Pattern(150001, 2)}};
  tqArchive archive;
  ASSERT_EQ(1, archive.Open(Make(items, true).c_str()));
  bool ok[2] = {false, false};
  auto reader = [&](int which) {
    bool good = true;
    for (int pass = 0; pass < 20 && good; ++pass) {
      tqBigFile file(&archive);
      if (!file.Open(items[which].name.c_str(), TQFILE_READ)) return;
      std::string out;
      char chunk[4099];
      int n;
      while ((n = file.Read(chunk, sizeof chunk)) > 0) out.append(chunk, n);
      good = out == items[which].data;
    }
    ok[which] = good;
  };
  std::thread first(reader, 0), second(reader, 1);
  first.join();
  second.join();
  EXPECT_TRUE(ok[0]);
  EXPECT_TRUE(ok[1]);
}

TEST_F(ArchiveTest, BigFileSlots) {
  tqArchive archive;
  ASSERT_EQ(1, archive.Open(Make({{"One", "0123456789"}, {"Two", "ab"}}, false, 1).c_str()));
  char out[16] = {};

  tqBigFile none;
  EXPECT_EQ(0, none.Open("One", TQFILE_READ));
  EXPECT_EQ(-1, none.Read(out, 1));
  EXPECT_EQ(0, none.GetPosition());
  EXPECT_EQ(0, none.Seek(3));
  EXPECT_EQ(-1, none.GetSize());
  EXPECT_EQ(nullptr, none.GetName(out));
  EXPECT_EQ(0, none.Exists("One"));
  EXPECT_EQ(0, none.Close());

  tqBigFile file(&archive);
  EXPECT_EQ(-1, file.Read(out, 1));
  ASSERT_EQ(2u, tqtest::Diagnostics().lines.size());
  EXPECT_EQ("tqBigFile : 統合ファイルがオープンされていません", tqtest::Diagnostics().lines[0]);
  EXPECT_EQ("tqBigFile : ファイルハンドルが無効です", tqtest::Diagnostics().lines[1]);
  EXPECT_EQ(-1, file.GetSize());
  EXPECT_EQ(0, file.Open("One", TQFILE_WRITE));
  EXPECT_EQ(0, file.Open("absent", TQFILE_READ));
  ASSERT_EQ(1, file.Open("one", TQFILE_READ | TQFILE_EXISTING));
  EXPECT_EQ(10, file.GetSize());
  EXPECT_STREQ("one", file.GetName(out));
  EXPECT_STREQ("one", out);
  EXPECT_EQ(-1, file.Write("x", 1));
  EXPECT_EQ(0xFFFFFFFFu, file.GetFileSizeOf("One"));
  EXPECT_EQ(TQ_INVALID_HANDLE, file.GetHandle());
  EXPECT_EQ(1, file.Exists("TWO"));
  EXPECT_EQ(0, file.Exists("three"));
  EXPECT_EQ(0x80u, file.GetAttribute("anything"));
  EXPECT_EQ(0, file.SetAttribute("One", 0));
  EXPECT_EQ(0, file.Delete("One", 1));
  EXPECT_EQ(4, file.Seek(4));
  EXPECT_EQ(3, file.Read(out, 3));
  EXPECT_EQ(0, memcmp(out, "456", 3));
  EXPECT_EQ(7, file.GetPosition());
  EXPECT_EQ(10, file.Seek(10));
  EXPECT_EQ(9, file.GetPosition());

  // The archive allows one open entry: opening another on the same object
  // must give the first handle back before taking a new one.
  ASSERT_EQ(1, file.Open("Two", TQFILE_READ));
  EXPECT_EQ(2, file.GetSize());
  EXPECT_TRUE(tqtest::Diagnostics().boxes.empty());
  {
    tqBigFile other(&archive);
    EXPECT_EQ(0, other.Open("One", TQFILE_READ));  // the table is full
  }
  EXPECT_EQ(1, file.Close());
  EXPECT_EQ(0, file.Close());
  tqBigFile again(&archive);
  EXPECT_EQ(1, again.Open("One", TQFILE_READ));
}

// ---------------------------------------------------------------- hostile files

void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = (char)(v >> (8 * i));
}
void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = (char)v;
  s[at + 1] = (char)(v >> 8);
}

struct RawEntry {
  uint32_t offset, size;
  std::string name;
};

// Lays out a header and an index by hand: 32 bytes of data after the header,
// then the index; the header's CRC always matches the index given.
std::string Raw(const std::vector<RawEntry>& entries, uint32_t capacity = 4) {
  std::string index;
  for (const RawEntry& e : entries) {
    std::string rec(14, '\0');
    Put32(rec, 0, e.offset);
    Put32(rec, 4, e.size);
    Put16(rec, 12, (uint16_t)e.name.size());
    index += rec + e.name;
  }
  std::string file(TQARC_HEADER_SIZE + 32, '\0');
  memcpy(file.data(), "TQAR", 4);
  Put16(file, 4, 1);
  Put32(file, 8, (uint32_t)entries.size());
  Put32(file, 12, capacity);
  Put32(file, 16, (uint32_t)file.size());
  Put32(file, 20, (uint32_t)index.size());
  Put32(file, 24, tqCrc32(0, index.data(), index.size()));
  return file + index;
}

void FixCrc(std::string& file) {
  uint32_t offset = (uint8_t)file[16] | (uint8_t)file[17] << 8 | (uint8_t)file[18] << 16;
  if (offset > file.size()) return;
  Put32(file, 24, tqCrc32(0, file.data() + offset, file.size() - offset));
}

TEST_F(ArchiveTest, HostileArchivesAreRefusedWhenOpened) {
  const uint32_t data = TQARC_HEADER_SIZE;
  std::string good = Raw({{data, 16, "A"}, {data + 16, 16, "B/C"}});
  {
    std::string path = dir_ / "good.arc";
    ASSERT_TRUE(tqtest::WriteFile(path, good));
    tqArchive archive;
    ASSERT_EQ(1, archive.Open(path.c_str()));
  }
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"empty file", ""},
      {"short header", good.substr(0, 40)},
      {"signature", "XQAR" + good.substr(4)},
      {"data past the index", Raw({{data, 33, "A"}})},
      {"data inside the header", Raw({{8, 4, "A"}})},
      {"offset wraps", Raw({{0xFFFFFFF0u, 0x20, "A"}})},
      {"empty name", Raw({{data, 1, ""}})},
      {"parent level", Raw({{data, 1, "../A"}})},
      {"dot level", Raw({{data, 1, "A/./B"}})},
      {"empty level", Raw({{data, 1, "A//B"}})},
      {"leading slash", Raw({{data, 1, "/A"}})},
      {"backslash", Raw({{data, 1, "A\\B"}})},
      {"drive colon", Raw({{data, 1, "C:A"}})},
      {"control byte", Raw({{data, 1, "A\nB"}})},
      {"NUL in name", Raw({{data, 1, std::string("A\0B", 3)}})},
      {"split double-byte", Raw({{data, 1, "A\x81"}})},
      {"repeated name", Raw({{data, 1, "Name"}, {data + 1, 1, "NAME"}})},
      {"no handles", Raw({{data, 1, "A"}}, 0)},
      {"too many handles", Raw({{data, 1, "A"}}, 5000)},
  };
  auto mutated = [&](const char* what, size_t at, uint32_t value, bool fixCrc, int width = 4) {
    std::string bytes = good;
    if (width == 4)
      Put32(bytes, at, value);
    else
      Put16(bytes, at, (uint16_t)value);
    if (fixCrc) FixCrc(bytes);
    cases.push_back({what, bytes});
  };
  mutated("version", 4, 2, false, 2);
  mutated("flags", 6, 2, false, 2);
  mutated("entry count", 8, 3, false);
  mutated("huge entry count", 8, 0xFFFFFFFFu, false);
  mutated("index offset past the end", 16, (uint32_t)good.size() + 1, false);
  mutated("index offset in the header", 16, 20, false);
  mutated("index size past the end", 20, 1000, false);
  mutated("index size wraps", 20, 0xFFFFFFF0u, false);
  mutated("checksum", 24, 0x12345678, false);
  mutated("reserved", 28, 1, false);
  mutated("name length past the index", data + 32 + 12, 200, true, 2);
  {
    std::string bytes = good + "junk";
    Put32(bytes, 20, (uint32_t)(bytes.size() - (data + 32)));
    FixCrc(bytes);
    cases.push_back({"index longer than its records", bytes});
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    std::string path = dir_ / ("bad" + std::to_string(i) + ".arc");
    ASSERT_TRUE(tqtest::WriteFile(path, cases[i].bytes));
    tqtest::Diagnostics().Clear();
    tqArchive archive;
    EXPECT_EQ(0, archive.Open(path.c_str()));
    EXPECT_FALSE(archive.IsOpen());
    EXPECT_EQ(TQARC_INVALID_HANDLE, archive.OpenEntry("A"));
    ASSERT_EQ(1u, tqtest::Diagnostics().lines.size());
    EXPECT_NE(std::string::npos, tqtest::Diagnostics().lines[0].find(path));
    EXPECT_TRUE(tqtest::Diagnostics().boxes.empty());
  }
  tqArchive missing;
  EXPECT_EQ(0, missing.Open((dir_ / "absent.arc").c_str()));
}

TEST_F(ArchiveTest, WriterRefusesBadNames) {
  tqArchiveWriter writer;
  std::string path = dir_ / "w.arc";
  ASSERT_EQ(1, writer.Begin(path.c_str(), false));
  EXPECT_EQ(1, writer.Add("Data/One.txt", "1", 1));
  for (const char* bad : {"", "data/one.TXT", "../x", "a//b", "a\\b", "a/", "c:x"})
    EXPECT_EQ(0, writer.Add(bad, "1", 1)) << bad;
  EXPECT_EQ(1, writer.Finish());
  tqArchive archive;
  ASSERT_EQ(1, archive.Open(path.c_str()));
  EXPECT_EQ(1u, archive.Entries().size());
  EXPECT_EQ(0, writer.Add("late", "1", 1));  // nothing begun
}

}  // namespace
