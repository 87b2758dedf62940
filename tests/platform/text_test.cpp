// Text conversions and error numbers of the platform layer. Narrow literals
// here are Shift_JIS bytes (the build's execution character set).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/tqPlatform.h"

namespace {

// 表示 in Shift_JIS, UTF-8 and UTF-16.
const char kSjis[] = "\x95\x5C\x8E\xA6";
const char kUtf8[] = "\xE8\xA1\xA8\xE7\xA4\xBA";
const uint16_t kUtf16[] = {0x8868, 0x793A};

TEST(Text, LiteralsAreShiftJis) { EXPECT_STREQ("表示", kSjis); }

TEST(Text, NarrowAndWide) {
  wchar_t wide[8];
  EXPECT_EQ(tqp::WideFromNarrow(kSjis, wide, 8), 3);
  EXPECT_EQ((uint32_t)wide[0], 0x8868u);
  EXPECT_EQ((uint32_t)wide[1], 0x793Au);
  EXPECT_EQ((uint32_t)wide[2], 0u);

  char narrow[8];
  EXPECT_EQ(tqp::NarrowFromWide(L"表示a", narrow, sizeof narrow), 6);
  EXPECT_STREQ(narrow, "表示a");
  // Too small: nothing is written but an empty text.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(tqp::NarrowFromWide(L"表示", small, sizeof small), 0);
  EXPECT_EQ(small[0], 0);
  wchar_t smallWide[2] = {L'x', L'x'};
  EXPECT_EQ(tqp::WideFromNarrow("abc", smallWide, 2), 0);
  EXPECT_EQ(smallWide[0], 0);
  EXPECT_EQ(tqp::NarrowFromWide(nullptr, narrow, sizeof narrow), 0);
  EXPECT_EQ(tqp::WideFromNarrow(nullptr, wide, 8), 0);
}

TEST(Text, Utf8AndUtf16) {
  std::string out;
  ASSERT_TRUE(tqp::Utf8FromNarrow(std::string(kSjis) + "/a", out));
  EXPECT_EQ(out, std::string(kUtf8) + "/a");
  ASSERT_TRUE(tqp::NarrowFromUtf8(std::string(kUtf8) + "/a", out));
  EXPECT_EQ(out, std::string(kSjis) + "/a");
  ASSERT_TRUE(tqp::NarrowFromUtf16(kUtf16, 2, out));
  EXPECT_EQ(out, kSjis);
  ASSERT_TRUE(tqp::Utf8FromNarrow("", out));
  EXPECT_EQ(out, "");

  // Characters without a Shift_JIS form and broken sequences fail.
  const char* noForm[] = {"\xED\x95\x9C", "caf\xC3\xA9", "\xF0\x9F\x98\x80"};
  for (const char* utf8 : noForm) EXPECT_FALSE(tqp::NarrowFromUtf8(utf8, out)) << utf8;
  EXPECT_FALSE(tqp::NarrowFromUtf8("\xFF\xFE", out));
  EXPECT_FALSE(tqp::Utf8FromNarrow("ab\x95", out));  // lead byte without its trail byte
  const uint16_t hangul[] = {0xD55C};
  EXPECT_FALSE(tqp::NarrowFromUtf16(hangul, 1, out));
}

TEST(Errors, LastErrorAndTexts) {
  tqp::SetLastError(tqp::ERR_SHARING_VIOLATION);
  EXPECT_EQ(tqp::LastError(), tqp::ERR_SHARING_VIOLATION);
  tqp::SetLastError(0);
  EXPECT_EQ(tqp::LastError(), 0u);
  for (uint32_t code : {tqp::ERR_FILE_NOT_FOUND, tqp::ERR_ACCESS_DENIED, tqp::ERR_DISK_FULL}) {
    std::string text = tqp::ErrorText(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), '\n') << code;
    EXPECT_NE(text.back(), '\r') << code;
  }
  EXPECT_NE(tqp::ErrorText(tqp::ERR_FILE_NOT_FOUND), tqp::ErrorText(tqp::ERR_ACCESS_DENIED));
}

}  // namespace
