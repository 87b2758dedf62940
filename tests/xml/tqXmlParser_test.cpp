// Loading documents: codes and messages, the dialect's tokenising and tag
// rules, the reversed model, the tree's allocations and hostile input.
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

struct LoadCase {
  const char* label;
  std::string bytes;
  int code;
  const char* message;  // exact message field afterwards
};

TEST(XmlLoad, CodesAndMessages) {
  const std::string decl = "<?xml version=\"1.0\"?>";
  const LoadCase cases[] = {
      {"empty input", "", 4, "読み込みできない形式のファイルです。"},
      {"byte-order mark first", "\xEF\xBB\xBF" + decl + "<document></document>", 4,
       "読み込みできない形式のファイルです。"},
      {"blank line first", "\r\n" + decl + "<document></document>", 4,
       "読み込みできない形式のファイルです。"},
      {"comment first", "<!-- c -->" + decl + "<document></document>", 4,
       "読み込みできない形式のファイルです。"},
      {"stray > first leaves an empty first token", ">" + decl + "<document></document>", 4,
       "読み込みできない形式のファイルです。"},
      {"name must be xml exactly", "<?XML version=\"1.0\"?><document></document>", 4,
       "読み込みできない形式のファイルです。"},
      {"spaces around =", "<?xml version = \"1.0\"?><document></document>", 4,
       "読み込みできない形式のファイルです。"},
      {"version 1.00", "<?xml version=\"1.00\"?><document></document>", 4,
       "読み込みできない形式のファイルです。"},
      {"no version", "<?xml encoding=\"Shift_JIS\"?><document></document>", 4,
       "読み込みできない形式のファイルです。"},
      {"overlapping delimiters", "<?><document></document>", 4,
       "読み込みできない形式のファイルです。"},
      {"VERSION in capitals", "<?xml VERSION=\"1.0\"?><document></document>", 0, ""},
      {"apostrophes, version after encoding",
       "<?xml encoding='x' version='1.0'?><document></document>", 0, ""},
      {"declaration only", decl, 0, ""},
      {"empty element tag", decl + "<document><a/></document>", 6,
       "タグ終端</document>が不正です。"},
      {"crossed end tags", decl + "<document><a><b></a></b></document>", 6,
       "タグ終端</a>が不正です。"},
      {"tag cut by <", decl + "<document><a <b></b></a></document>", 5,
       "タグ定義に誤りがあります。"},
      {"empty tag", decl + "<document><></document>", 5, "不正なタグです。"},
      {"blank tag", decl + "<document>< \t></document>", 5, "不正なタグです。"},
      {"bad root tag", decl + "<document <a></a>", 5, "タグ定義に誤りがあります。"},
      {"open elements at the end", decl + "<document><a><b>1", 0, ""},
      {"attribute without quotes keeps code 0", decl + "<document a=1></document>", 0,
       "属性(a)の値が不正です。"},
      {"bytes after the closing quote", decl + "<document><k n=\"x\"y>1</k></document>", 0,
       "属性(n)の値が不正です。"},
      {"attribute message from an end tag", decl + "<document></document x=>", 0,
       "属性(x)の値が不正です。"},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.label);
    tqXml xml;
    EXPECT_EQ(xml.OpenMem(c.bytes.data(), c.bytes.size()), c.code == 0 ? 1 : 0);
    ASSERT_NE(xml.Parser(), nullptr);
    EXPECT_EQ(xml.Parser()->Error(), c.code);
    EXPECT_STREQ(xml.Parser()->Message(), c.message);
  }
}

TEST(XmlLoad, MissingDataAndDebugLines) {
  tqXml xml;
  EXPECT_EQ(xml.OpenMem(nullptr, 10), 0);
  EXPECT_EQ(xml.Parser()->Error(), 3);
  EXPECT_STREQ(xml.Parser()->Message(), "読み込みバッファが無効です。");
  ASSERT_NE(xml.Top(), nullptr);
  EXPECT_TRUE(xml.Top()->empty());
  auto& lines = tqtest::Diagnostics().lines;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "tqXml : OpenMem error.");
}

