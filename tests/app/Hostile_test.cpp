// The updater's inputs as a hostile package or a tampered installation would
// make them: links and special files, names and paths, cut descriptions and
// oversized logs, and bounds on the work the inputs can ask for.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/FileList.h"
#include "app/Install.h"
#include "app/UpdateInfo.h"
#include "platform/tqPlatform.h"
#include "tests/support/tqTestSupport.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A package folder as the current directory, with helpers to fill it.
class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tqp::GetCurrentDirectory(saved_, sizeof saved_));
    ASSERT_TRUE(tqp::SetCurrentDirectory(dir_.Path().c_str()));
  }
  void TearDown() override { tqp::SetCurrentDirectory(saved_); }
  void Put(const std::string& relative, const std::string& bytes = "x") {
    char parent[1024];
    if (tqParentFolderOf(relative.c_str(), parent)) {
      ASSERT_TRUE(tqCreateFolderTree((dir_ / parent).c_str(), false));
    }
    ASSERT_TRUE(tqtest::WriteFile(dir_ / relative, bytes));
  }
#ifndef _WIN32
  std::string System(const std::string& relative) {
    std::string system;
    EXPECT_TRUE(tqp::ToSystemPath((dir_ / relative).c_str(), system));
    return system;
  }
#endif
  tqtest::TempDir dir_;
  char saved_[1024];
};

// ------------------------------------------------------------ links and special files
#ifndef _WIN32

TEST_F(PackageTest, ScanRefusesLinksAndSpecialFilesNamingThem) {
  tqtest::TempDir outside;
  ASSERT_TRUE(tqtest::WriteFile(outside / "secret", "outside"));
  std::string target;
  ASSERT_TRUE(tqp::ToSystemPath(outside.Path().c_str(), target));
  struct {
    const char* label;
    const char* name;
    Refusal::Kind kind;
  } rows[] = {
      {"link to a file outside", "sub\\passwd", Refusal::LINK},
      {"link to a folder outside", "sub\\away", Refusal::LINK},
      {"link loop", "sub\\loop", Refusal::LINK},
      {"dangling link", "sub\\dangling", Refusal::LINK},
      {"named pipe", "sub\\pipe", Refusal::SPECIAL_FILE},
  };
  for (const auto& row : rows) {
    tqtest::RemoveTree(dir_ / "data");
    Put("data\\A.txt");
    Put("data\\sub\\B.txt");
    std::string at = System(std::string("data\\") + row.name);
    std::string name = row.name;
    int made = name == "sub\\passwd"   ? symlink((target + "/secret").c_str(), at.c_str())
               : name == "sub\\away"   ? symlink(target.c_str(), at.c_str())
               : name == "sub\\loop"   ? symlink(".", at.c_str())
               : name == "sub\\dangling" ? symlink("/nonexistent/x", at.c_str())
                                         : mkfifo(at.c_str(), 0600);
    ASSERT_EQ(made, 0) << row.label;
    ASSERT_TRUE(tqp::SetCurrentDirectory((dir_ / "data").c_str()));
    FileList list;
    Refusal why;
    EXPECT_FALSE(ScanFolder("", list, &why)) << row.label;
    EXPECT_EQ(why.kind, row.kind) << row.label;
    EXPECT_EQ(why.path, row.name) << row.label;
    EXPECT_NE(why.Describe().find(row.name), std::string::npos) << row.label;
    ASSERT_TRUE(tqp::SetCurrentDirectory(dir_.Path().c_str()));
  }
}

