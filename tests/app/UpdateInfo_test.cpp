// The update description and the language choice, from real files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/UpdateInfo.h"
#include "platform/tqPlatform.h"
#include "tests/support/tqTestSupport.h"

namespace {

// Runs a test body with a temporary folder as the current directory.
class DescriptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tqp::GetCurrentDirectory(saved_, sizeof saved_));
    ASSERT_TRUE(tqp::SetCurrentDirectory(dir_.Path().c_str()));
    info_.Clear();
  }
  void TearDown() override { tqp::SetCurrentDirectory(saved_); }
  // Every description starts with the declaration.
  bool Load(const std::string& body) {
    std::string xml = body.rfind("<?xml", 0) == 0 ? body : "<?xml version=\"1.0\"?>\r\n" + body;
    EXPECT_TRUE(tqtest::WriteFile(dir_ / "updateinfo.xml", xml));
    return LoadDescription(info_);
  }

  tqtest::TempDir dir_;
  char saved_[1024];
  UpdateInfo info_;
};

const char* kFull = R"(<?xml version="1.0" encoding="Shift_JIS"?>
<document>
  <brand>ExampleBrand</brand>
  <app>example</app>
  <instpath>C:\Games</instpath>
  <mutex>EXAMPLE_GAME</mutex>
  <confmutex>EXAMPLE_CONF</confmutex>
  <version><major>1</major><minor>2</minor></version>
  <language>
    <default>en</default>
    <lang00><code>1041</code><prifix>jp</prifix><lang>日本語</lang></lang00>
    <lang01><code>1033</code><prifix>en</prifix><lang>English</lang></lang01>
  </language>
  <jp>
    <message>
      <wndtitle>アップデート</wndtitle>
      <intoro>更新します。\nよろしいですか？</intoro>
      <success>完了しました。</success>
      <error_version>バージョンが古い\nです。</error_version>
      <error_inst>見つかりません。</error_inst>
      <error_copy>失敗\nしました。</error_copy>
    </message>
    <message_sys><sellang>言語</sellang><copying>コピー中\nです</copying></message_sys>
    <message_error><language>言語がありません</language><boot>起動中です</boot><title>エラー</title></message_error>
  </jp>
  <en>
    <message><wndtitle>Update</wndtitle><intoro>Update now?\nReally?</intoro></message>
  </en>
</document>
)";

TEST_F(DescriptionTest, LoadsEveryFieldWithJapaneseTexts) {
  ASSERT_TRUE(Load(kFull));
  EXPECT_STREQ(info_.brand, "ExampleBrand");
  EXPECT_STREQ(info_.app, "example");
  EXPECT_STREQ(info_.instpath, "C:\\Games");
  EXPECT_STREQ(info_.mutex, "EXAMPLE_GAME");
  EXPECT_STREQ(info_.confmutex, "EXAMPLE_CONF");
  EXPECT_STREQ(info_.version_major, "1");
  EXPECT_STREQ(info_.version_minor, "2");
  EXPECT_STREQ(info_.default_language, "en");
  ASSERT_EQ(info_.languages.size(), 2u);
  const LanguageEntry& jp = info_.languages.at("jp");
  EXPECT_EQ(jp.code, 1041);
  EXPECT_STREQ(jp.lang, "日本語");
  EXPECT_STREQ(jp.wndtitle, "アップデート");
  EXPECT_STREQ(jp.intoro, "更新します。\nよろしいですか？");  // one line feed byte
  EXPECT_STREQ(jp.error_version, "バージョンが古い\nです。");
  // Only the first five texts turn backslash-n into a line feed.
  EXPECT_STREQ(jp.error_copy, "失敗\\nしました。");
  EXPECT_STREQ(jp.copying, "コピー中\\nです");
  EXPECT_STREQ(jp.sellang, "言語");
  EXPECT_STREQ(jp.error_language, "言語がありません");
  EXPECT_STREQ(jp.error_boot, "起動中です");
  EXPECT_STREQ(jp.error_title, "エラー");
  EXPECT_STREQ(info_.languages.at("en").intoro, "Update now?\nReally?");
  EXPECT_STREQ(info_.languages.at("en").success, "");

  ASSERT_TRUE(ChooseLanguage(info_, 1041));
  EXPECT_STREQ(info_.current.wndtitle, "アップデート");
  ASSERT_TRUE(ChooseLanguage(info_, 1033));
  EXPECT_STREQ(info_.current.wndtitle, "Update");
  ASSERT_TRUE(ChooseLanguage(info_, 1031));  // no match: the default key "en"
  EXPECT_EQ(info_.current.code, 1033);
}

TEST_F(DescriptionTest, MissingOrUnreadableFileFails) {
  EXPECT_FALSE(LoadDescription(info_));
  ASSERT_TRUE(tqtest::WriteFile(dir_ / "updateinfo.xml", "<document></document>"));
  EXPECT_FALSE(LoadDescription(info_));  // no declaration
  EXPECT_TRUE(info_.languages.empty());
  EXPECT_FALSE(ChooseLanguage(info_, 1041));
  EXPECT_EQ(info_.current.code, 0);
}

TEST_F(DescriptionTest, EmptyDocumentKeepsDefaults) {
  ASSERT_TRUE(Load("<document></document>"));
  EXPECT_STREQ(info_.default_language, "jp");
  EXPECT_STREQ(info_.version_major, "");
  EXPECT_TRUE(info_.languages.empty());
}

