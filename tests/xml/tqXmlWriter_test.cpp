// Saving: the exact layout, the round trip through the parser, and the
// writer's codes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/tqPlatform.h"
#include "tests/support/tqTestSupport.h"
#include "tests/xml/xmlTestUtil.h"
#include "tqClassBase/tqClassBase.h"

using xmltest::Doc;
using xmltest::Dump;
using xmltest::Parse;

namespace {

const std::string kSavedDecl = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n";

std::string SaveToString(tqXml& xml, int* code = nullptr) {
  tqtest::TempDir dir;
  const std::string path = dir / "out.xml";
  EXPECT_EQ(xml.Save(path.c_str()), 1);
  if (code) *code = xml.Parser()->Error();
  return tqtest::ReadFile(path);
}

TEST(XmlWrite, CreatedDocument) {
  tqXml xml;
  ASSERT_EQ(xml.Create(), 1);
  EXPECT_EQ(kSavedDecl.size(), 44u);
  int code = -1;
  EXPECT_EQ(SaveToString(xml, &code), kSavedDecl + "<document></document>\r\n");
  EXPECT_EQ(code, 0);
}

TEST(XmlWrite, UpdatedDocuments) {
  tqXml xml;
  ASSERT_EQ(xml.Create(), 1);
  xml.SetInt(1, 2, "VERSION", "major");
  xml.SetInt(2, 2, "VERSION", "minor");
  tqtest::Diagnostics().lines.clear();
  EXPECT_EQ(SaveToString(xml), kSavedDecl +
                                   "<document>\r\n"
                                   "  <VERSION>\r\n"
                                   "    <minor>2</minor>\r\n"
                                   "    <major>1</major>\r\n"
                                   "  </VERSION>\r\n"
                                   "</document>\r\n");
  EXPECT_TRUE(tqtest::Diagnostics().lines.empty());

  ASSERT_EQ(xml.Create(), 1);
  xml.SetStr("x", 2, "A", "B");
  xml.SetStr("y", 2, "A", "C");
  EXPECT_EQ(SaveToString(xml),
            kSavedDecl +
                "<document>\r\n  <A>\r\n    <C>y</C>\r\n    <B>x</B>\r\n  </A>\r\n</document>\r\n");

  // The element appended under the second x is written first among its siblings.
  ASSERT_EQ(Parse(xml, Doc("<document><x><y>1</y></x><x><z>2</z></x></document>")), 0);
  xml.SetInt(5, 2, "x", "y");
  EXPECT_EQ(SaveToString(xml), kSavedDecl +
                                   "<document>\r\n"
                                   "  <x>\r\n    <y>1</y>\r\n  </x>\r\n"
                                   "  <x>\r\n    <y>5</y>\r\n    <z>2</z>\r\n  </x>\r\n"
                                   "</document>\r\n");
}

TEST(XmlWrite, ReadAndSavedKeepsOrderAttributesAndText) {
  tqXml xml;
  ASSERT_EQ(Parse(xml, Doc("<document>\r\n\t<a x=\"1\" y='2'>v &amp; w</a>\r\n"
                           "<b><c>3</c>lost<d>\x95\x5C</d></b><e>  </e></document>")),
            0);
  const std::string before = Dump(xml.Top(), false);
  const std::string saved = SaveToString(xml);
  EXPECT_EQ(saved, kSavedDecl +
                       "<document>\r\n"
                       "  <a x=\"1\" y=\"2\">v &amp; w</a>\r\n"
                       "  <b>\r\n"
                       "    <c>3</c>\r\n"
                       "    <d>\x95\x5C</d>\r\n"
                       "  </b>\r\n"
                       "  <e>  </e>\r\n"
                       "</document>\r\n");
  tqXml again;
  ASSERT_EQ(Parse(again, saved), 0);
  EXPECT_EQ(Dump(again.Top(), false), before);
}

TEST(XmlWrite, NothingIsEscaped) {
  tqXml xml;
  ASSERT_EQ(Parse(xml, Doc("<document><e A=\"1\" a=\"2\" B='\"'>t</e></document>")), 0);
  // Attribute names equal but for case become one attribute.
  EXPECT_EQ(SaveToString(xml),
            kSavedDecl + "<document>\r\n  <e A=\"1\" B=\"\"\">t</e>\r\n</document>\r\n");

  ASSERT_EQ(xml.Create(), 1);
  xml.SetStr("a&b<c", 1, "t");
  const std::string saved = SaveToString(xml);
  EXPECT_EQ(saved, kSavedDecl + "<document>\r\n  <t>a&b<c</t>\r\n</document>\r\n");
  tqXml again;
  EXPECT_EQ(Parse(again, saved), 5);  // "<c" is a tag without its ">"
}

TEST(XmlWrite, MeasureThenFill) {
  tqXmlParser parser;
  uint64_t size = 0;
  EXPECT_EQ(parser.WriteText(nullptr, &size), 7);
  EXPECT_STREQ(parser.Message(), "保存情報がありません。");

  tqXmlTreeNode* e = parser.AddElement(nullptr);
  ASSERT_NE(e, nullptr);
  e->name = "e";
  e->value = "v";
  tqXmlTreeNode* t = parser.AddAttribute(e);
  t->name = "t";
  t->value = "a b";
  const std::string expected = kSavedDecl + "<e t=\"a b\">v</e>\r\n";
  ASSERT_EQ(parser.WriteText(nullptr, &size), 0);
  EXPECT_EQ(size, expected.size());

  std::string buffer(expected.size() + 8, '#');
  uint64_t capacity = expected.size();
  ASSERT_EQ(parser.WriteText(buffer.data(), &capacity), 0);
  EXPECT_EQ(capacity, expected.size());
  EXPECT_EQ(buffer, expected + "########");

  // A short buffer takes what fits; the size is still the whole text's.
  std::string small(20, '#');
  capacity = 10;
  ASSERT_EQ(parser.WriteText(small.data(), &capacity), 0);
  EXPECT_EQ(capacity, expected.size());
  EXPECT_EQ(small, expected.substr(0, 10) + std::string(10, '#'));

  // The value with a space reads back cut at the space.
  tqXml xml;
  ASSERT_EQ(Parse(xml, expected), 0);
  EXPECT_EQ(Dump(xml.Top(), true), "e t=[a] {v}\n");
}

TEST(XmlWrite, Failures) {
  tqtest::TempDir dir;
  const std::string target = dir / "out.xml";
  tqXml xml;
  // No model at all: nothing to save, no file.
  EXPECT_EQ(xml.Save(target.c_str()), 1);
  EXPECT_EQ(xml.Parser()->Error(), 7);
  EXPECT_STREQ(xml.Parser()->Message(), "保存情報がありません。");
  // A failed load leaves an empty model: the tree has no root element.
  EXPECT_EQ(Parse(xml, "nothing"), 4);
  EXPECT_EQ(xml.Save(target.c_str()), 1);
  EXPECT_EQ(xml.Parser()->Error(), 7);
  EXPECT_EQ(tqp::GetAttributes(target.c_str()), tqp::ATTR_INVALID);

  ASSERT_EQ(xml.Create(), 1);
  const std::string unreachable = dir / "missing\\out.xml";
  EXPECT_EQ(xml.Save(unreachable.c_str()), 1);
  EXPECT_EQ(xml.Parser()->Error(), 9);
  EXPECT_EQ(std::string(xml.Parser()->Message()),
            "書き込み先ファイル[" + unreachable + "]のオープンに失敗しました。");

  // An existing file is emptied and rewritten.
  ASSERT_TRUE(tqtest::WriteFile(target, std::string(5000, 'z')));
  EXPECT_EQ(xml.Save(target.c_str()), 1);
  EXPECT_EQ(xml.Parser()->Error(), 0);
  EXPECT_EQ(tqtest::ReadFile(target), kSavedDecl + "<document></document>\r\n");
}

TEST(XmlWrite, SaveReleasesEverything) {
  const int before = TrackedCount();
  {
    tqXml xml;
    ASSERT_EQ(Parse(xml, Doc("<document a='1'><b>2</b><c><d>3</d></c></document>")), 0);
    SaveToString(xml);
    EXPECT_EQ(xml.Parser()->Error(), 0);
  }
  EXPECT_EQ(TrackedCount(), before);
}

// A modestly deep document goes through save and load unchanged.
TEST(XmlWrite, NestedRoundTrip) {
  const int depth = 300;
  tqXml xml;
  ASSERT_EQ(xml.Create(), 1);
  std::vector<std::string> path;
  for (int i = 0; i < depth; ++i) path.push_back("n" + std::to_string(i % 7));
  ASSERT_EQ(xml.SetStrPath("leaf", path), 1);
  const std::string saved = SaveToString(xml);
  tqXml again;
  ASSERT_EQ(Parse(again, saved), 0);
  std::string value;
  EXPECT_EQ(again.GetStrPath(value, "", path), 1);
  EXPECT_EQ(value, "leaf");
  EXPECT_EQ(Dump(again.Top(), false), Dump(xml.Top(), false));
}

}  // namespace