TEST(XmlLoad, ZeroLengthMeansZeroTerminated) {
  const std::string text = Doc("<document><a>1</a></document>");
  tqXml xml;
  EXPECT_EQ(xml.OpenMem(text.c_str(), 0), 1);
  EXPECT_EQ(xml.GetInt(-1, 1, "a"), 1);
}

TEST(XmlLoad, OpenFromFile) {
  tqtest::TempDir dir;
  const std::string path = dir / "settings.xml";
  ASSERT_TRUE(tqtest::WriteFile(path, Doc("<document>\r\n  <major>3</major>\r\n</document>\r\n")));
  tqXml xml;
  auto& lines = tqtest::Diagnostics().lines;
  lines.clear();
  EXPECT_EQ(xml.Open(path.c_str()), 1);
  EXPECT_EQ(xml.GetInt(0, 1, "major"), 3);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "xml open " + path);
  EXPECT_EQ(lines[1], "xml open exit");

  lines.clear();
  const std::string missing = dir / "missing.xml";
  EXPECT_EQ(xml.Open(missing.c_str()), 0);
  EXPECT_EQ(xml.Parser()->Error(), 1);
  EXPECT_EQ(std::string(xml.Parser()->Message()),
            "ファイル " + missing + " のオープンに失敗しました。");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "tqXml : File open error " + missing);
  // The failed open left an empty model: reads give their defaults.
  EXPECT_EQ(xml.GetInt(7, 1, "major"), 7);

  const std::string empty = dir / "empty.xml";
  ASSERT_TRUE(tqtest::WriteFile(empty, ""));
  EXPECT_EQ(xml.Open(empty.c_str()), 0);
  EXPECT_EQ(xml.Parser()->Error(), 4);
}

TEST(XmlLoad, LongMessagesAreCutTo511Bytes) {
  const std::string name(2000, 'n');
  tqXml xml;
  EXPECT_EQ(Parse(xml, Doc("<document></" + name + ">")), 6);
  const std::string message = xml.Parser()->Message();
  EXPECT_EQ(message.size(), 511u);
  EXPECT_EQ(message.substr(0, 11), "タグ終端</n");

  EXPECT_EQ(Parse(xml, Doc("<document " + name + "=x></document>")), 0);
  EXPECT_EQ(std::string(xml.Parser()->Message()).size(), 511u);

  tqtest::TempDir dir;
  const std::string path = dir / std::string(240, 'p');
  EXPECT_EQ(xml.Open((path + "\\" + std::string(300, 'q')).c_str()), 0);
  EXPECT_EQ(xml.Parser()->Error(), 1);
  EXPECT_EQ(std::string(xml.Parser()->Message()).size(), 511u);
}

TEST(XmlModel, SiblingsAndAttributesAreReversed) {
  tqXml xml;
  ASSERT_EQ(Parse(xml, Doc("<document><x>1</x><x>2</x><e a=\"1\" b='2' c=\"3\">t</e></document>")),
            0);
  EXPECT_EQ(Dump(xml.Top(), false),
            "document\n"
            "  e c=[3] b=[2] a=[1] {t}\n"
            "  x {2}\n"
            "  x {1}\n");
}