TEST_F(PackageTest, DestinationLinksAreRefusedBeforeAnythingIsWritten) {
  tqtest::TempDir outside;
  std::string target;
  ASSERT_TRUE(tqp::ToSystemPath(outside.Path().c_str(), target));
  ASSERT_TRUE(tqtest::WriteFile(outside / "victim", "keep"));
  const FileList files = {"system\\engine.dll", "readme.txt", "data\\deep\\a.bin"};
  struct {
    const char* label;
    const char* link;        // in the installation
    const char* linkTarget;  // below the outside folder
  } rows[] = {
      {"folder on the way", "system", ""},
      {"the file itself", "readme.txt", "/victim"},
      {"a deeper folder", "data\\deep", ""},
      {"install.log", "install.log", "/victim"},
  };
  for (const auto& row : rows) {
    tqtest::RemoveTree(dir_ / "inst");
    Put("inst\\data\\keep.txt");
    std::string link = System(std::string("inst\\") + row.link);
    ASSERT_EQ(symlink((target + row.linkTarget).c_str(), link.c_str()), 0) << row.label;
    Refusal why;
    EXPECT_FALSE(CheckDestinations((dir_ / "inst").c_str(), files, &why)) << row.label;
    EXPECT_EQ(why.kind, Refusal::LINK) << row.label;
    EXPECT_EQ(why.path, dir_ / "inst\\" + row.link) << row.label;
  }
  tqtest::RemoveTree(dir_ / "inst");
  Put("inst\\system\\old.dll");
  EXPECT_TRUE(CheckDestinations((dir_ / "inst").c_str(), files));  // missing parts are made later
  // The log step refuses a linked install.log on its own, and the write of
  // any file never goes through a link planted after the checks.
  std::string log = System("inst\\install.log");
  ASSERT_EQ(symlink((target + "/victim").c_str(), log.c_str()), 0);
  Refusal why;
  EXPECT_FALSE(UpdateInstallLog((dir_ / "inst").c_str(), files, &why));
  EXPECT_EQ(why.kind, Refusal::LINK);
  EXPECT_EQ(tqp::FileOpen((dir_ / "inst\\install.log").c_str(), tqp::ACCESS_WRITE, 0,
                          tqp::DISP_CREATE_ALWAYS, tqp::ATTR_NORMAL),
            tqp::INVALID_FILE);
  EXPECT_EQ(tqp::LastError(), tqp::ERR_ACCESS_DENIED);
  EXPECT_EQ(tqtest::ReadFile(outside / "victim"), "keep");
}

// Every file the updater reads opens without waiting for a writer.
TEST_F(PackageTest, NamedPipesAreRefusedWithoutBlocking) {
  ASSERT_EQ(mkfifo(System("updateinfo.xml").c_str(), 0600), 0);
  UpdateInfo info;
  info.Clear();
  Refusal why;
  EXPECT_FALSE(LoadDescription(info, &why));
  EXPECT_EQ(why.kind, Refusal::SPECIAL_FILE);
  ASSERT_TRUE(tqCreateFolderTree((dir_ / "inst\\config").c_str(), false));
  ASSERT_EQ(mkfifo(System("inst\\config\\startup.xml").c_str(), 0600), 0);
  EXPECT_EQ(ReadInstalledVersion((dir_ / "inst").c_str()), 0u);
  ASSERT_EQ(mkfifo(System("inst\\install.log").c_str(), 0600), 0);
  EXPECT_FALSE(UpdateInstallLog((dir_ / "inst").c_str(), {"a.txt"}, &why));
  EXPECT_EQ(why.kind, Refusal::SPECIAL_FILE);
  char* text;
  uint32_t size;
  EXPECT_FALSE(ReadWholeFile((dir_ / "inst\\install.log").c_str(), &text, &size));
}

// ------------------------------------------------------------ names and paths

TEST_F(PackageTest, NamesWithoutAShiftJisFormStopTheScan) {
  struct {
    const char* name;  // UTF-8, as the system keeps it
    const char* shown;
  } rows[] = {{"zz_\xF0\x9F\x98\x80.txt", "表\\zz_?.txt"}, {"aa_\xC3\xA9.txt", "表\\aa_?.txt"}};
  for (const auto& row : rows) {
    const char* name = row.name;
    tqtest::RemoveTree(dir_ / "data");
    for (int i = 0; i < 24; ++i) Put("data\\f" + std::to_string(i) + ".txt");
    Put("data\\表\\ok.txt");
    std::string folder = System("data\\表");
    ASSERT_TRUE(tqtest::WriteFile(dir_ / "data\\表\\ok2.txt", "y"));
    FILE* f = fopen((folder + "/" + name).c_str(), "w");
    ASSERT_TRUE(f);
    fclose(f);
    ASSERT_TRUE(tqp::SetCurrentDirectory((dir_ / "data").c_str()));
    FileList list;
    Refusal why;
    EXPECT_FALSE(ScanFolder("", list, &why)) << name;
    EXPECT_EQ(why.kind, Refusal::NAME_NOT_IN_CODE_PAGE) << name;
    EXPECT_EQ(why.path, row.shown) << name;
    ASSERT_TRUE(tqp::SetCurrentDirectory(dir_.Path().c_str()));
    unlink((folder + "/" + name).c_str());  // no search can name it to remove it
  }
}