TEST_F(DescriptionTest, EmptyDefaultElementGivesTheEmptyKey) {
  ASSERT_TRUE(Load("<document><language><default></default></language></document>"));
  EXPECT_STREQ(info_.default_language, "");
}

TEST_F(DescriptionTest, ReadingStopsAtTheFirstRecordWithoutCode) {
  ASSERT_TRUE(Load("<document><language>"
                   "<lang00><prifix>a</prifix></lang00>"
                   "<lang01><code>1041</code><prifix>b</prifix></lang01>"
                   "</language></document>"));
  EXPECT_TRUE(info_.languages.empty());
}

TEST_F(DescriptionTest, CodeValues) {
  struct {
    const char* code;
    bool stored;
    uint16_t value;
  } rows[] = {
      {"65535", false, 0}, {"0xffff", false, 0}, {"-1", false, 0}, {"0", true, 0},
      {"abc", true, 0},    {"12.", true, 0},     {"1041", true, 1041}, {"131089", true, 17},
  };
  for (const auto& row : rows) {
    info_.Clear();
    std::string xml = std::string("<document><language><lang00><code>") + row.code +
                      "</code><prifix>p</prifix></lang00><lang01><code>5</code><prifix>q</prifix>"
                      "</lang01></language></document>";
    ASSERT_TRUE(Load(xml));
    if (row.stored) {
      ASSERT_EQ(info_.languages.size(), 2u) << row.code;
      EXPECT_EQ(info_.languages.at("p").code, row.value) << row.code;
    } else {
      EXPECT_TRUE(info_.languages.empty()) << row.code;
    }
  }
}

TEST_F(DescriptionTest, DuplicatePrefixKeepsTheFirstRecord) {
  ASSERT_TRUE(Load("<document><language>"
                   "<lang00><code>1</code><prifix>x</prifix><lang>first</lang></lang00>"
                   "<lang01><code>2</code><prifix>x</prifix><lang>second</lang></lang01>"
                   "<lang02><code>3</code><prifix>y</prifix></lang02>"
                   "</language></document>"));
  ASSERT_EQ(info_.languages.size(), 2u);
  EXPECT_STREQ(info_.languages.at("x").lang, "first");
  ASSERT_TRUE(ChooseLanguage(info_, 2));  // the dropped record's code never matches
  EXPECT_EQ(info_.current.code, 1);       // no default "jp" either: smallest key "x"
}

TEST_F(DescriptionTest, ChoiceOrder) {
  ASSERT_TRUE(Load("<document><language><default>m</default>"
                   "<lang00><code>7</code><prifix>z</prifix></lang00>"
                   "<lang01><code>7</code><prifix>b</prifix></lang01>"
                   "<lang02><code>8</code><prifix>m</prifix></lang02>"
                   "<lang03><code>9</code><prifix>mm</prifix></lang03>"
                   "</language></document>"));
  ASSERT_TRUE(ChooseLanguage(info_, 7));  // first in key order among equal codes
  EXPECT_EQ(info_.languages.begin()->first, "b");
  EXPECT_EQ(info_.current.code, 7);
  ASSERT_TRUE(ChooseLanguage(info_, 1));  // default key, exact match only
  EXPECT_EQ(info_.current.code, 8);
  strcpy(info_.default_language, "n");
  ASSERT_TRUE(ChooseLanguage(info_, 1));  // nothing: the smallest key
  EXPECT_EQ(info_.current.code, 7);

  info_.Clear();
  ASSERT_TRUE(Load("<document><language><lang00><code>3</code><prifix>only</prifix></lang00>"
                   "</language></document>"));
  ASSERT_TRUE(ChooseLanguage(info_, 1041));  // one language: chosen whatever its code
  EXPECT_EQ(info_.current.code, 3);
}

TEST_F(DescriptionTest, LongValuesAreCutToTheirFields) {
  std::string longText(2000, 'w');
  std::string jp(300, 'x');
  std::string xml = "<document><brand>" + longText + "</brand><language><lang00><code>1</code>"
                    "<prifix>" + std::string(100, 'p') + "</prifix><lang>" + longText + "</lang>"
                    "</lang00></language><" + std::string(100, 'p') + "><message><intoro>" +
                    longText + "</intoro><wndtitle>" + jp + "</wndtitle></message></" +
                    std::string(100, 'p') + "></document>";
  ASSERT_TRUE(Load(xml));
  EXPECT_EQ(strlen(info_.brand), 259u);
  ASSERT_EQ(info_.languages.size(), 1u);
  EXPECT_EQ(info_.languages.begin()->first, std::string(63, 'p'));
  const LanguageEntry& e = info_.languages.begin()->second;
  EXPECT_EQ(strlen(e.lang), 127u);
  // The prefix was cut, so its texts are not found: nothing spills over.
  EXPECT_STREQ(e.intoro, "");
}

TEST(LineFeeds, OnlyBackslashLowerN) {
  struct {
    const char* in;
    const char* out;
  } rows[] = {{"a\\nb", "a\nb"}, {"a\\Nb", "a\\Nb"}, {"end\\", "end\\"},
              {"\\n\\n", "\n\n"}, {"\\\\n", "\\\n"}, {"表\\n", "表\n"},
              {"表n", "表n"}, {"ソn\\n", "ソn\n"}};
  for (const auto& row : rows) {
    char text[64];
    strcpy(text, row.in);
    RewriteLineFeeds(text);
    EXPECT_STREQ(text, row.out) << row.in;
  }
}

}  // namespace
