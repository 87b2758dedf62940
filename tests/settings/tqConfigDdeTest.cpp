// The settings exchange between two processes over DDE: a peer engine of the
// same folder hands over its whole settings block; one of another folder, or
// one that stopped publishing, is ignored.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "caps/tqDDE.h"
#include "platform/tqProcess.h"
#include "tests/settings/configTestUtil.h"

using cfgtest::ConfigPtr;
using cfgtest::Doc;

namespace {

#ifdef _WIN32
const char kPeerName[] = "tq_settings_ddepeer.exe";
#else
const char kPeerName[] = "tq_settings_ddepeer";
#endif

bool Exists(const std::string& path) { return tqp::GetAttributes(path.c_str()) != tqp::ATTR_INVALID; }

// A peer engine serving a start-up definition of its own; stopped and
// waited for when the object goes.
class Peer {
 public:
  Peer(const std::string& program, const tqtest::TempDir& dir, bool unpublish = false)
      : ready_(dir / "ready"), stop_(dir / "stop") {
    std::vector<std::string> args = {dir / "peer.xml", ready_, stop_};
    if (unpublish) args.push_back("unpublish");
    process_ = tqp::StartProcess(program.c_str(), args);
  }
  ~Peer() {
    tqtest::WriteFile(stop_, "");
    if (!process_) return;
    uint32_t code = 0;
    bool ended = tqp::WaitProcess(process_, 30000, &code);
    if (!ended) tqp::KillProcess(process_);
    tqp::CloseProcess(process_);
    EXPECT_TRUE(ended);
    EXPECT_EQ(code, 0u);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Waits until the peer serves (up to a minute: Wine starts slowly).
  bool WaitReady() {
    if (!process_) return false;
    for (int i = 0; i < 3000; ++i) {
      if (Exists(ready_)) return true;
      uint32_t code = 0;
      if (tqp::WaitProcess(process_, 0, &code)) {
        ADD_FAILURE() << "the peer ended with " << code;
        return false;
      }
      tqp::Sleep(20);
    }
    return false;
  }

 private:
  std::string ready_, stop_;
  tqp::ProcessHandle process_ = nullptr;
};

class ConfigDde : public testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    // Services of this test only: the peers and this process meet in a
    // runtime folder of their own.
    had_ = tqp::GetEnvironment("XDG_RUNTIME_DIR", runtime_);
    std::string system;
    ASSERT_TRUE(tqp::ToSystemPath(dir_.Path().c_str(), system));
    ASSERT_TRUE(tqp::SetEnvironment("XDG_RUNTIME_DIR", system.c_str()));
#endif
    ASSERT_TRUE(tqtest::WriteFile(
        dir_ / "peer.xml",
        Doc("<VERSION><major>42</major><minor>7</minor></VERSION>"
            "<APP><brand>peer</brand></APP><INT><int00><int>image</int><dir>pics</dir></int00></INT>"
            "<FOLDER><save>" + (dir_ / "save") + "</save></FOLDER>")));
  }
  void TearDown() override {
    delete g_tqDDE;
#ifndef _WIN32
    tqp::SetEnvironment("XDG_RUNTIME_DIR", had_ ? runtime_.c_str() : nullptr);
#endif
  }
  std::string PeerHere() const { return tqtest::ProgramFolder() + "\\" + kPeerName; }
  std::string PeerElsewhere() const {
    return tqtest::ProgramFolder() + "\\other\\" + kPeerName;
  }
  // A configuration that reads nothing and takes its settings over DDE.
  ConfigPtr Client(int mode = TQCONFIG_MODE_DDE) const {
    return ConfigPtr(new tqConfig((dir_ / "none.xml").c_str(), nullptr, mode));
  }

  tqtest::TempDir dir_;
  std::string runtime_;
  bool had_ = false;
};

TEST_F(ConfigDde, PeerOfTheSameFolderHandsOverItsBlock) {
  Peer peer(PeerHere(), dir_);
  ASSERT_TRUE(peer.WaitReady());
  new tqDDE;
  ASSERT_TRUE(g_tqDDE && g_tqDDE->Ready());

  ConfigPtr engine = Client(TQCONFIG_MODE_ENGINE);
  EXPECT_EQ(engine->FetchFromDde(), 0);  // only in mode 2
  engine.reset();

  ConfigPtr client = Client();
  ASSERT_EQ(client->Data().versionMajor, 0);
  EXPECT_EQ(client->FetchFromDde(), 1);
  // The peer loaded the same definition in the same environment: the block
  // arrives byte for byte.
  ConfigPtr reference(new tqConfig((dir_ / "peer.xml").c_str(), nullptr, 0));
  EXPECT_EQ(client->Data().versionMajor, 42);
  EXPECT_STREQ(client->Data().brand, "peer");
  EXPECT_STREQ(client->Data().folders[0].path, "pics");
  EXPECT_EQ(memcmp(&client->Data(), &reference->Data(), sizeof(tqConfigData)), 0);
  // The saved copy stays as loaded.
  EXPECT_EQ(client->Saved().versionMajor, 0);
}

TEST_F(ConfigDde, PeerOfAnotherFolderIsIgnored) {
  ASSERT_TRUE(Exists(PeerElsewhere()));
  Peer peer(PeerElsewhere(), dir_);
  ASSERT_TRUE(peer.WaitReady());
  new tqDDE;
  ConfigPtr client = Client();
  tqConfigData before = client->Data();
  EXPECT_EQ(client->FetchFromDde(), 0);
  EXPECT_EQ(memcmp(&client->Data(), &before, sizeof before), 0);
}

TEST_F(ConfigDde, PeerThatStoppedPublishingGivesNothing) {
  Peer peer(PeerHere(), dir_, true);
  ASSERT_TRUE(peer.WaitReady());
  new tqDDE;
  ConfigPtr client = Client();
  tqConfigData before = client->Data();
  EXPECT_EQ(client->FetchFromDde(), 0);
  EXPECT_EQ(memcmp(&client->Data(), &before, sizeof before), 0);
}

TEST_F(ConfigDde, NoPeerOrNoDdeObject) {
  ConfigPtr client = Client();
  EXPECT_EQ(client->PublishDde(1), 0);  // no DDE object
  EXPECT_EQ(client->FetchFromDde(), 0);
  new tqDDE;
  EXPECT_EQ(client->FetchFromDde(), 0);  // nobody serves
  EXPECT_EQ(client->PublishDde(7), 1);   // other types do nothing
  EXPECT_EQ(client->PublishDde(1), 1);
  EXPECT_EQ(client->PublishDde(2), 1);
}

}  // namespace