#endif  // !_WIN32

TEST_F(PackageTest, PathsLongerThanTheScanBufferAreRefusedNotSkipped) {
  // Nested folders until the relative path passes 1023 bytes.
  std::string relative = "data";
  std::string part(200, 'd');
  for (int i = 0; i < 5; ++i) relative += "\\" + part;
  std::string made = dir_.Path();
  for (size_t at = 0; at != std::string::npos;) {
    size_t next = relative.find('\\', at);
    made += "\\" + relative.substr(at, next == std::string::npos ? next : next - at);
    at = next == std::string::npos ? next : next + 1;
    if (!tqp::CreateDirectory(made.c_str())) GTEST_SKIP() << "the system refuses such long paths";
  }
  ASSERT_TRUE(tqtest::WriteFile(made + "\\" + std::string(30, 'f'), "x"));
  ASSERT_TRUE(tqp::SetCurrentDirectory((dir_ / "data").c_str()));
  FileList list;
  Refusal why;
  EXPECT_FALSE(ScanFolder("", list, &why));
  EXPECT_EQ(why.kind, Refusal::PATH_TOO_LONG);
  ASSERT_TRUE(tqp::SetCurrentDirectory(dir_.Path().c_str()));
}

TEST(PathJoinSized, MeasuresBeforeWriting) {
  // Every length around the buffer's end: either the exact join or a refusal
  // that leaves the guard bytes after the buffer alone.
  for (size_t size = 1; size < 64; ++size) {
    for (size_t a = 0; a < 64; a += 3) {
      std::string first(a, 'a'), second = "name.txt";
      if (a > 2 && a % 2) first += "\\";
      char buffer[128];
      memset(buffer, 0x55, sizeof buffer);
      bool ok = tqPathJoinSized(buffer, size, first.c_str(), second.c_str());
      char expected[256];
      tqPathJoin(expected, 2, first.c_str(), second.c_str());
      EXPECT_EQ(ok, strlen(expected) < size) << size << " " << first;
      if (ok) {
        EXPECT_STREQ(buffer, expected);
      } else {
        EXPECT_EQ(buffer[0], 0);
      }
      for (size_t i = size; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x55) << size << " " << a;
    }
  }
  char buffer[8];
  EXPECT_TRUE(tqPathJoinSized(buffer, sizeof buffer, "C:\\", "ab"));
  EXPECT_STREQ(buffer, "C:\\ab");
  EXPECT_FALSE(tqPathJoinSized(buffer, 0, "a", "b"));
}

TEST(InstallPath, NormalisedInsideItsDrive) {
  struct {
    const char* in;
    const char* out;  // none: refused
    Refusal::Kind kind;
  } rows[] = {
      {"C:\\Games\\Demo", "C:\\Games\\Demo", Refusal::NONE},
      {"c:/Games//Demo/", "c:\\Games\\Demo", Refusal::NONE},
      {"C:\\..\\..\\victim", "C:\\victim", Refusal::NONE},
      {"C:\\Games\\.\\Demo\\..\\..\\..\\x", "C:\\x", Refusal::NONE},
      {"C:\\", "C:\\", Refusal::NONE},
      {"D:\\表\\ソ", "D:\\表\\ソ", Refusal::NONE},  // ソ ends in 0x5C: no separator
      {"C:\\ソ..\\x\\..", "C:\\ソ..", Refusal::NONE},  // "ソ.." is a name, not ".."
      {"", nullptr, Refusal::NOT_ABSOLUTE},
      {"Games\\DemoGame", nullptr, Refusal::NOT_ABSOLUTE},
      {"\\Games", nullptr, Refusal::NOT_ABSOLUTE},
      {"C:Games", nullptr, Refusal::NOT_ABSOLUTE},
      {"\\\\server\\share", nullptr, Refusal::NOT_ABSOLUTE},
      {" C:\\Games", nullptr, Refusal::NOT_ABSOLUTE},
  };
  for (const auto& row : rows) {
    char folder[260] = {};
    strcpy(folder, row.in);
    Refusal why;
    EXPECT_EQ(NormaliseInstallFolder(folder, &why), row.out != nullptr) << row.in;
    EXPECT_EQ(why.kind, row.kind) << row.in;
    if (row.out) {
      EXPECT_STREQ(folder, row.out) << row.in;
    }
  }
}

