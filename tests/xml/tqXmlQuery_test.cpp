// Path queries, updates and child iteration on the document model.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/xml/xmlTestUtil.h"

using xmltest::Doc;
using xmltest::Dump;
using xmltest::Parse;

namespace {

const std::string kUpdateInfo =
    Doc("<document>\r\n"
        "  <brand>maker</brand>\r\n"
        "  <version>\r\n    <major>1</major>\r\n    <minor>2</minor>\r\n  </version>\r\n"
        "  <language>\r\n"
        "    <lang00>\r\n      <code>1041</code>\r\n      <prifix>jp</prifix>\r\n"
        "      <lang>日本語</lang>\r\n    </lang00>\r\n"
        "  </language>\r\n"
        "</document>\r\n");

std::vector<std::string> Children(tqXml& xml, const std::vector<std::string>& names, int* result) {
  tqXmlChildIterator it;
  *result = xml.GetChildrenPath(&it, names);
  std::vector<std::string> out;
  std::string name;
  while (xml.NextChild(&it, name)) out.push_back(name);
  return out;
}

TEST(XmlQuery, UpdateDescription) {
  tqXml xml;
  ASSERT_EQ(Parse(xml, kUpdateInfo), 0);
  char text[64];
  EXPECT_EQ(xml.GetStr(text, sizeof text, "", 2, "version", "major"), 1);
  EXPECT_STREQ(text, "1");
  EXPECT_EQ(xml.GetStr(text, sizeof text, "", 1, "brand"), 1);
  EXPECT_STREQ(text, "maker");
  EXPECT_EQ(xml.GetStr(text, sizeof text, "", 3, "language", "lang00", "lang"), 1);
  EXPECT_STREQ(text, "日本語");
  EXPECT_EQ(xml.GetInt(0xffff, 3, "language", "lang00", "code"), 1041);
  EXPECT_EQ(xml.GetInt(0xffff, 3, "language", "lang05", "code"), 0xffff);
  EXPECT_EQ(xml.GetStr(text, sizeof text, "jp", 2, "language", "default"), 0);
  EXPECT_STREQ(text, "jp");
  // The search starts below the root: "document" itself is not found.
  EXPECT_EQ(xml.GetStr(text, sizeof text, "none", 1, "document"), 0);
  EXPECT_STREQ(text, "none");
  // An element with children yields its own text, the folded whitespace.
  EXPECT_EQ(xml.GetStr(text, sizeof text, "", 1, "version"), 1);
  EXPECT_EQ(std::string(text), std::string(13, ' '));
  EXPECT_EQ(xml.GetIntPath(0, {"version", "minor"}), 2);
  EXPECT_EQ(xml.GetStrPath(text, sizeof text, "", {"language", "lang00", "prifix"}), 1);
  EXPECT_STREQ(text, "jp");
  EXPECT_EQ(xml.GetStr(text, sizeof text, "d", 2, "version", ""), 0);
}

TEST(XmlQuery, Numbers) {
  tqXml xml;
  ASSERT_EQ(Parse(xml, Doc("<document><VERSION><ini>1.5</ini></VERSION><a> 1</a><b>0x1F</b>"
                           "<c>-12</c><d>12abc</d><e></e></document>")),
            0);
  EXPECT_EQ(xml.GetInt(10, 2, "VERSION", "ini"), 0);
  EXPECT_EQ(xml.GetInt(10, 2, "VERSION", "missing"), 10);
  const struct {
    const char* name;
    int value;
  } cases[] = {{"a", 0}, {"b", 31}, {"c", -12}, {"d", 12}, {"e", 0}, {"f", 99}};
  for (const auto& c : cases) EXPECT_EQ(xml.GetInt(99, 1, c.name), c.value) << c.name;
}

TEST(XmlQuery, StartingPointOfReads) {
  tqXml xml;
  // Another root: its name is the first name of the path.
  ASSERT_EQ(Parse(xml, Doc("<config><a>5</a></config>")), 0);
  EXPECT_EQ(xml.GetInt(0, 2, "config", "a"), 5);
  EXPECT_EQ(xml.GetInt(0, 1, "a"), 0);
  // A lone "document" without children: nothing is found.
  ASSERT_EQ(Parse(xml, Doc("<document>text</document>")), 0);
  EXPECT_EQ(xml.GetInt(-1, 1, "document"), -1);
}

// Reads take the first match in sequence order that holds the rest of the
// path (the last such element of the file); updates take the first match
// and never look further.
TEST(XmlQuery, BacktrackingReadsAndNonBacktrackingUpdates) {
  tqXml xml;
  ASSERT_EQ(Parse(xml, Doc("<document><x><y>1</y></x><x><z>2</z></x></document>")), 0);
  EXPECT_EQ(xml.GetInt(0, 2, "x", "y"), 1);
  EXPECT_EQ(xml.GetInt(0, 2, "x", "z"), 2);
  EXPECT_EQ(xml.SetInt(5, 2, "x", "y"), 1);
  EXPECT_EQ(Dump(xml.Top(), false),
            "document\n"
            "  x\n"
            "    z {2}\n"
            "    y {5}\n"
            "  x\n"
            "    y {1}\n");
  EXPECT_EQ(xml.GetInt(0, 2, "x", "y"), 5);
}

TEST(XmlQuery, UpdatesCreateThePath) {
  tqXml xml;
  ASSERT_EQ(xml.Create(), 1);
  EXPECT_EQ(xml.SetStr("x", 2, "A", "B"), 1);
  EXPECT_EQ(xml.SetStr("y", 2, "A", "C"), 1);
  EXPECT_EQ(xml.SetIntPath(-7, {"A", "B"}), 1);  // replaces B's value
  EXPECT_EQ(xml.SetStrPath("z", {"D"}), 1);
  EXPECT_EQ(Dump(xml.Top(), true),
            "document {}\n"
            "  A {}\n"
            "    B {-7}\n"
            "    C {y}\n"
            "  D {z}\n");
  EXPECT_EQ(xml.GetInt(0, 2, "A", "B"), -7);

  // Values of elements with children and their attributes stay.
  ASSERT_EQ(Parse(xml, Doc("<document><s k='v'>t<a>1</a></s></document>")), 0);
  EXPECT_EQ(xml.SetStr("new", 1, "s"), 1);
  EXPECT_EQ(Dump(xml.Top(), true), "document {}\n  s k=[v] {new}\n    a {1}\n");

  // A document whose root has another name gets a second top-level element.
  ASSERT_EQ(Parse(xml, Doc("<config><a>1</a></config>")), 0);
  EXPECT_EQ(xml.SetInt(2, 1, "a"), 1);
  EXPECT_EQ(Dump(xml.Top(), true), "config {}\n  a {1}\ndocument {}\n  a {2}\n");

  // A failed load still has a model (empty), so updates work on it.
  EXPECT_EQ(Parse(xml, "not xml"), 4);
  EXPECT_EQ(xml.SetInt(3, 1, "n"), 1);
  EXPECT_EQ(Dump(xml.Top(), true), "document {}\n  n {3}\n");
}

TEST(XmlQuery, WithoutModel) {
  tqXml xml;
  char text[8] = "old";
  EXPECT_EQ(xml.GetInt(4, 1, "a"), 4);
  EXPECT_EQ(xml.GetStr(text, sizeof text, "def", 1, "a"), 0);
  EXPECT_STREQ(text, "def");
  EXPECT_EQ(xml.SetInt(1, 1, "a"), 0);
  EXPECT_EQ(xml.SetStr("v", 1, "a"), 0);
  tqXmlChildIterator it;
  EXPECT_EQ(xml.GetChildren(&it, 0), 0);
  EXPECT_EQ(xml.NextChild(&it, text, sizeof text), 0);
  EXPECT_EQ(xml.Top(), nullptr);
}

TEST(XmlQuery, GetStrCapacity) {
  tqXml xml;
  ASSERT_EQ(Parse(xml, Doc("<document><a>abcdef</a><j>\x82\xA0\x82\xA2</j><e></e></document>")), 0);
  const struct {
    const char* name;
    size_t capacity;
    const char* expected;
  } cases[] = {
      {"a", 7, "abcdef"},   {"a", 4, "abc"},      {"a", 1, ""}, {"j", 5, "\x82\xA0\x82\xA2"},
      {"j", 4, "\x82\xA0"}, {"j", 3, "\x82\xA0"}, {"j", 2, ""}, {"e", 4, ""},
  };
  for (const auto& c : cases) {
    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(xml.GetStr(buffer, c.capacity, "", 1, c.name), 1);
    EXPECT_STREQ(buffer, c.expected) << c.name << " " << c.capacity;
    for (size_t i = c.capacity; i < sizeof buffer; ++i)
      ASSERT_EQ(buffer[i], '#') << "written past the capacity";
  }
  // The default is cut the same way; no buffer or no capacity writes nothing.
  char small[4];
  EXPECT_EQ(xml.GetStr(small, sizeof small, "longer default", 1, "none"), 0);
  EXPECT_STREQ(small, "lon");
  char untouched[4] = "xyz";
  EXPECT_EQ(xml.GetStr(untouched, 0, "d", 1, "a"), 1);
  EXPECT_STREQ(untouched, "xyz");
  EXPECT_EQ(xml.GetStr(nullptr, 10, "d", 1, "a"), 1);
  // The destination may be the default's own buffer.
  char same[16] = "keep";
  EXPECT_EQ(xml.GetStr(same, sizeof same, same, 1, "none"), 0);
  EXPECT_STREQ(same, "keep");
  EXPECT_EQ(xml.GetStr(same, sizeof same, same, 1, "a"), 1);
  EXPECT_STREQ(same, "abcdef");
}

TEST(XmlQuery, SplitPath) {
  const struct {
    const char* text;
    std::vector<std::string> names;
  } cases[] = {
      {"a/b", {"a", "b"}},
      {"a/", {"a"}},
      {"/a", {"", "a"}},
      {"a//b", {"a", "", "b"}},
      {"", {}},
      {"/", {""}},
      {"\x83\x5C/\x95\x2F", {"\x83\x5C", "\x95"}},  // 0x2F is no trail byte
      {"\x81\x5C\x81", {"\x81\x5C\x81"}},
  };
  for (const auto& c : cases) EXPECT_EQ(tqXml::SplitPath(c.text), c.names) << c.text;
}

TEST(XmlQuery, ChildrenComeLastFirst) {
  tqXml xml;
  ASSERT_EQ(Parse(xml, Doc("<document><SOUNDGROUP><se>1</se><bgm>2</bgm><A><p>1</p><q>2</q></A>"
                           "</SOUNDGROUP><leaf>x</leaf></document>")),
            0);
  int result = 0;
  EXPECT_EQ(Children(xml, {"SOUNDGROUP"}, &result), (std::vector<std::string>{"A", "bgm", "se"}));
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Children(xml, {"SOUNDGROUP/A"}, &result), (std::vector<std::string>{"q", "p"}));
  EXPECT_EQ(Children(xml, {"SOUNDGROUP", "A"}, &result), (std::vector<std::string>{"q", "p"}));
  EXPECT_EQ(Children(xml, {}, &result), (std::vector<std::string>{"leaf", "SOUNDGROUP"}));
  EXPECT_EQ(result, 1);
  // An element without children, a missing one, an empty name in the path.
  for (const std::vector<std::string>& names :
       std::vector<std::vector<std::string>>{{"leaf"}, {"missing"}, {"SOUNDGROUP//A"}}) {
    EXPECT_TRUE(Children(xml, names, &result).empty());
    EXPECT_EQ(result, 0);
  }

  // The counted form, with a cut name.
  tqXmlChildIterator it;
  ASSERT_EQ(xml.GetChildren(&it, 1, "SOUNDGROUP"), 1);
  char name[3];
  EXPECT_EQ(xml.NextChild(&it, name, sizeof name), 1);
  EXPECT_STREQ(name, "A");
  EXPECT_EQ(xml.NextChild(&it, name, sizeof name), 1);
  EXPECT_STREQ(name, "bg");
  EXPECT_EQ(xml.NextChild(&it, name, sizeof name), 1);
  EXPECT_EQ(xml.NextChild(&it, name, sizeof name), 0);

  // Count 0 on a top element without children: an empty walk, result 1.
  ASSERT_EQ(Parse(xml, Doc("<document>t</document>")), 0);
  ASSERT_EQ(xml.GetChildren(&it, 0), 1);
  EXPECT_EQ(xml.NextChild(&it, name, sizeof name), 0);
  // An empty document has no first element.
  ASSERT_EQ(Parse(xml, Doc("")), 0);
  EXPECT_EQ(xml.GetChildren(&it, 0), 0);
}

}  // namespace
