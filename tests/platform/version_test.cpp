// File version resources: the fixture DLL built by the MinGW tools read
// through the backend (the system on Windows, our parser on POSIX) and
// through the PE parser directly; synthetic and damaged PE images and
// VS_VERSIONINFO blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/tqPlatform.h"
#include "tests/support/tqTestSupport.h"
#include "util/tqUtil.h"

namespace {

std::string Fixture(const char* name) { return tqtest::ProgramFolder() + "\\" + name; }

// The twelve strings of the fixture's Japanese table, in the record's order.
struct Expected {
  const char* name;
  const char* value;
};
const Expected kStrings[12] = {
    {"Comments", "Fixture of the version reader"},
    {"CompanyName", "Example Company"},
    {"FileDescription", "版情報の表示テスト"},
    {"FileVersion", "1, 2, 3, 4"},
    {"InternalName", "tqfixture"},
    {"LegalCopyright", "Copyright (C) Example Company"},
    {"LegalTrademarks", "No trademarks"},
    {"OriginalFilename", "tq_version_fixture.dll"},
    {"ProductName", "tq platform tests"},
    {"ProductVersion", "5.6.7.8"},
    {"PrivateBuild", "private 9"},
    {"SpecialBuild", "special 10"},
};

std::string JapaneseKey(const char* name) { return std::string("\\StringFileInfo\\041103a4\\") + name; }

TEST(VersionFixture, JapaneseTextIsShiftJis) {
  // 表 ends in 0x5C: the text must survive every layer as these bytes.
  EXPECT_EQ(std::string(kStrings[2].value).substr(8, 4), "\x95\x5C\x8E\xA6");
}

TEST(VersionResource, BackendReadsFixture) {
  tqp::VersionResource resource;
  ASSERT_TRUE(resource.Load(Fixture("tq_version_fixture.dll").c_str()));
  uint32_t pair = 0;
  ASSERT_TRUE(resource.FirstTranslation(&pair));
  EXPECT_EQ(pair, 0x041103A4u);
  for (const Expected& e : kStrings) {
    std::string value;
    EXPECT_TRUE(resource.QueryString(JapaneseKey(e.name).c_str(), value)) << e.name;
    EXPECT_EQ(value, e.value) << e.name;
  }
  // The table is chosen by its key, whatever its position and letter case.
  std::string value;
  EXPECT_TRUE(resource.QueryString("\\StringFileInfo\\040904b0\\CompanyName", value));
  EXPECT_EQ(value, "English table");
  EXPECT_TRUE(resource.QueryString("\\StringFileInfo\\041103A4\\companyname", value));
  EXPECT_EQ(value, "Example Company");
  EXPECT_FALSE(resource.QueryString("\\StringFileInfo\\041103a4\\Missing", value));
  EXPECT_FALSE(resource.QueryString("\\StringFileInfo\\04110000\\CompanyName", value));
}

TEST(VersionResource, ParserAgreesWithBackend) {
  std::string image;
  ASSERT_TRUE(tqtest::ReadFile(Fixture("tq_version_fixture.dll"), image));
  std::vector<uint8_t> block;
  ASSERT_TRUE(tqp::VersionBlockFromPe((const uint8_t*)image.data(), image.size(), block));
  uint32_t pair = 0;
  ASSERT_TRUE(tqp::VersionBlockTranslation(block, &pair));
  EXPECT_EQ(pair, 0x041103A4u);

  tqp::VersionResource resource;
  ASSERT_TRUE(resource.Load(Fixture("tq_version_fixture.dll").c_str()));
  for (const Expected& e : kStrings) {
    std::string ours, backend;
    EXPECT_TRUE(tqp::VersionBlockString(block, JapaneseKey(e.name).c_str(), ours)) << e.name;
    EXPECT_TRUE(resource.QueryString(JapaneseKey(e.name).c_str(), backend)) << e.name;
    EXPECT_EQ(ours, e.value) << e.name;
    EXPECT_EQ(ours, backend) << e.name;
  }
  // The backend keeps the raw resource at the start of its block (the
  // system may add room of its own behind it).
  const std::vector<uint8_t>& kept = resource.Block();
  ASSERT_GE(block.size(), 2u);
  size_t length = block[0] | block[1] << 8;
  ASSERT_LE(length, block.size());
  ASSERT_GE(kept.size(), length);
  EXPECT_TRUE(std::equal(block.begin(), block.begin() + length, kept.begin()));
}

TEST(VersionResource, ReadVersionInfoFillsTheRecord) {
  tqVersionInfo info;
  ASSERT_TRUE(tqReadVersionInfo(Fixture("tq_version_fixture.dll").c_str(), &info));
  const char* fields[12] = {info.comments,       info.companyName,    info.fileDescription,
                            info.fileVersion,    info.internalName,   info.legalCopyright,
                            info.legalTrademarks, info.originalFilename, info.productName,
                            info.productVersion, info.privateBuild,   info.specialBuild};
  for (int i = 0; i < 12; ++i) EXPECT_STREQ(fields[i], kStrings[i].value) << kStrings[i].name;
  EXPECT_EQ(info.version[3], 1);
  EXPECT_EQ(info.version[2], 2);
  EXPECT_EQ(info.version[1], 3);
  EXPECT_EQ(info.version[0], 4);
}

TEST(VersionResource, FilesWithoutVersionGiveFalse) {
  tqtest::TempDir dir;
  std::string image;
  ASSERT_TRUE(tqtest::ReadFile(Fixture("tq_version_fixture.dll"), image));
  ASSERT_TRUE(tqtest::WriteFile(dir / "half.dll", image.substr(0, image.size() / 2)));
  ASSERT_TRUE(tqtest::WriteFile(dir / "text.dll", "MZ is not enough for a program file"));
  ASSERT_TRUE(tqtest::WriteFile(dir / "empty.dll", ""));

  const std::string files[] = {Fixture("tq_noversion_fixture.dll"), dir / "half.dll",
                               dir / "text.dll", dir / "empty.dll", dir / "missing.dll"};
  for (const std::string& file : files) {
    tqp::VersionResource resource;
    EXPECT_FALSE(resource.Load(file.c_str())) << file;
    EXPECT_TRUE(resource.Block().empty()) << file;
    uint32_t pair = 0;
    EXPECT_FALSE(resource.FirstTranslation(&pair)) << file;
    std::string value;
    EXPECT_FALSE(resource.QueryString(JapaneseKey("CompanyName").c_str(), value)) << file;
    tqVersionInfo info;
    EXPECT_FALSE(tqReadVersionInfo(file.c_str(), &info)) << file;
  }

  std::string noVersion;
  ASSERT_TRUE(tqtest::ReadFile(Fixture("tq_noversion_fixture.dll"), noVersion));
  std::vector<uint8_t> block;
  EXPECT_FALSE(tqp::VersionBlockFromPe((const uint8_t*)noVersion.data(), noVersion.size(), block));
  EXPECT_TRUE(block.empty());
}

TEST(VersionBlockFromPe, EveryTruncationFailsOrGivesTheWholeBlock) {
  std::string image;
  ASSERT_TRUE(tqtest::ReadFile(Fixture("tq_version_fixture.dll"), image));
  std::vector<uint8_t> whole;
  ASSERT_TRUE(tqp::VersionBlockFromPe((const uint8_t*)image.data(), image.size(), whole));
  // Where the block lies in the file: no shorter image may yield it.
  size_t at = image.find(std::string(whole.begin(), whole.end()));
  ASSERT_NE(at, std::string::npos);
  size_t needed = at + whole.size();
  for (size_t n = 0; n < image.size(); ++n) {
    // A copy of exactly n bytes, so that a read past the end is caught.
    std::vector<uint8_t> prefix(image.begin(), image.begin() + n);
    std::vector<uint8_t> block;
    bool ok = tqp::VersionBlockFromPe(prefix.data(), prefix.size(), block);
    if (n < needed) {
      EXPECT_FALSE(ok) << n;
    } else if (ok) {
      EXPECT_EQ(block, whole) << n;
    }
  }
}

// ------------------------------------------------------------ synthetic images

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = (uint8_t)x;
  v[at + 1] = (uint8_t)(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  Put16(v, at, x & 0xFFFF);
  Put16(v, at + 2, x >> 16);
}

// Offsets inside the images MakePe builds.
constexpr size_t kPeAt = 64, kCoffAt = 68, kOptionalAt = 88;
constexpr uint32_t kSectionRva = 0x1000, kSectionFileAt = 0x200;
// Resource section: root at 0, name directory at 24, language directory at
// 48, data entry at 72, block at 88.
constexpr size_t kRootAt = 0, kNameDirAt = 24, kLanguageDirAt = 48, kDataEntryAt = 72,
                 kBlockAt = 88;

size_t SectionTableAt(bool pe32plus) { return kOptionalAt + (pe32plus ? 240 : 224); }
size_t ResourceDirectoryAt(bool pe32plus) { return kOptionalAt + (pe32plus ? 112 : 96) + 16; }

// A minimal PE image whose one section holds a resource tree
// RT_VERSION -> 1 -> 0x0411 -> block.
std::vector<uint8_t> MakePe(bool pe32plus, const std::vector<uint8_t>& block) {
  size_t sectionSize = kBlockAt + block.size();
  size_t rawSize = (sectionSize + 0x1FF) & ~(size_t)0x1FF;
  std::vector<uint8_t> pe(kSectionFileAt + rawSize, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  Put32(pe, 0x3C, kPeAt);
  memcpy(&pe[kPeAt], "PE\0\0", 4);
  Put16(pe, kCoffAt, pe32plus ? 0x8664 : 0x14C);
  Put16(pe, kCoffAt + 2, 1);  // sections
  Put16(pe, kCoffAt + 16, pe32plus ? 240 : 224);
  Put16(pe, kOptionalAt, pe32plus ? 0x20B : 0x10B);
  Put32(pe, kOptionalAt + (pe32plus ? 108 : 92), 16);
  Put32(pe, ResourceDirectoryAt(pe32plus), kSectionRva);
  Put32(pe, ResourceDirectoryAt(pe32plus) + 4, (uint32_t)sectionSize);
  size_t section = SectionTableAt(pe32plus);
  memcpy(&pe[section], ".rsrc", 5);
  Put32(pe, section + 8, (uint32_t)sectionSize);
  Put32(pe, section + 12, kSectionRva);
  Put32(pe, section + 16, (uint32_t)rawSize);
  Put32(pe, section + 20, kSectionFileAt);

  size_t r = kSectionFileAt;
  Put16(pe, r + kRootAt + 14, 1);
  Put32(pe, r + kRootAt + 16, 16);
  Put32(pe, r + kRootAt + 20, 0x80000000u | kNameDirAt);
  Put16(pe, r + kNameDirAt + 14, 1);
  Put32(pe, r + kNameDirAt + 16, 1);
  Put32(pe, r + kNameDirAt + 20, 0x80000000u | kLanguageDirAt);
  Put16(pe, r + kLanguageDirAt + 14, 1);
  Put32(pe, r + kLanguageDirAt + 16, 0x411);
  Put32(pe, r + kLanguageDirAt + 20, kDataEntryAt);
  Put32(pe, r + kDataEntryAt, kSectionRva + kBlockAt);
  Put32(pe, r + kDataEntryAt + 4, (uint32_t)block.size());
  memcpy(&pe[r + kBlockAt], block.data(), block.size());
  return pe;
}

// VS_VERSIONINFO nodes: key, type (1 text, 0 binary), value bytes, children.
struct Node {
  std::u16string key;
  uint16_t type = 1;
  std::vector<uint8_t> value;
  uint16_t valueLength = 0;  // as stored: UTF-16 units for texts, bytes otherwise
  std::vector<Node> children;
};

void Pad4(std::vector<uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

std::vector<uint8_t> Serialise(const Node& node) {
  std::vector<uint8_t> out(6, 0);
  for (char16_t c : node.key) {
    out.push_back((uint8_t)c);
    out.push_back((uint8_t)(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  Pad4(out);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const Node& child : node.children) {
    Pad4(out);
    std::vector<uint8_t> bytes = Serialise(child);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  Put16(out, 0, (uint32_t)out.size());
  Put16(out, 2, node.valueLength);
  Put16(out, 4, node.type);
  return out;
}

Node Text(std::u16string key, std::u16string text) {
  Node n{std::move(key), 1, {}, (uint16_t)(text.size() + 1), {}};
  for (char16_t c : text) {
    n.value.push_back((uint8_t)c);
    n.value.push_back((uint8_t)(c >> 8));
  }
  n.value.push_back(0);
  n.value.push_back(0);
  return n;
}

Node Tree(Node string, uint32_t translation = 0x041103A4) {
  Node table{u"041103a4", 1, {}, 0, {std::move(string)}};
  Node stringInfo{u"StringFileInfo", 1, {}, 0, {std::move(table)}};
  Node pair{u"Translation", 0, {}, 4, {}};
  pair.value = {(uint8_t)(translation >> 16), (uint8_t)(translation >> 24), (uint8_t)translation,
                (uint8_t)(translation >> 8)};
  Node varInfo{u"VarFileInfo", 1, {}, 0, {pair}};
  Node root{u"VS_VERSION_INFO", 0, std::vector<uint8_t>(52, 0), 52, {stringInfo, varInfo}};
  return root;
}

TEST(VersionBlockFromPe, ReadsPe32AndPe32Plus) {
  std::vector<uint8_t> block = Serialise(Tree(Text(u"CompanyName", u"表示")));
  for (bool pe32plus : {false, true}) {
    std::vector<uint8_t> pe = MakePe(pe32plus, block), found;
    ASSERT_TRUE(tqp::VersionBlockFromPe(pe.data(), pe.size(), found)) << pe32plus;
    EXPECT_EQ(found, block);
    std::string value;
    EXPECT_TRUE(tqp::VersionBlockString(found, "\\StringFileInfo\\041103a4\\CompanyName", value));
    EXPECT_EQ(value, "表示");
  }
}

TEST(VersionBlockFromPe, DamagedImagesGiveFalse) {
  std::vector<uint8_t> block = Serialise(Tree(Text(u"CompanyName", u"x")));
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&, bool)> damage;
  };
  const size_t r = kSectionFileAt;
  const Case cases[] = {
      {"no MZ", [](auto& pe, bool) { pe[1] = 'X'; }},
      {"PE header past the end", [](auto& pe, bool) { Put32(pe, 0x3C, (uint32_t)pe.size() - 2); }},
      {"PE header offset wraps", [](auto& pe, bool) { Put32(pe, 0x3C, 0xFFFFFFFE); }},
      {"no PE signature", [](auto& pe, bool) { pe[kPeAt + 1] = 'X'; }},
      {"unknown optional magic", [](auto& pe, bool) { Put16(pe, kOptionalAt, 0x107); }},
      {"optional header too small for the resource entry",
       [](auto& pe, bool) { Put16(pe, kCoffAt + 16, 96); }},
      {"only two data directories",
       [](auto& pe, bool p) { Put32(pe, kOptionalAt + (p ? 108 : 92), 2); }},
      {"no resource directory", [](auto& pe, bool p) { Put32(pe, ResourceDirectoryAt(p), 0); }},
      {"section table past the end", [](auto& pe, bool) { Put16(pe, kCoffAt + 2, 0xFFFF); }},
      {"resources outside every section",
       [](auto& pe, bool p) { Put32(pe, ResourceDirectoryAt(p), 0x9000); }},
      {"section data past the end of file",
       [](auto& pe, bool p) { Put32(pe, SectionTableAt(p) + 20, (uint32_t)pe.size() - 16); }},
      {"no RT_VERSION entry", [r](auto& pe, bool) { Put32(pe, r + kRootAt + 16, 3); }},
      {"RT_VERSION is not a directory",
       [r](auto& pe, bool) { Put32(pe, r + kRootAt + 20, kDataEntryAt); }},
      {"huge entry count", [r](auto& pe, bool) { Put16(pe, r + kRootAt + 14, 0xFFFF); }},
      {"empty name directory", [r](auto& pe, bool) { Put16(pe, r + kNameDirAt + 14, 0); }},
      {"name directory offset past the section",
       [r](auto& pe, bool) { Put32(pe, r + kRootAt + 20, 0xFFFFFFF0u); }},
      {"language entry is a directory (a loop)",
       [r](auto& pe, bool) { Put32(pe, r + kLanguageDirAt + 20, 0x80000000u | kLanguageDirAt); }},
      {"data entry past the section",
       [r](auto& pe, bool) { Put32(pe, r + kLanguageDirAt + 20, 0x7FFFFFF0u); }},
      {"data outside every section",
       [r](auto& pe, bool) { Put32(pe, r + kDataEntryAt, 0x80000000u); }},
      {"data longer than the section",
       [r](auto& pe, bool) { Put32(pe, r + kDataEntryAt + 4, 0x10000); }},
      {"data length wraps", [r](auto& pe, bool) { Put32(pe, r + kDataEntryAt + 4, 0xFFFFFFFFu); }},
      {"data too short for a node", [r](auto& pe, bool) { Put32(pe, r + kDataEntryAt + 4, 4); }},
  };
  for (bool pe32plus : {false, true}) {
    for (const Case& c : cases) {
      std::vector<uint8_t> pe = MakePe(pe32plus, block), found;
      ASSERT_TRUE(tqp::VersionBlockFromPe(pe.data(), pe.size(), found)) << c.what;
      c.damage(pe, pe32plus);
      EXPECT_FALSE(tqp::VersionBlockFromPe(pe.data(), pe.size(), found)) << c.what << " " << pe32plus;
      EXPECT_TRUE(found.empty()) << c.what;
    }
  }
  std::vector<uint8_t> found;
  EXPECT_FALSE(tqp::VersionBlockFromPe(nullptr, 100, found));
}

// ------------------------------------------------------------ VS_VERSIONINFO

TEST(VersionBlock, QueriesFollowTheTree) {
  Node root = Tree(Text(u"CompanyName", u"Example"));
  // A second language table and a text whose length some writers count in
  // bytes rather than characters.
  Node english{u"040904b0", 1, {}, 0, {Text(u"CompanyName", u"English")}};
  Node inBytes = Text(u"ProductName", u"Bytes");
  inBytes.valueLength = (uint16_t)inBytes.value.size();
  root.children[0].children.insert(root.children[0].children.begin(), english);
  root.children[0].children[1].children.push_back(inBytes);
  root.children[0].children[1].children.push_back(Text(u"Comments", u""));
  std::vector<uint8_t> block = Serialise(root);

  uint32_t pair = 0;
  ASSERT_TRUE(tqp::VersionBlockTranslation(block, &pair));
  EXPECT_EQ(pair, 0x041103A4u);
  struct Query {
    const char* path;
    bool found;
    const char* value;
  };
  const Query queries[] = {
      {"\\StringFileInfo\\041103a4\\CompanyName", true, "Example"},
      {"\\StringFileInfo\\041103A4\\COMPANYNAME", true, "Example"},
      {"StringFileInfo\\041103a4\\CompanyName", true, "Example"},
      {"\\StringFileInfo\\040904b0\\CompanyName", true, "English"},
      {"\\StringFileInfo\\041103a4\\ProductName", true, "Bytes"},
      {"\\StringFileInfo\\041103a4\\Comments", true, ""},
      {"\\StringFileInfo\\041103a4\\Company", false, ""},
      {"\\StringFileInfo\\041103a4\\CompanyNameX", false, ""},
      {"\\StringFileInfo\\041103a4\\CompanyName\\Deeper", false, ""},
      {"\\VarFileInfo\\CompanyName", false, ""},
      {"\\StringFileInfo\\表示", false, ""},
  };
  for (const Query& q : queries) {
    std::string value = "stale";
    EXPECT_EQ(tqp::VersionBlockString(block, q.path, value), q.found) << q.path;
    if (q.found) {
      EXPECT_EQ(value, q.value) << q.path;
    }
  }
  std::string value;
  EXPECT_FALSE(tqp::VersionBlockString(block, nullptr, value));
}

TEST(VersionBlock, MalformedBlocksGiveFalse) {
  const std::vector<uint8_t> good = Serialise(Tree(Text(u"CompanyName", u"Example")));
  const char* path = "\\StringFileInfo\\041103a4\\CompanyName";
  // Offsets in the serialised tree: root key at 6, fixed info at 40, the
  // StringFileInfo node at 92.
  const size_t stringInfo = 92;
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"empty", [](auto& b) { b.clear(); }},
      {"shorter than a node header", [](auto& b) { b.resize(5); }},
      {"root longer than the block", [](auto& b) { Put16(b, 0, (uint32_t)b.size() + 4); }},
      {"root shorter than its header", [](auto& b) { Put16(b, 0, 4); }},
      {"root cut before the key ends", [](auto& b) { Put16(b, 0, 12); }},
      {"key without its NUL", [](auto& b) { b.resize(36); Put16(b, 0, 36); }},
      {"child longer than its parent",
       [stringInfo](auto& b) { Put16(b, stringInfo, (uint32_t)(b.size() - stringInfo) + 8); }},
      {"child of length zero", [stringInfo](auto& b) { Put16(b, stringInfo, 0); }},
      {"cut inside the text, lengths adjusted",
       [](auto& b) {
         const uint8_t text[] = {'E', 0, 'x', 0, 'a', 0};
         size_t at = std::search(b.begin(), b.end(), text, text + 6) - b.begin();
         b.resize(at + 4);
         Put16(b, 0, (uint32_t)b.size());
       }},
  };
  std::string value;
  ASSERT_TRUE(tqp::VersionBlockString(good, path, value));
  ASSERT_EQ(value, "Example");
  for (const Case& c : cases) {
    std::vector<uint8_t> block = good;
    c.damage(block);
    // Exactly sized, so that a read past the end is caught.
    block.shrink_to_fit();
    std::string text;
    EXPECT_FALSE(tqp::VersionBlockString(block, path, text)) << c.what;
    uint32_t pair = 0;
    tqp::VersionBlockTranslation(block, &pair);  // must not read past the end
  }
}

TEST(VersionBlock, TextRunsToTheNodeEndWithoutNul) {
  // A text value without its NUL, its length pointing past the node: the
  // node's end bounds it.
  Node string = Text(u"CompanyName", u"abc");
  string.value.resize(6);
  string.valueLength = 200;
  std::vector<uint8_t> block = Serialise(Tree(string));
  std::string value;
  ASSERT_TRUE(tqp::VersionBlockString(block, "\\StringFileInfo\\041103a4\\CompanyName", value));
  EXPECT_EQ(value, "abc");
}

TEST(VersionBlock, TranslationNeedsFourBytes) {
  Node root = Tree(Text(u"CompanyName", u"x"));
  root.children[1].children[0].value.resize(2);
  root.children[1].children[0].valueLength = 2;
  uint32_t pair = 7;
  EXPECT_FALSE(tqp::VersionBlockTranslation(Serialise(root), &pair));
  EXPECT_EQ(pair, 7u);
}

}  // namespace