#ifndef _WIN32
// The installer's record in a Wine prefix names the installation; only an
// absolute path to an existing folder inside its drive is taken.
TEST(InstallPath, LookupRefusesWhatIsNotAnInstallation) {
  tqtest::TempDir prefix;
  std::string system;
  ASSERT_TRUE(tqp::ToSystemPath(prefix.Path().c_str(), system));
  ASSERT_TRUE(tqCreateFolderTree((prefix / "dosdevices").c_str(), false));
  ASSERT_TRUE(tqCreateFolderTree((prefix / "drive_c\\ProgramData\\b").c_str(), false));
  ASSERT_TRUE(tqCreateFolderTree((prefix / "drive_c\\victim").c_str(), false));
  ASSERT_TRUE(tqCreateFolderTree((prefix / "victim").c_str(), false));  // outside drive_c
  ASSERT_EQ(symlink("../drive_c", (system + "/dosdevices/c:").c_str()), 0);
  const char* old = getenv("WINEPREFIX");
  std::string keep = old ? old : "";
  setenv("WINEPREFIX", system.c_str(), 1);
  struct {
    const char* path;
    bool found;
    const char* folder;
    Refusal::Kind kind;
  } rows[] = {
      {"", false, "", Refusal::NOT_ABSOLUTE},
      {"Games\\DemoGame", false, "", Refusal::NOT_ABSOLUTE},
      {"C:\\Games\\Missing", false, "", Refusal::NOT_A_FOLDER},
      {"C:\\ProgramData\\b\\game.xml", false, "", Refusal::NOT_A_FOLDER},
      // On Windows "C:\.." is "C:\": the prefix's drive_c\victim, never the
      // prefix's own victim folder.
      {"C:\\..\\..\\victim", true, "C:\\victim", Refusal::NONE},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(tqtest::WriteFile(prefix / "drive_c\\ProgramData\\b\\game.xml",
                                  std::string("<path>") + row.path + "</path>"));
    char folder[260] = {};
    Refusal why;
    EXPECT_EQ(LookupInstallation("b", "game", folder, &why), row.found) << row.path;
    EXPECT_EQ(why.kind, row.kind) << row.path;
    EXPECT_STREQ(folder, row.folder) << row.path;
  }
  std::string mapped;
  ASSERT_TRUE(tqp::ToSystemPath("C:\\..\\..\\victim\\x", mapped));
  EXPECT_EQ(mapped, system + "/dosdevices/c:/victim/x");
  if (old)
    setenv("WINEPREFIX", keep.c_str(), 1);
  else
    unsetenv("WINEPREFIX");
}
#endif

#ifdef _WIN32
// Windows keeps names in UTF-16: a name the ANSI code page cannot hold must
// stop the scan instead of coming back as '?' or a look-alike.
TEST_F(PackageTest, NamesWithoutACodePageFormStopTheScanOnWindows) {
  struct {
    const wchar_t* name;
    const char* shown;  // the start of it: what follows may be '?' or a look-alike
  } rows[] = {{L"zz_\U0001F600.txt", "sub\\zz_"}, {L"aa_\u00E9.txt", "sub\\aa_"}};
  for (const auto& row : rows) {
    const wchar_t* name = row.name;
    tqtest::RemoveTree(dir_ / "data");
    Put("data\\a.txt");
    Put("data\\sub\\b.txt");
    wchar_t folder[600];
    ASSERT_GT(tqp::WideFromNarrow((dir_ / "data\\sub").c_str(), folder, 600), 0);
    std::wstring path = std::wstring(folder) + L"\\" + name;
    FILE* f = _wfopen(path.c_str(), L"w");
    ASSERT_TRUE(f);
    fclose(f);
    ASSERT_TRUE(tqp::SetCurrentDirectory((dir_ / "data").c_str()));
    FileList list;
    Refusal why;
    EXPECT_FALSE(ScanFolder("", list, &why));
    EXPECT_EQ(why.kind, Refusal::NAME_NOT_IN_CODE_PAGE);
    EXPECT_EQ(why.path.substr(0, 7), row.shown);
    ASSERT_TRUE(tqp::SetCurrentDirectory(dir_.Path().c_str()));
    _wunlink(path.c_str());  // no search can name it to remove it
  }
}