TEST(XmlModel, TextIsKeptAsWritten) {
  struct Case {
    const char* label;
    std::string body;
    std::string dump;
  };
  const Case cases[] = {
      {"spaces kept, entities not decoded", "<document><major> 1 </major><t>a&amp;b</t></document>",
       "document {}\n  t {a&amp;b}\n  major { 1 }\n"},
      {"line breaks between children fold into the parent's value",
       "<document>\r\n  <a>1</a>\r\n\t<b>2</b>\n</document>",
       "document {      }\n  b {2}\n  a {1}\n"},
      {"a lone CR stays", "<document><a>x\ry</a></document>", "document {}\n  a {x\ry}\n"},
      {"TAB and line break separate words in tags",
       "<document><e\ta='1'\r\nb='2'\nc='3'>v</e></document>",
       "document {}\n  e c=[3] b=[2] a=[1] {v}\n"},
      {"a space ends an attribute value", "<document><e title=\"a b\" x=\"1\">v</e></document>",
       "document {}\n  e title=[a] {v}\n"},
      {"missing closing quote runs to the end of the word", "<document><e n=\"abc>v</e></document>",
       "document {}\n  e n=[abc] {v}\n"},
      {"the other quote is text", "<document><e n=\"it's\">v</e></document>",
       "document {}\n  e n=[it's] {v}\n"},
      {"text between parts of an element is joined", "<document>a<x>1</x>b<y>2</y>c</document>",
       "document {abc}\n  y {2}\n  x {1}\n"},
      {"a stray > ends a text token", "<document>a-->b</document>", "document {a-->b}\n"},
      {"comments split by > are removed whole",
       "<document><!-- a > b --><k>v</k><!----></document>", "document {}\n  k {v}\n"},
      {"a comment spans tags", "<document><!-- <k>hidden</k> --><k>v</k></document>",
       "document {}\n  k {v}\n"},
      {"an unterminated comment is an element", "<document><k>v</k><!-- note>",
       "document {}\n  !-- {}\n  k {v}\n"},
      {"a second root element is ignored", "<document><a>1</a></document><other>2</other>",
       "document {}\n  a {1}\n"},
      {"text before the root is ignored", "junk<document>v</document>", "document {v}\n"},
      {"a zero byte ends the document", std::string("<document><a>1</a>\0<b>2</b></document>", 38),
       "document {}\n  a {1}\n"},
      {"lone lead byte at the end", "<document><a>\x81</a>\x81", "document {}\n  a {\x81}\n"},
      {"double-byte characters with trail 0x5C stay whole",
       "<document><\x83\x5C>\x95\x5C</\x83\x5C></document>",
       "document {}\n  \x83\x5C {\x95\x5C}\n"},
      {"an end tag as root opens an element", "</x><a>1</a>", "/x {}\n  a {1}\n"},
      {"text-only, attributed and nested siblings keep one order; leaf text folds",
       "<document><a>1</a><n><b>x\ty</b><m>\r\n</m></n><c k='v'>2\n</c><d>3\r\n4</d></document>",
       "document {}\n  d {3 4}\n  c k=[v] {2 }\n  n {}\n    m { }\n    b {x y}\n  a {1}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    tqXml xml;
    ASSERT_EQ(Parse(xml, Doc(c.body)), 0) << xml.Parser()->Message();
    EXPECT_EQ(Dump(xml.Top(), true), c.dump);
  }
}

TEST(XmlModel, EmptyDocumentAndTopLevelNames) {
  tqXml xml;
  EXPECT_EQ(Parse(xml, Doc("just text")), 0);
  ASSERT_NE(xml.Top(), nullptr);
  EXPECT_TRUE(xml.Top()->empty());
  EXPECT_EQ(xml.Parser()->RootElement(), nullptr);
}

// Every tree node is a tracked block: the tree root, each element and its
// attribute root, each attribute. Loading makes them when the tree is first
// asked for; all of them go with the document.
TEST(XmlTree, NodesAreTrackedAndReleased) {
  const int before = TrackedCount();
  {
    tqXml* xml = new tqXml;
    ASSERT_NE(xml, nullptr);
    const std::string text = Doc("<document x='1'><b>2</b></document>");
    ASSERT_EQ(xml->OpenMem(text.data(), text.size()), 1);
    EXPECT_EQ(TrackedCount() - before, 3);  // tqXml, parser, tree root
    ASSERT_NE(xml->Parser()->RootElement(), nullptr);
    // document + attribute root + x, b + attribute root.
    EXPECT_EQ(TrackedCount() - before, 8);
    delete xml;
  }
  EXPECT_EQ(TrackedCount(), before);
}

// Lists a tree: sibling order along next links, attributes likewise, values
// of every element; checks the back links on the way.
std::string TreeDump(tqXmlTreeNode* first, int depth = 0) {
  std::string out;
  for (tqXmlTreeNode* n = first; n; n = n->next) {
    EXPECT_TRUE(n->next == nullptr || n->next->prev == n);
    EXPECT_TRUE(n->firstChild == nullptr || n->firstChild->parent == n);
    out.append(depth * 2, ' ');
    out += n->name;
    for (tqXmlTreeNode* a = n->attributes ? n->attributes->firstChild : nullptr; a; a = a->next) {
      EXPECT_EQ(a->parent, n->attributes);
      out += " " + a->name + "=[" + a->value + "]";
    }
    out += " {" + n->value + "}\n" + TreeDump(n->firstChild, depth + 1);
  }
  return out;
}

// The tree links each new node in front of its siblings: the last child of
// the file comes first, as do attributes; element texts are kept whole.
TEST(XmlTree, TreeOfAParse) {
  tqXml xml;
  ASSERT_EQ(Parse(xml, Doc("<document a='1' b='2'>t<x>1</x><y><z>3</z></y>u</document>")), 0);
  EXPECT_EQ(TreeDump(xml.Parser()->Tree()->firstChild),
            "document b=[2] a=[1] {tu}\n"
            "  y {}\n"
            "    z {3}\n"
            "  x {1}\n");
  EXPECT_EQ(xml.Parser()->Tree()->next, nullptr);
  EXPECT_EQ(xml.Parser()->RootElement()->parent, xml.Parser()->Tree());

  // An update leaves the tree as it was read.
  xml.SetStr("new", 1, "x");
  EXPECT_EQ(TreeDump(xml.Parser()->RootElement()),
            "document b=[2] a=[1] {tu}\n  y {}\n    z {3}\n  x {1}\n");

  // A second parse on the same parser puts its root element in front.
  tqXmlParser parser;
  const std::string first = Doc("<one>1</one>");
  const std::string second = Doc("<two>2</two>");
  ASSERT_EQ(parser.ParseMem(first.data(), first.size()), 0);
  ASSERT_EQ(parser.ParseMem(second.data(), second.size()), 0);
  EXPECT_EQ(TreeDump(parser.RootElement()), "two {2}\none {1}\n");
}

TEST(XmlTree, LinkingInFrontAndRemoval) {
  tqXmlParser parser;
  tqXmlTreeNode* a = parser.AddElement(nullptr);
  tqXmlTreeNode* b = parser.AddElement(nullptr);
  ASSERT_TRUE(a && b);
  a->name = "a";
  b->name = "b";
  tqXmlTreeNode* child = parser.AddElement(a);
  tqXmlTreeNode* attribute = parser.AddAttribute(child);
  ASSERT_TRUE(child && attribute);
  EXPECT_EQ(parser.RootElement(), b);
  EXPECT_EQ(b->next, a);
  EXPECT_EQ(a->prev, b);
  EXPECT_EQ(b->prev, nullptr);
  EXPECT_EQ(child->parent, a);

  const int before = TrackedCount();
  parser.RemoveNode(a);  // a, its attribute root, child, child's attribute root and attribute
  EXPECT_EQ(before - TrackedCount(), 5);
  EXPECT_EQ(parser.RootElement(), b);
  EXPECT_EQ(b->next, nullptr);
  parser.RemoveNode(b);
  EXPECT_EQ(parser.RootElement(), nullptr);
  parser.RemoveNode(parser.Tree());  // the tree root stays
  EXPECT_NE(parser.Tree(), nullptr);
}

// A parse that fails after the root was created keeps the partial tree but
// builds no model.
TEST(XmlTree, PartialTreeAfterFailure) {
  tqXml xml;
  EXPECT_EQ(Parse(xml, Doc("<document><a>1</a></b>")), 6);
  EXPECT_TRUE(xml.Top()->empty());
  tqXmlTreeNode* root = xml.Parser()->RootElement();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->name, "document");
  ASSERT_NE(root->firstChild, nullptr);
  EXPECT_EQ(root->firstChild->name, "a");
}

