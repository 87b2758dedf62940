// Paths, Shift_JIS text and numbers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/tqTestSupport.h"
#include "util/tqUtil.h"

namespace {

// 表 is 95 5C in Shift_JIS: its trail byte is a backslash.
const std::string kHyo = "表";

std::string Join(std::initializer_list<const char*> parts) {
  char out[1024];
  const char* p[4] = {};
  int n = 0;
  for (const char* part : parts) p[n++] = part;
  int len = 0;
  switch (n) {
    case 1: len = tqPathJoin(out, 1, p[0]); break;
    case 2: len = tqPathJoin(out, 2, p[0], p[1]); break;
    case 3: len = tqPathJoin(out, 3, p[0], p[1], p[2]); break;
    case 4: len = tqPathJoin(out, 4, p[0], p[1], p[2], p[3]); break;
  }
  EXPECT_EQ((size_t)len, strlen(out));
  return out;
}

TEST(PathJoin, Table) {
  EXPECT_EQ(kHyo, "\x95\x5C");
  EXPECT_EQ(Join({"C:\\Games\\", "data"}), "C:\\Games\\data");
  EXPECT_EQ(Join({"C:\\", "data"}), "C:\\data");
  EXPECT_EQ(Join({"C:\\", "", "file.txt"}), "C:\\file.txt");
  EXPECT_EQ(Join({"", "a"}), "\\a");
  EXPECT_EQ(Join({"\\\\", "server"}), "\\server");
  EXPECT_EQ(Join({"a\\\\", "b"}), "a\\\\b");  // only one trailing backslash goes
  EXPECT_EQ(Join({"a", "b\\", "c"}), "a\\b\\c");
  EXPECT_EQ(Join({"a/", "b"}), "a/\\b");      // "/" is not a separator here
  EXPECT_EQ(Join({"C:\\Games"}), "C:\\Games");
  EXPECT_EQ(Join({("C:\\" + kHyo).c_str(), (kHyo + ".txt").c_str()}),
            "C:\\" + kHyo + "\\" + kHyo + ".txt");
  char out[16] = "junk";
  EXPECT_EQ(tqPathJoin(out, 0), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(tqPathJoin(out, -1), 0);
  EXPECT_EQ(tqPathJoin(nullptr, 1, "a"), 0);
}

TEST(PathParts, ExtensionsNamesAndParents) {
  char path[260];
  struct {
    const char* in;
    const char* ext;
    const char* changed;
    bool has;
  } rows[] = {
      {"a\\b.txt", "txt", "a\\b.png", true},
      {"a.dir\\b", "", "a.dir\\b.png", false},
      {"a\\b.tar.gz", "gz", "a\\b.tar.png", true},
      {"noext", "", "noext.png", false},
      {"x/y.z", "z", "x/y.png", true},
      {"dot.", "", "dot.png", true},
  };
  for (const auto& row : rows) {
    EXPECT_STREQ(tqExtensionOf(row.in), row.ext) << row.in;
    EXPECT_EQ(tqHasExtension(row.in), row.has) << row.in;
    strcpy(path, row.in);
    tqChangeExtension(path, "png");
    EXPECT_STREQ(path, row.changed) << row.in;
  }
  strcpy(path, "a\\b.txt");
  tqChangeExtension(path, nullptr);
  EXPECT_STREQ(path, "a\\b");

  char out[260];
  tqFileNameOf("C:\\dir\\file.txt", out);
  EXPECT_STREQ(out, "file.txt");
  tqFileNameOf("dir/file.txt", out);
  EXPECT_STREQ(out, "file.txt");
  tqFileNameOf("\\file.txt", out);
  EXPECT_STREQ(out, "\\file.txt");
  tqFileNameOf("plain", out);
  EXPECT_STREQ(out, "plain");
  tqFileNameOf(("C:\\" + kHyo + "\\" + kHyo).c_str(), out);
  EXPECT_EQ(std::string(out), kHyo);

  EXPECT_TRUE(tqParentFolderOf("C:\\dir\\file.txt", out));
  EXPECT_STREQ(out, "C:\\dir");
  EXPECT_FALSE(tqParentFolderOf("\\file", out));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(tqParentFolderOf("file", out));
  EXPECT_TRUE(tqParentFolderOf(("C:\\" + kHyo + "\\x").c_str(), out));
  EXPECT_EQ(std::string(out), "C:\\" + kHyo);
  // The trail byte of 表 is not a separator.
  EXPECT_FALSE(tqParentFolderOf(kHyo.c_str(), out));
  EXPECT_TRUE(tqParentFolderOf(("a\\" + kHyo + kHyo).c_str(), out));
  EXPECT_STREQ(out, "a");
}

TEST(Text, SearchReplaceAndCharacters) {
  EXPECT_EQ(tqStrIndex("<path>C:\\x", "</path>"), -1);
  EXPECT_EQ(tqStrIndex("abcabc", "ca"), 2);
  EXPECT_EQ(tqStrIndex("abc", ""), 0);
  EXPECT_EQ(tqStrIndex("", "a"), -1);
  EXPECT_EQ(tqStrIndex(nullptr, "a"), -1);
  EXPECT_EQ(tqStrIndex("abc", nullptr), -1);
  EXPECT_EQ(tqStrIndex("aBc", "b"), -1);

  char out[64];
  EXPECT_EQ(tqReplaceAll("a\\nb\\n", "\\n", "\r\n", out), 6);
  EXPECT_STREQ(out, "a\r\nb\r\n");
  EXPECT_EQ(tqReplaceAll("aaa", "a", "aa", out), 6);  // no rescanning
  EXPECT_STREQ(out, "aaaaaa");
  EXPECT_EQ(tqReplaceAll("xyz", "q", "r", out), 3);
  EXPECT_STREQ(out, "xyz");

  std::string s = "ab" + kHyo + "c";
  EXPECT_EQ(tqFindChar(s.c_str(), 'c'), 4);
  EXPECT_EQ(tqFindChar(s.c_str(), 0x5C), 3);  // byte-wise below 256
  EXPECT_EQ(tqFindChar(s.c_str(), 0x955C), 2);
  EXPECT_EQ(tqFindChar(s.c_str(), 0x955D), -1);
  EXPECT_EQ(tqFindChar(nullptr, 'a'), -1);

  EXPECT_EQ(tqCharCodeAt(kHyo.c_str()), 0x955Cu);
  EXPECT_EQ(tqCharCodeAt("A"), (unsigned)'A');
  EXPECT_EQ(tqCharCodeAt(nullptr), 0u);
  EXPECT_EQ(tqCharCodeAt("\x95"), 0x95u);  // lone lead byte at the end
  EXPECT_TRUE(tqIsDoubleByte(s.c_str(), 2));
  EXPECT_FALSE(tqIsDoubleByte(s.c_str(), 0));
  EXPECT_FALSE(tqIsDoubleByte("\x81\x20", 0));  // 0x20 is no trail byte
  EXPECT_TRUE(tqIsDoubleByte("\xE0\xFC", 0));
  EXPECT_FALSE(tqIsDoubleByte("\xF0\x40", 0));
}

TEST(Text, CaseMappingSkipsDoubleByteCharacters) {
  // ｱ is single-byte katakana 0xB1; Ａ is 82 60 whose trail byte is 0x60 ('`').
  std::string s = "AbC\\" + kHyo + "\x82\x60" "xY\xB1";
  std::string lower = s, upper = s;
  EXPECT_EQ(tqToLower(lower.data()), (int)s.size());
  EXPECT_EQ(lower, "abc\\" + kHyo + "\x82\x60" "xy\xB1");
  tqToUpper(upper.data());
  EXPECT_EQ(upper, "ABC\\" + kHyo + "\x82\x60" "XY\xB1");
  // A lead byte followed by a letter: 83 41 (ア) must keep its trail 'A'.
  std::string a = "\x83\x41";
  tqToLower(a.data());
  EXPECT_EQ(a, "\x83\x41");
  EXPECT_EQ(tqToLower(nullptr), 0);
}

TEST(Text, NarrowFromWide) {
  char out[32];
  EXPECT_EQ(tqNarrowFromWide(L"表a", out, sizeof out), 4);
  EXPECT_EQ(std::string(out), kHyo + "a");
  EXPECT_EQ(tqNarrowFromWide(L"表表表", out, 4), 0);  // too small
}

TEST(Text, ReadLine) {
  const char* text = "one\r\ntwo\nthree\rstill\n\nlast";
  char out[64];
  size_t pos = 0;
  struct {
    int consumed;
    const char* line;
  } expected[] = {{5, "one"}, {4, "two"}, {12, "three\rstill"}, {1, ""}, {4, "last"}};
  for (const auto& e : expected) {
    int n = tqReadLine(text, pos, out);
    EXPECT_EQ(n, e.consumed);
    EXPECT_STREQ(out, e.line);
    pos += (size_t)n;
  }
  EXPECT_EQ(tqReadLine(text, pos, out), 0);
  EXPECT_STREQ(out, "");
  char small[4];
  EXPECT_EQ(tqReadLineN("abcdefg\nh", 0, small, sizeof small), 8);
  EXPECT_STREQ(small, "abc");
}

TEST(Numbers, ValueTable) {
  struct {
    const char* text;
    int value;
  } rows[] = {
      {"12", 12},        {"-12", -12},  {"0x1F", 31},  {"0X1f", 31},   {"12.5", 0},
      {"12abc", 12},     {" 12", 0},    {"+7", 7},     {"abc", 0},     {"", 0},
      {"0x10", 16},      {"12.", 0},    {"0x1.5", 1},  {"-0x10", -16}, {"4294967297", 1},
      {"0x", 0},         {"-", 0},      {"007", 7},
  };
  for (const auto& row : rows) EXPECT_EQ(tqNumber(row.text), row.value) << row.text;
  EXPECT_EQ(tqNumber(nullptr), 0);

  int value = -1, end = -1;
  EXPECT_TRUE(tqNumberEnd("123, 4", &value, &end));
  EXPECT_EQ(value, 123);
  EXPECT_EQ(end, 3);
  EXPECT_TRUE(tqNumberEnd("0x1Fz", &value, &end));
  EXPECT_EQ(value, 31);
  EXPECT_EQ(end, 4);
  EXPECT_FALSE(tqNumberEnd("12.5", &value, &end));
  EXPECT_FALSE(tqNumberEnd(" 1", &value, &end));
  EXPECT_FALSE(tqNumberEnd(nullptr, &value, &end));
}

TEST(Numbers, FileVersionTable) {
  struct {
    const char* text;
    uint16_t first, second, third, fourth;
  } rows[] = {
      {"1, 2, 3, 4", 1, 2, 3, 4}, {"1.2.3.4", 1, 2, 3, 4}, {"1.2.3", 1, 2, 0, 0},
      {"5", 0, 0, 0, 0},          {"2, 0x10, 3, 9", 2, 16, 3, 9},
      {"1.2, 3, 4, 5", 0, 3, 4, 5},  // "1.2" is one piece: a decimal before "." reads 0
      {"", 0, 0, 0, 0},
  };
  for (const auto& row : rows) {
    tqVersionInfo info;
    memset(&info, 0xEE, sizeof info);
    tqParseFileVersion(row.text, &info);
    EXPECT_EQ(info.version[3], row.first) << row.text;
    EXPECT_EQ(info.version[2], row.second) << row.text;
    EXPECT_EQ(info.version[1], row.third) << row.text;
    EXPECT_EQ(info.version[0], row.fourth) << row.text;
  }
  tqVersionInfo a{}, b{};
  tqParseFileVersion("1.2.3.4", &a);
  tqParseFileVersion("1.10.0.0", &b);
  EXPECT_LT(a.Version64(), b.Version64());
  uint64_t raw;
  memcpy(&raw, a.version, 8);
  EXPECT_EQ(raw, a.Version64());
}

TEST(Memory, CompareCopyZero) {
  unsigned char a[16], b[16];
  for (int i = 0; i < 16; ++i) a[i] = (unsigned char)(i * 17);
  tqMemCopy(b, a, 16);
  EXPECT_EQ(tqMemCompare(a, b, 16), 0);
  b[5] = 0xFF;
  EXPECT_EQ(tqMemCompare(a, b, 16), (int)a[5] - 0xFF);
  EXPECT_GT(tqMemCompare(b, a, 16), 0);
  tqMemZero(b, 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(b[i], 0);
  EXPECT_EQ(b[12], a[12]);
  tqMemCopy(b, nullptr, 4);  // no-op
  tqMemZero(b, 0);
  EXPECT_EQ(tqMemCompare(a, b, 0), 0);
}

}  // namespace
