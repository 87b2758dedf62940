// DDE between two processes: the peer program serves the probe's items, this
// process asks for them; plus the rules of one object (one per process, one
// server name, one item name).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "caps/tqCaps.h"
#include "caps/tqDDE.h"
#include "platform/tqPlatform.h"
#include "platform/tqProcess.h"
#include "platform/tqSysInfo.h"
#include "tests/copy/tqWatchdog.h"
#include "tests/support/tqTestSupport.h"

namespace {

const char SERVICE[] = "TQDDE_SERVER";

bool HasLine(const std::string& line) {
  for (const std::string& l : tqtest::Diagnostics().lines)
    if (l == line) return true;
  return false;
}

// A name of this process only, so that runs of the tests side by side never
// meet each other's services.
std::string LocalName(const char* stem) {
  char name[64];
  snprintf(name, sizeof name, "%s_%u", stem, (unsigned)tqp::CurrentThreadId());
  return name;
}

class DDETest : public testing::Test {
 protected:
  void SetUp() override {
    CreatePrivateHeap(10485760);
    savedCaps_ = g_tqCaps;
    g_tqCaps = nullptr;
  }
  void TearDown() override {
    StopPeer();
    g_tqCaps = savedCaps_;
  }

  // Starts the peer and connects to it (it needs a moment to serve).
  void StartPeer(tqDDE& client) {
#ifndef _WIN32
    // The services of this test live in a folder of its own.
    std::string runtime;
    ASSERT_TRUE(tqp::ToSystemPath(runtimeDir_.Path().c_str(), runtime));
    tqp::SetEnvironment("XDG_RUNTIME_DIR", runtime.c_str());
#endif
    std::string program = tqtest::ProgramFolder() + "\\tq_caps_dde_peer";
    if (tqp::GetAttributes((program + ".exe").c_str()) != tqp::ATTR_INVALID) program += ".exe";
    peer_ = tqp::StartProcess(program.c_str(), {});
    ASSERT_NE(peer_, nullptr) << program;
    for (int attempt = 0; attempt < 200; ++attempt) {
      if (client.Connect(SERVICE)) return;
      uint32_t code = 0;
      ASSERT_FALSE(tqp::WaitProcess(peer_, 0, &code)) << "the peer ended with " << code;
      tqp::Sleep(50);
    }
    FAIL() << "the peer never served " << SERVICE;
  }
  void StopPeer() {
    if (!peer_) return;
    tqp::KillProcess(peer_);
    tqp::WaitProcess(peer_, 10000, nullptr);
    tqp::CloseProcess(peer_);
    peer_ = nullptr;
  }

  tqtest::Watchdog watchdog_{120};
  tqtest::TempDir runtimeDir_;
  tqp::ProcessHandle peer_ = nullptr;

