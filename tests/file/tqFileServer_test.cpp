// The file server: name splitting, the four search modes over folders,
// archives and "lst" groups, aliases, the OpenFile flags, LoadFile, the
// single-instance rule and the preload worker.
#include "file/tqFileServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "file/tqBigFile.h"
#include "file/tqFile.h"
#include "file/tqMemFile.h"
#include "platform/tqPlatform.h"
#include "tests/support/tqTestSupport.h"

namespace {

std::string Contents(tqFileBase* file) {
  if (!file) return "<none>";
  std::string out(file->GetSize() > 0 ? (size_t)file->GetSize() : 0, '\0');
  if (!out.empty() && file->Read(out.data(), (uint32_t)out.size()) != (int)out.size()) return "<short>";
  return out;
}

std::string ReadAndClose(tqFileBase* file) {
  std::string out = Contents(file);
  delete file;
  return out;
}

class FileServerTest : public testing::Test {
 protected:
  void SetUp() override {
    CreatePrivateHeap(10485760);
    ASSERT_TRUE(tqp::GetCurrentDirectory(savedDir_, sizeof savedDir_));
    ASSERT_TRUE(tqp::SetCurrentDirectory(dir_.Path().c_str()));
    ASSERT_EQ(nullptr, g_tqFileServer);
  }
  void TearDown() override { tqp::SetCurrentDirectory(savedDir_); }

  std::string Write(const std::string& relative, const std::string& bytes) {
    std::string path = dir_ / relative;
    size_t cut = relative.rfind('\\');
    if (cut != std::string::npos) tqp::CreateDirectory((dir_ / relative.substr(0, cut)).c_str());
    EXPECT_TRUE(tqtest::WriteFile(path, bytes));
    return path;
  }

  std::string Archive(const char* file, const std::vector<std::pair<std::string, std::string>>& items,
                      bool encrypt = true, uint32_t capacity = 8) {
    std::string path = dir_ / file;
    tqArchiveWriter writer;
    EXPECT_EQ(1, writer.Begin(path.c_str(), encrypt, capacity));
    for (auto& item : items)
      EXPECT_EQ(1, writer.Add(item.first.c_str(), item.second.data(), (uint32_t)item.second.size()));
    EXPECT_EQ(1, writer.Finish());
    return path;
  }