// A junction in the package or on the way into the installation.
TEST_F(PackageTest, JunctionsAreRefusedOnWindows) {
  Put("data\\a.txt");
  Put("outside\\x.txt");
  std::string command = "mklink /J \"" + (dir_ / "data\\j") + "\" \"" + (dir_ / "outside") + "\" >NUL 2>NUL";
  uint32_t made = system(command.c_str()) == 0 ? tqp::GetAttributesNoFollow((dir_ / "data\\j").c_str())
                                                : tqp::ATTR_INVALID;
  // Wine 8 answers mklink without making anything.
  if (made == tqp::ATTR_INVALID || !(made & tqp::ATTR_REPARSE_POINT)) GTEST_SKIP() << "no junctions here";
  ASSERT_TRUE(tqp::SetCurrentDirectory((dir_ / "data").c_str()));
  FileList list;
  Refusal why;
  EXPECT_FALSE(ScanFolder("", list, &why));
  EXPECT_EQ(why.kind, Refusal::LINK);
  EXPECT_EQ(why.path, "j");
  ASSERT_TRUE(tqp::SetCurrentDirectory(dir_.Path().c_str()));
  EXPECT_FALSE(CheckDestinations((dir_ / "data").c_str(), {"j\\x.txt"}, &why));
  EXPECT_EQ(why.kind, Refusal::LINK);
}

// On Windows "C:\.." is "C:\": a record that climbs above its drive's root
// names the same folder as one that does not.
TEST(InstallPath, LookupStaysOnItsDriveOnWindows) {
  char shared[260];
  ASSERT_TRUE(tqShellFolder(8, shared));
  std::string brand = "tqtest-brand-" + std::to_string(tqp::TickCount());
  std::string folder = std::string(shared) + "\\" + brand;
  ASSERT_TRUE(tqCreateFolderTree(folder.c_str(), false));
  tqtest::TempDir game;
  ASSERT_EQ(game.Path()[1], ':');
  std::string climbing = game.Path().substr(0, 3) + "..\\..\\" + game.Path().substr(3);
  ASSERT_TRUE(tqtest::WriteFile(folder + "\\game.xml", "<path>" + climbing + "</path>"));
  char found[260];
  EXPECT_TRUE(LookupInstallation(brand.c_str(), "game", found));
  EXPECT_STREQ(found, game.Path().c_str());
  ASSERT_TRUE(tqtest::WriteFile(folder + "\\game.xml", "<path>Games\\Demo</path>"));
  Refusal why;
  EXPECT_FALSE(LookupInstallation(brand.c_str(), "game", found, &why));
  EXPECT_EQ(why.kind, Refusal::NOT_ABSOLUTE);
  tqtest::RemoveTree(folder);
}
#endif

// ------------------------------------------------------------ description and log

class HostileDescription : public PackageTest {
 protected:
  bool Load(const std::string& body, Refusal* why) {
    EXPECT_TRUE(tqtest::WriteFile(dir_ / "updateinfo.xml", "<?xml version=\"1.0\"?>\r\n" + body));
    info_.Clear();
    return LoadDescription(info_, why);
  }
  UpdateInfo info_;
};

const char kMessages[] =
    "<message><wndtitle>t</wndtitle><intoro>i</intoro><success>s</success>"
    "<error_version>v</error_version><error_inst>n</error_inst><error_copy>c</error_copy>"
    "</message>";

