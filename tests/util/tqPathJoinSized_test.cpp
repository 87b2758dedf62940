// The sized path join: the join's own rules, and false where it would not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "util/tqUtil.h"

namespace {

TEST(PathJoinSized, FitsOrRefuses) {
  struct Case {
    std::string a, b;
    size_t size;
    std::string expected;  // empty: refused
  };
  const std::string a250(250, 'a');
  const Case cases[] = {
      {"C:\\Games", "a.txt", 260, "C:\\Games\\a.txt"},
      {"C:\\Games\\", "a.txt", 260, "C:\\Games\\a.txt"},  // the trailing separator is not doubled
      {"C:\\", "a.txt", 260, "C:\\a.txt"},
      {"C:\\Games", "a.txt", 15, "C:\\Games\\a.txt"},   // exactly 14 bytes and the NUL
      {"C:\\Games", "a.txt", 14, ""},
      {a250, "123456789", 260, ""},               // 260 bytes with the NUL
      {a250, "12345678", 260, a250 + "\\12345678"},
  };
  for (const Case& c : cases) {
    char out[300];
    memset(out, 'z', sizeof out);
    bool fits = tqPathJoinSized(out, c.size, c.a.c_str(), c.b.c_str());
    EXPECT_EQ(fits, !c.expected.empty()) << c.a << " + " << c.b;
    EXPECT_EQ(std::string(out), c.expected) << c.a << " + " << c.b;
  }
}

}  // namespace