  tqtest::TempDir dir_;
  char savedDir_[1024] = {};
};

TEST(tqFileServerNames, SplitAtTheFirstSlash) {
  struct Case {
    const char *name, *group, *file;
  } cases[] = {{"a/b/c", "a", "b/c"},
               {"abc", "", "abc"},
               {"/x", "", "x"},
               {"g/", "g", ""},
               {"config.int/gamedef.xml", "config.int", "gamedef.xml"},
               {"\x95\x5C/\x83\x61", "\x95\x5C", "\x83\x61"}};
  for (const Case& c : cases) {
    std::string group, file;
    tqFileServer::SplitName(c.name, group, file);
    EXPECT_EQ(c.group, group) << c.name;
    EXPECT_EQ(c.file, file) << c.name;
  }
  EXPECT_TRUE(tqFileServer::SameName("Data.LST", "data.lst"));
  EXPECT_FALSE(tqFileServer::SameName("\x83\x61", "\x83\x41"));  // trail bytes compare exactly
  EXPECT_FALSE(tqFileServer::SameName("data", "dat"));
  EXPECT_EQ("abc\x83\x41", tqFileServer::LowerName("ABC\x83\x41"));
}

TEST_F(FileServerTest, EmptyTablesReachOnlyPlainDiskFiles) {
  Write("plain.txt", "plain");
  Write("config.int\\gamedef.xml", "<x/>");
  tqFileServer server(0);
  EXPECT_EQ(&server, g_tqFileServer);
  EXPECT_EQ(nullptr, server.Find("config.int/gamedef.xml", 3));
  EXPECT_EQ(nullptr, server.OpenFile("config.int/gamedef.xml", 0x13));
  ASSERT_EQ(1u, tqtest::Diagnostics().lines.size());
  EXPECT_EQ("Open file error > config.int/gamedef.xml", tqtest::Diagnostics().lines[0]);
  EXPECT_EQ(nullptr, server.OpenFile("config.int/gamedef.xml", 0x13 | TQFILE_QUIET));
  EXPECT_EQ(1u, tqtest::Diagnostics().lines.size());

  tqFileBase* file = server.Find("plain.txt", 3);
  EXPECT_NE(nullptr, dynamic_cast<tqFile*>(file));
  EXPECT_EQ("plain", ReadAndClose(file));
  // Mode 1 opens the whole name, slash and all, as a disk path.
  EXPECT_EQ("<x/>", ReadAndClose(server.Find("config.int/gamedef.xml", 1)));
  EXPECT_EQ(nullptr, server.Find("plain.txt", 2));
  EXPECT_EQ(nullptr, server.Find("plain.txt", 4));
  EXPECT_EQ(nullptr, server.Find("plain.txt", 5));
  EXPECT_EQ(nullptr, server.Find(nullptr, 3));
  EXPECT_EQ(1, server.IsFile("plain.txt"));
  EXPECT_EQ(0, server.IsFile("absent.txt"));
  EXPECT_EQ(0, server.IsFile(nullptr));
  EXPECT_TRUE(tqtest::Diagnostics().boxes.empty());
}

TEST_F(FileServerTest, OnlyOneServerIsRegistered) {
  auto* first = new tqFileServer(0);
  EXPECT_TRUE(first->Registered());
  {
    tqFileServer second(0);
    EXPECT_FALSE(second.Registered());
    ASSERT_EQ(1u, tqtest::Diagnostics().boxes.size());
    EXPECT_EQ("tqFileServer は複数作成出来ません", tqtest::Diagnostics().boxes[0]);
    EXPECT_EQ(first, g_tqFileServer);
  }
  EXPECT_EQ(first, g_tqFileServer);  // the second one's end leaves it alone
  delete first;
  EXPECT_EQ(nullptr, g_tqFileServer);

  tqFileServerInstallHooks();
  ASSERT_NE(nullptr, LibraryHooks().createFileServer);
  LibraryHooks().createFileServer();
  tqFileServer* made = g_tqFileServer;
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(0, made->PreloadEnabled());  // no configuration: no preloading
  LibraryHooks().createFileServer();    // a second start-up makes no second server
  EXPECT_EQ(made, g_tqFileServer);
  LibraryHooks().destroyFileServer();
  EXPECT_EQ(nullptr, g_tqFileServer);
  EXPECT_EQ(1u, tqtest::Diagnostics().boxes.size());
}

TEST_F(FileServerTest, FoldersAndArchiveSlots) {
  Write("bg\\x.txt", "loose");
  Archive("bg.arc", {{"X.txt", "archived"}, {"Only.txt", "only in archive"}});
  tqFileServer server(0);
  ASSERT_EQ(1, server.SetFolder(3, "BG", (dir_ / "bg").c_str(), 1));
  ASSERT_EQ(1, server.SetArchive(3, (dir_ / "bg.arc").c_str()));
  EXPECT_STREQ("bg", server.ArchiveAt(3)->GetName());

  // Mode 3: the loose file first, mode 4: the archive first.
  tqFileBase* loose = server.Find("bg/x.txt", 3);
  EXPECT_NE(nullptr, dynamic_cast<tqFile*>(loose));
  EXPECT_EQ("loose", ReadAndClose(loose));
  tqFileBase* packed = server.Find("bg/x.txt", 4);
  EXPECT_NE(nullptr, dynamic_cast<tqBigFile*>(packed));
  EXPECT_EQ("archived", ReadAndClose(packed));
  EXPECT_EQ("only in archive", ReadAndClose(server.Find("Bg/only.txt", 3)));
  EXPECT_EQ("archived", ReadAndClose(server.Find("bg/x.txt", 2)));
  EXPECT_EQ(nullptr, server.Find("fg/x.txt", 2));
  EXPECT_EQ(nullptr, server.Find("fg/x.txt", 3));

  // Without the disk flag the folder's loose files are not looked at.
  ASSERT_EQ(1, server.SetFolder(3, "bg", (dir_ / "bg").c_str(), 0));
  EXPECT_EQ("archived", ReadAndClose(server.Find("bg/x.txt", 3)));
  Write("bg\\loose-only.txt", "l");
  EXPECT_EQ(nullptr, server.Find("bg/loose-only.txt", 3));
  ASSERT_EQ(1, server.SetFolder(3, "bg", (dir_ / "bg").c_str(), 1));
  EXPECT_EQ("l", ReadAndClose(server.Find("bg/loose-only.txt", 4)));

  // An empty group tries every slot, the disk always (empty path: the file part alone).
  Write("root.txt", "root");
  EXPECT_EQ("root", ReadAndClose(server.Find("root.txt", 3)));
  EXPECT_EQ("only in archive", ReadAndClose(server.Find("only.txt", 3)));
  // Mode 4 with an empty group matches only unnamed slots.
  EXPECT_EQ(nullptr, server.Find("only.txt", 4));

  EXPECT_EQ(0, server.SetFolder(256, "x", "", 0));
  EXPECT_EQ(0, server.SetFolder(0, std::string(40, 'n').c_str(), "", 0));
  EXPECT_EQ(0, server.SetArchive(4, (dir_ / "absent.arc").c_str()));
  EXPECT_EQ(1, server.SetArchive(3, TQFS_NO_ARCHIVE));
  EXPECT_EQ(nullptr, server.Find("bg/only.txt", 2));
}

TEST_F(FileServerTest, ListGroupsWalkTheirMembersInOrder) {
  Write("voice\\a.ogg", "disk a");
  Archive("v1.arc", {{"b.ogg", "arc b"}});
  Archive("v2.arc", {{"a.ogg", "arc a"}, {"c.ogg", "arc c"}});
  tqFileServer server(0);
  ASSERT_EQ(1, server.SetArchive(1, (dir_ / "v1.arc").c_str()));
  ASSERT_EQ(1, server.SetArchive(2, (dir_ / "v2.arc").c_str()));
  ASSERT_EQ(1, server.AddGroupMember("voice.lst", "first", 1, "", 0));
  ASSERT_EQ(1, server.AddGroupMember("VOICE.LST", "second", -1, "voice", 1));
  ASSERT_EQ(1, server.AddGroupMember("voice.lst", "third", 2, "", 0));

  EXPECT_EQ("arc b", ReadAndClose(server.Find("voice.lst/b.ogg", 2)));
  EXPECT_EQ("arc a", ReadAndClose(server.Find("voice.lst/a.ogg", 2)));  // archives only
  EXPECT_EQ("disk a", ReadAndClose(server.Find("voice.lst/a.ogg", 3)));
  EXPECT_EQ("arc c", ReadAndClose(server.Find("Voice.Lst/c.ogg", 4)));
  EXPECT_EQ(nullptr, server.Find("other.lst/c.ogg", 3));
  EXPECT_EQ(0, server.AddGroupMember("g.lst", "m", 256, "", 0));
  EXPECT_EQ(0, server.AddGroupMember("g.lst", "m", 0, std::string(64, 'p').c_str(), 0));
}

TEST_F(FileServerTest, ArchiveListComesFirstAndAliasesRename) {
  Write("sys\\setting_v2.xml", "new");
  Write("sys\\setting_v1.xml", "old");
  Archive("patch.arc", {{"patched.txt", "from patch"}}, true, 1);
  tqFileServer server(0);
  ASSERT_EQ(1, server.SetFolder(0, "sys", (dir_ / "sys").c_str(), 1));
  ASSERT_EQ(1, server.AddArchive((dir_ / "patch.arc").c_str()));
  // Any group, any mode: the archive list answers first.
  EXPECT_EQ("from patch", ReadAndClose(server.Find("whatever/PATCHED.TXT", 1)));
  // When its entry cannot be opened the search ends there.
  tqFileBase* held = server.Find("x/patched.txt", 3);
  ASSERT_NE(nullptr, held);
  Write("x\\patched.txt", "disk");
  EXPECT_EQ(nullptr, server.Find("x/patched.txt", 1));
  delete held;
  tqtest::Diagnostics().Clear();

  ASSERT_EQ(1, server.AddAlias("OLDSYS", "sys", "_v1", "_v2"));
  EXPECT_EQ("new", ReadAndClose(server.Find("oldsys/setting_v1.xml", 3)));
  EXPECT_EQ("old", ReadAndClose(server.Find("sys/setting_v1.xml", 3)));
}

TEST_F(FileServerTest, OpenFileFlagsAndLoadFile) {
  Write("data.bin", std::string("0123456789", 10));
  tqFileServer server(0);
  tqFileBase* memory = server.OpenFile("data.bin", 3 | TQFILE_MEMORY);
  ASSERT_NE(nullptr, dynamic_cast<tqMemFile*>(memory));
  EXPECT_EQ("0123456789", ReadAndClose(memory));
  // 0x10 alone changes nothing.
  EXPECT_NE(nullptr, dynamic_cast<tqFile*>(server.OpenFile("data.bin", 0x13)));
  EXPECT_EQ(0, server.LoadFile("absent", nullptr, 3));
  EXPECT_EQ(1u, tqtest::Diagnostics().lines.size());
  EXPECT_EQ(0, server.LoadFile("absent", nullptr, 3 | TQFILE_QUIET));
  EXPECT_EQ(1u, tqtest::Diagnostics().lines.size());

  int size = server.LoadFile("data.bin", nullptr, 0x13);
  ASSERT_EQ(10, size);
  std::vector<char> buffer(size + 8, 0);
  EXPECT_EQ(10, server.LoadFile("data.bin", buffer.data(), 0x13));
  EXPECT_EQ("0123456789", std::string(buffer.data()));
  // A file that grew after its size was asked fills the buffer and no more.
  Write("grown.bin", std::string(40, 'g'));
  std::vector<char> small(12, 0);
  EXPECT_EQ(12, server.LoadFile("grown.bin", small.data(), (uint32_t)small.size(), 0x13));
  EXPECT_EQ(std::string(12, 'g'), std::string(small.begin(), small.end()));
  // A load never opens for output, so the file keeps its bytes.
  EXPECT_EQ(10, server.LoadFile("data.bin", nullptr, 3 | TQFILE_OUTPUT));
  EXPECT_EQ(10u, tqtest::ReadFile(dir_ / "data.bin").size());

  tqFileBase* out = server.OpenFile((dir_ / "out.bin").c_str(), TQFILE_OUTPUT);
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(3, out->Write("abc", 3));
  tqFileServer::CloseFile(out);
  EXPECT_EQ("abc", tqtest::ReadFile(dir_ / "out.bin"));
  EXPECT_EQ(nullptr, server.OpenFile(nullptr, 3));

  tqFileServer::CloseFile(nullptr);
  EXPECT_EQ(0, tqFileServer::FileSize(nullptr));
  char byte;
  EXPECT_EQ(-1, tqFileServer::ReadFile(nullptr, &byte, 1));
}

// ---------------------------------------------------------------- preload

struct PreloadLog {
  std::mutex lock;
  std::vector<std::string> loads;
  std::vector<int32_t> passes;
  std::atomic<int> started{0};
  int slowFor = -1;  // index of the load to hold up
  static void Observe(void* user, const PreloadEntry* entry, int32_t last) {
    auto* log = static_cast<PreloadLog*>(user);
    std::lock_guard<std::mutex> guard(log->lock);
    if (!entry) {
      log->passes.push_back(last);
      return;
    }
    log->loads.push_back(entry->name);
    if ((int)log->loads.size() - 1 == log->slowFor) {
      log->started = 1;
      tqp::Sleep(100);
    }
  }
};

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 2000; ++i) {
    if (done()) return true;
    tqp::Sleep(5);
  }
  return false;
}