TEST_F(HostileDescription, CutOrIncompleteDescriptionsAreRefused) {
  const std::string whole = std::string("<document><version><major>1</major></version>"
                                        "<language><lang00><code>1041</code><prifix>jp</prifix>"
                                        "</lang00></language><jp>") +
                            kMessages + "</jp></document>";
  Refusal why;
  ASSERT_TRUE(Load(whole, &why));
  ASSERT_TRUE(ChooseLanguage(info_, &why));
  EXPECT_STREQ(info_.current.intoro, "i");
  // Cut anywhere before the root's end tag: refused, whatever the parser
  // made of the rest.
  for (size_t cut : {whole.size() / 2, whole.find("<success>") + 3, whole.size() - 3}) {
    Refusal cutWhy;
    EXPECT_FALSE(Load(whole.substr(0, cut), &cutWhy)) << cut;
    EXPECT_EQ(cutWhy.kind, Refusal::DESCRIPTION_CUT) << cut;
  }
  // Whole, but the chosen language lacks a message: the boxes would be blank.
  std::string noSection = whole.substr(0, whole.find("<jp>")) + "</document>";
  ASSERT_TRUE(Load(noSection, &why));
  Refusal chooseWhy;
  EXPECT_FALSE(ChooseLanguage(info_, &chooseWhy));
  EXPECT_EQ(chooseWhy.kind, Refusal::MISSING_MESSAGES);
  std::string noCopy = whole;
  noCopy.erase(noCopy.find("<error_copy>"), strlen("<error_copy>c</error_copy>"));
  ASSERT_TRUE(Load(noCopy, &why));
  EXPECT_FALSE(ChooseLanguage(info_, &chooseWhy));
  // Required versions out of a 16-bit field refuse the description.
  for (const char* version : {"<major>65536</major>", "<minor>-1</minor>", "<major>99999999999999</major>"}) {
    std::string text = whole;
    text.replace(text.find("<major>1</major>"), strlen("<major>1</major>"), version);
    Refusal versionWhy;
    EXPECT_FALSE(Load(text, &versionWhy)) << version;
    EXPECT_EQ(versionWhy.kind, Refusal::VERSION_RANGE) << version;
  }
}

TEST_F(HostileDescription, LanguageRecordsAreCappedAndIndexed) {
  // Many records with the same prefix and many same-named siblings: the
  // answers must still be those of the path queries, and only the first
  // records are read.
  std::string body = "<document><language>";
  for (int i = 0; i < 20000; ++i) {
    char record[128];
    snprintf(record, sizeof record, "<lang%02d><code>%d</code><prifix>p%d</prifix></lang%02d>", i,
             1000 + i, i % 3, i);
    body += record;
  }
  body += "</language>";
  // Same-named sections, one without the text asked for: the index must give
  // the answer the path queries give (they search same-named siblings).
  for (int i = 0; i < 3; ++i) {
    std::string p = "p" + std::to_string(i);
    body += "<" + p + "><message><wndtitle>first" + p + "</wndtitle></message></" + p + ">";
    body += "<" + p + "><message><intoro>x</intoro></message></" + p + ">";
    body += "<" + p + "><message><wndtitle>last" + p + "</wndtitle></message></" + p + ">";
  }
  body += "</document>";
  Refusal why;
  ASSERT_TRUE(Load(body, &why));
  ASSERT_EQ(info_.languages.size(), 3u);
  EXPECT_EQ(info_.languages.at("p1").code, 1001);  // the first record of a key
  tqXml xml;
  std::string text = "<?xml version=\"1.0\"?>" + body;
  ASSERT_EQ(xml.OpenMem(text.data(), text.size()), 1);
  for (const char* p : {"p0", "p1", "p2"}) {
    char title[256], intoro[512];
    xml.GetStr(title, sizeof title, "", 3, p, "message", "wndtitle");
    xml.GetStr(intoro, sizeof intoro, "", 3, p, "message", "intoro");
    EXPECT_NE(title[0], 0) << p;
    EXPECT_STREQ(info_.languages.at(p).wndtitle, title) << p;
    EXPECT_STREQ(info_.languages.at(p).intoro, intoro) << p;
  }
  std::string big(kMaxDescriptionBytes + 1, ' ');
  EXPECT_FALSE(Load("<document>" + big + "</document>", &why));
  EXPECT_EQ(why.kind, Refusal::TOO_LARGE);
}

TEST(HostileLog, OversizedLogIsRefusedAndKept) {
  tqtest::TempDir dir;
  std::string old(kMaxInstallLogBytes + 1, '\n');
  ASSERT_TRUE(tqtest::WriteFile(dir / "install.log", old));
  Refusal why;
  EXPECT_FALSE(UpdateInstallLog(dir.Path().c_str(), {"a.txt"}, &why));
  EXPECT_EQ(why.kind, Refusal::TOO_LARGE);
  EXPECT_EQ(tqtest::ReadFile(dir / "install.log").size(), old.size());
  // Just below the limit, a log of nothing but line breaks still loads, and
  // its lines collapse into one.
  old.resize(kMaxInstallLogBytes);
  ASSERT_TRUE(tqtest::WriteFile(dir / "install.log", old));
  EXPECT_TRUE(UpdateInstallLog(dir.Path().c_str(), {"a.txt"}, &why));
  EXPECT_EQ(tqtest::ReadFile(dir / "install.log"), "\r\n\"a.txt\"\r\n");
}

}  // namespace