 private:
  tqCaps* savedCaps_ = nullptr;
};

TEST_F(DDETest, ProbeItemsPassBetweenProcesses) {
  tqDDE dde;
  ASSERT_TRUE(dde.Ready());
  StartPeer(dde);
  if (HasFatalFailure()) return;

  tqCpuInfo cpu;
  memset(&cpu, 0xAB, sizeof cpu);
  ASSERT_EQ(dde.GetServerData("TQCAPS_DDE_CPU", &cpu, sizeof cpu, SERVICE), 1);
  EXPECT_EQ(cpu.clock, 4321) << "the peer's mark";
  EXPECT_EQ(cpu.hasCpuid, 1);
  tqCpuInfo local = {};
  tqCapsProbeCpu(&local, false);
  EXPECT_STREQ(cpu.vendor, local.vendor);
  EXPECT_EQ(cpu.family, local.family);

  // One byte short: nothing is copied.
  tqCpuInfo untouched;
  memset(&untouched, 0x5A, sizeof untouched);
  EXPECT_EQ(dde.GetServerData("TQCAPS_DDE_CPU", &untouched, 319, SERVICE), 0);
  for (size_t i = 0; i < sizeof untouched; ++i) ASSERT_EQ(reinterpret_cast<uint8_t*>(&untouched)[i], 0x5A);

  int32_t version = 0;
  ASSERT_EQ(dde.GetServerData("TQCAPS_DDE_DXVER", &version, sizeof version, SERVICE), 1);
  EXPECT_EQ(version, 9 * 65536 + 3);

  // The text arrives with two zero bytes: "9.0c" is 6 bytes, no more.
  char text[16];
  memset(text, 'x', sizeof text);
  EXPECT_EQ(dde.GetServerData("TQCAPS_DDE_DXSTR", text, 5, SERVICE), 0);
  ASSERT_EQ(dde.GetServerData("TQCAPS_DDE_DXSTR", text, 6, SERVICE), 1);
  EXPECT_EQ(memcmp(text, "9.0c\0\0", 6), 0);
  EXPECT_EQ(text[6], 'x');

  EXPECT_EQ(dde.GetServerData("TQTEST_NOBODY", text, sizeof text, SERVICE), 0);
}

TEST_F(DDETest, ARequestNobodyAnswersInTimeGivesNothingAfterASecond) {
  tqDDE dde;
  StartPeer(dde);
  if (HasFatalFailure()) return;
  char data[16] = {};
  const uint32_t start = tqp::TickCount();
  EXPECT_EQ(dde.GetServerData("TQTEST_SLOW", data, sizeof data, SERVICE), 0);
  const uint32_t ms = tqp::TickCount() - start;
  EXPECT_GE(ms, 900u);
  EXPECT_LT(ms, 1450u) << "the request waited past its time-out";
  // The conversation still works once the server is free again; the late
  // answer is not taken for a later request's.
  tqp::Sleep(800);
  int32_t version = 0;
  EXPECT_EQ(dde.GetServerData("TQCAPS_DDE_DXVER", &version, sizeof version, SERVICE), 1);
  EXPECT_EQ(version, 9 * 65536 + 3);
}

TEST_F(DDETest, ProbeTakesItsResultsFromAServer) {
  g_tqDDE = nullptr;
  tqDDE* dde = new tqDDE;
  ASSERT_EQ(g_tqDDE, dde);
  // The probe connects itself; this connection only waits for the peer.
  tqDDE* waiter = dde;
  StartPeer(*waiter);
  if (HasFatalFailure()) {
    delete dde;
    return;
  }
  tqCaps caps;
  caps.Probe(TQCAPS_DIRECTX | TQCAPS_CPU, TQCAPS_DDE_CLIENT);
  EXPECT_TRUE(HasLine("DDEより環境情報を取得しました"));
  EXPECT_EQ(caps.dxVersion, 9 * 65536 + 3);
  EXPECT_STREQ(caps.dxText, "9.0c");
  EXPECT_EQ(caps.cpu.clock, 4321);
  EXPECT_EQ(caps.ddeMode, TQCAPS_DDE_CLIENT);
  delete dde;
  EXPECT_EQ(g_tqDDE, nullptr);
}

TEST_F(DDETest, ProbeWithoutAServerProbesItself) {
#ifndef _WIN32
  std::string runtime;
  ASSERT_TRUE(tqp::ToSystemPath(runtimeDir_.Path().c_str(), runtime));
  tqp::SetEnvironment("XDG_RUNTIME_DIR", runtime.c_str());
#endif
  tqDDE* dde = new tqDDE;
  tqCaps caps;
  caps.Probe(TQCAPS_CPU, TQCAPS_DDE_CLIENT);
  EXPECT_FALSE(HasLine("DDEより環境情報を取得しました"));
  EXPECT_TRUE(HasLine("tqDDE::GetServerData  サーバ TQDDE_SERVER に接続されていません"));
  EXPECT_EQ(caps.cpu.hasCpuid, 1);
  EXPECT_EQ(caps.cpu.clock, 0);
  delete dde;
}

TEST_F(DDETest, OneObjectPerProcess) {
  tqDDE first;
  ASSERT_TRUE(first.Ready());
  tqDDE second;
  EXPECT_TRUE(HasLine("tqDDEクラスは複数作成出来ません"));
  EXPECT_FALSE(second.Ready());
  EXPECT_EQ(second.CreateServer(LocalName("TQTEST_SECOND").c_str()), 0);
  EXPECT_EQ(second.RegisterItem("X", nullptr, nullptr), 0);
  EXPECT_EQ(second.Connect("ANY"), 0);
  EXPECT_EQ(g_tqDDE, &first);
}

TEST_F(DDETest, NamesAreServedAndRegisteredOnce) {
#ifndef _WIN32
  std::string runtime;
  ASSERT_TRUE(tqp::ToSystemPath(runtimeDir_.Path().c_str(), runtime));
  tqp::SetEnvironment("XDG_RUNTIME_DIR", runtime.c_str());
#endif
  tqDDE dde;
  const std::string service = LocalName("TQTEST_SERVICE");
  EXPECT_EQ(dde.CreateServer(service.c_str()), 1);
  EXPECT_EQ(dde.CreateServer(service.c_str()), 0);
  EXPECT_TRUE(HasLine("tqDDE : サーバ<" + service + ">は既に作成されています"));
  EXPECT_EQ(dde.Connect(service.c_str()), 0);
  EXPECT_TRUE(HasLine("tqDDE : 既にサーバ<" + service + ">に接続されています"));
  EXPECT_EQ(dde.RegisterItem("TQTEST_ITEM", nullptr, nullptr), 1);
  EXPECT_EQ(dde.RegisterItem("TQTEST_ITEM", nullptr, nullptr), 0);
  EXPECT_TRUE(HasLine("tqDDE : トピック TQTEST_ITEM は既に登録されています"));
  char data[4];
  EXPECT_EQ(dde.GetServerData("TQTEST_ITEM", data, sizeof data, "TQTEST_NOT_CONNECTED"), 0);
  EXPECT_TRUE(HasLine("tqDDE::GetServerData  サーバ TQTEST_NOT_CONNECTED に接続されていません"));
}

TEST_F(DDETest, StartupCreatesTheServerOnRequest) {
#ifndef _WIN32
  std::string runtime;
  ASSERT_TRUE(tqp::ToSystemPath(runtimeDir_.Path().c_str(), runtime));
  tqp::SetEnvironment("XDG_RUNTIME_DIR", runtime.c_str());
#endif
  tqCapsInstallHooks();
  ASSERT_EQ(LibraryStartup(TQCAPS_CPU, TQCAPS_DDE_SERVER), 1);
  ASSERT_NE(g_tqDDE, nullptr);
  ASSERT_NE(g_tqCaps, nullptr);
  EXPECT_EQ(g_tqCaps->ddeMode, TQCAPS_DDE_SERVER);
  // The probe serves its name: a second server of it is refused.
  EXPECT_EQ(g_tqDDE->CreateServer(SERVICE), 0);
  LibraryShutdown();
  EXPECT_EQ(g_tqDDE, nullptr);
  EXPECT_EQ(g_tqCaps, nullptr);
}

}  // namespace