TEST_F(FileServerTest, PreloadLoadsGroupByGroupAndSharesTheBuffers) {
  Archive("pre.arc", {{"a", "AAAA"}, {"b", "BB"}, {"c", std::string(300000, 'c')}, {"d", "D"}});
  tqFileServer server(1);
  ASSERT_EQ(1, server.PreloadEnabled());
  ASSERT_EQ(1, server.AddArchive((dir_ / "pre.arc").c_str()));
  PreloadLog log;
  log.slowFor = 2;  // "c"
  server.SetPreloadObserver(PreloadLog::Observe, &log);
  ASSERT_EQ(1, server.AddPreload("g/a", 0, 3));
  ASSERT_EQ(1, server.AddPreload("g/b", 0, 3));
  ASSERT_EQ(1, server.AddPreload("g/c", 1, 3));
  ASSERT_EQ(1, server.AddPreload("g/d", 2, 3));
  server.StartPreload();

  // A Find while "c" loads waits for it and gets the shared memory file.
  ASSERT_TRUE(WaitFor([&] { return log.started.load() == 1; }));
  tqFileBase* c = server.Find("G/C", 3);
  ASSERT_NE(nullptr, dynamic_cast<tqMemFile*>(c));
  EXPECT_EQ(std::string(300000, 'c'), Contents(c));

  ASSERT_TRUE(WaitFor([&] { return server.LastCompletedGroup() == INT_MAX; }));
  {
    std::lock_guard<std::mutex> guard(log.lock);
    EXPECT_EQ((std::vector<std::string>{"g/a", "g/b", "g/c", "g/d"}), log.loads);
    std::vector<int32_t> passes = log.passes;
    if (!passes.empty() && passes[0] == INT_MAX) passes.erase(passes.begin());  // the idle first pass
    EXPECT_EQ((std::vector<int32_t>{0, 1, INT_MAX}), passes);
  }
  tqFileBase* a1 = server.Find("g/a", 3);
  tqFileBase* a2 = server.OpenFile("G/A", 3);
  auto* m1 = dynamic_cast<tqMemFile*>(a1);
  auto* m2 = dynamic_cast<tqMemFile*>(a2);
  ASSERT_TRUE(m1 && m2);
  uint8_t *b1, *b2;
  uint32_t n1, n2;
  ASSERT_EQ(1, m1->GetBuffer(&b1, &n1));
  ASSERT_EQ(1, m2->GetBuffer(&b2, &n2));
  EXPECT_EQ(b1, b2);  // one buffer, shared
  EXPECT_EQ("AAAA", Contents(a1));
  delete a1;
  EXPECT_EQ("AAAA", Contents(a2));  // the share's end leaves the buffer alone
  delete a2;
  delete c;
  // Once the list is cleared the name is found the ordinary way.
  server.ClearPreload();
  EXPECT_EQ(INT_MAX, server.LastCompletedGroup());
  tqFileBase* again = server.Find("g/a", 3);
  EXPECT_NE(nullptr, dynamic_cast<tqBigFile*>(again));
  EXPECT_EQ("AAAA", ReadAndClose(again));
  EXPECT_TRUE(tqtest::Diagnostics().boxes.empty());
}

TEST_F(FileServerTest, ShutdownWhileThePreloadWorkerRuns) {
  std::vector<std::pair<std::string, std::string>> items;
  for (int i = 0; i < 40; ++i) items.push_back({"f" + std::to_string(i), std::string(200000, (char)i)});
  Archive("many.arc", items);
  for (int round = 0; round < 3; ++round) {
    auto* server = new tqFileServer(1);
    ASSERT_EQ(1, server->AddArchive((dir_ / "many.arc").c_str()));
    for (int i = 0; i < 40; ++i)
      ASSERT_EQ(1, server->AddPreload(("x/f" + std::to_string(i)).c_str(), i / 4, 3));
    server->StartPreload();
    if (round) tqp::Sleep(round * 20);
    delete server;
    EXPECT_EQ(nullptr, g_tqFileServer);
  }
  tqFileServer quiet(0);
  EXPECT_EQ(0, quiet.AddPreload("x", 0, 3));  // no worker, no queue
}

}  // namespace