TEST(XmlHostile, DeepNestingIsParsedWithoutRecursion) {
  const int depth = 100000;
  std::string text = xmltest::kDecl;
  text.reserve(text.size() + depth * 3);
  for (int i = 0; i < depth; ++i) text += "<a>";
  text += "x";
  for (int i = 0; i < depth; ++i) text += "</a>";
  const int before = TrackedCount();
  {
    tqXml xml;
    ASSERT_EQ(Parse(xml, text), 0);
    std::vector<std::string> path(depth, "a");
    std::string value;
    // The top element is "a", so reads name it too.
    EXPECT_EQ(xml.GetStrPath(value, "", path), 1);
    EXPECT_EQ(value, "x");
    // Rendering would take about 2 * depth^2 bytes of indentation: refused
    // with code 10 before any file is made.
    tqtest::TempDir dir;
    const std::string out = dir / "deep.xml";
    EXPECT_EQ(xml.Save(out.c_str()), 1);
    EXPECT_EQ(xml.Parser()->Error(), 10);
    EXPECT_EQ(tqp::GetAttributes(out.c_str()), tqp::ATTR_INVALID);
  }
  EXPECT_EQ(TrackedCount(), before);
}

TEST(XmlHostile, HugeTokensAndUnterminatedInput) {
  const std::string big(10 * 1024 * 1024, 'v');
  tqXml xml;
  ASSERT_EQ(Parse(xml, Doc("<document>" + big + "</document>")), 0);
  std::string value;
  EXPECT_EQ(xml.GetStrPath(value, "", {}), 0);  // nothing below the root
  EXPECT_EQ(xml.Top()->at(0).value.size(), big.size());

  ASSERT_EQ(Parse(xml, Doc("<" + big + ">")), 0);
  EXPECT_EQ(xml.Top()->at(0).name.size(), big.size());

  EXPECT_EQ(Parse(xml, Doc("<document><" + big)), 0);  // the open tag is no token
  EXPECT_EQ(Dump(xml.Top(), true), "document {}\n");

  // Many unterminated comment beginnings stay linear.
  std::string comments = Doc("<document>");
  for (int i = 0; i < 200000; ++i) comments += "<!--";
  EXPECT_EQ(Parse(xml, comments), 5);
}

}  // namespace

// A cut document still loads; only RootClosed tells it from a whole one.
TEST(XmlLoad, RootClosedTellsCutDocumentsApart) {
  const char* decl = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n";
  struct Case {
    const char* body;
    int code;
    bool closed;
  } cases[] = {
      {"<document><a>1</a></document>", 0, true},
      {"<document><a>1</a></document>trailing <x>", 0, true},
      {"<document><a>1</a>", 0, false},
      {"<document><a>1</a></docu", 0, false},
      {"<document><a>1", 0, false},
      {"<document><a>1</a><b></b>", 0, false},
      {"", 0, false},
      {"<document></wrong>", 6, false},
  };
  for (const Case& c : cases) {
    std::string text = std::string(decl) + c.body;
    tqXmlParser parser;
    EXPECT_EQ(parser.ParseMem(text.data(), text.size()), c.code) << c.body;
    EXPECT_EQ(parser.RootClosed(), c.closed) << c.body;
  }
  tqXmlParser parser;
  std::string whole = std::string(decl) + "<document></document>";
  ASSERT_EQ(parser.ParseMem(whole.data(), whole.size()), 0);
  EXPECT_TRUE(parser.RootClosed());
  // The flag belongs to the last parse only.
  EXPECT_EQ(parser.ParseFile("/nonexistent/file.xml"), 1);
  EXPECT_FALSE(parser.RootClosed());
}
