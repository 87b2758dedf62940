// Folders on disk, special folders, window placement and worker threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/tqTestSupport.h"
#include "util/tqThread.h"
#include "util/tqUtil.h"

namespace {

const std::string kHyo = "表";

TEST(Folders, ExistsTellsFilesFromFolders) {
  tqtest::TempDir dir;
  ASSERT_TRUE(tqtest::WriteFile(dir / "f.txt", "x"));
  EXPECT_EQ(tqExists((dir / "f.txt").c_str()), 1);
  EXPECT_EQ(tqExists(dir.Path().c_str()), 2);
  EXPECT_EQ(tqExists((dir / "missing").c_str()), 0);
  EXPECT_EQ(tqExists(nullptr), 0);
}

TEST(Folders, CreateTreeMakesEveryLevel) {
  tqtest::TempDir dir;
  std::string deep = dir / ("a\\" + kHyo + "\\c");
  EXPECT_TRUE(tqCreateFolderTree(deep.c_str(), false));
  EXPECT_EQ(tqExists((dir / "a").c_str()), 2);
  EXPECT_EQ(tqExists((dir / ("a\\" + kHyo)).c_str()), 2);
  EXPECT_EQ(tqExists(deep.c_str()), 2);
  EXPECT_TRUE(tqCreateFolderTree(deep.c_str(), false));  // existing: success

  // With the file flag the parent is meant.
  std::string file = dir / "p\\q\\file.bin";
  EXPECT_TRUE(tqCreateFolderTree(file.c_str(), true));
  EXPECT_EQ(tqExists((dir / "p\\q").c_str()), 2);
  EXPECT_EQ(tqExists(file.c_str()), 0);

  EXPECT_TRUE(tqCreateFolderTree("X:", false));  // a bare drive succeeds at once
}

TEST(Folders, CreateTreeStopsAtAFile) {
  tqtest::TempDir dir;
  ASSERT_TRUE(tqCreateFolderTree((dir / "a").c_str(), false));
  ASSERT_TRUE(tqtest::WriteFile(dir / "a\\b", "file"));
  EXPECT_FALSE(tqCreateFolderTree((dir / "a\\b\\c").c_str(), false));
  EXPECT_EQ(tqExists((dir / "a\\b").c_str()), 1);
  EXPECT_FALSE(tqCreateFolderTree((dir / "a\\b").c_str(), false));
}

TEST(ShellFolders, KnownIndicesAndTheEnd) {
  char out[260];
  EXPECT_TRUE(tqShellFolder(8, out));
  EXPECT_GT(strlen(out), 0u);
  EXPECT_TRUE(tqShellFolder(6, out));
  EXPECT_FALSE(tqShellFolder(12, out));
  EXPECT_FALSE(tqShellFolder(-1, out));
#ifndef _WIN32
  // In a Wine prefix the machine-wide application data is the prefix's.
  const char* saved = getenv("WINEPREFIX");
  std::string keep = saved ? saved : "";
  setenv("WINEPREFIX", "/tmp/some-prefix", 1);
  EXPECT_TRUE(tqShellFolder(8, out));
  EXPECT_STREQ(out, "C:\\ProgramData");
  EXPECT_TRUE(tqShellFolder(10, out));
  EXPECT_STREQ(out, "C:\\Program Files");
  std::string system;
  EXPECT_TRUE(tqp::ToSystemPath("C:\\ProgramData\\brand\\app.xml", system));
  EXPECT_EQ(system, "/tmp/some-prefix/dosdevices/c:/ProgramData/brand/app.xml");
  if (saved)
    setenv("WINEPREFIX", keep.c_str(), 1);
  else
    unsetenv("WINEPREFIX");
#endif
}

TEST(Windows, CentreRectangleOnScreen) {
  tqp::Rect frame{0, 0, 0, 0};
  const uint32_t kStyle = 0x90800000;  // popup, visible, border
  ASSERT_TRUE(tqp::AdjustWindowRect(frame, kStyle, 0, false));
  tqp::Rect r{0, 0, 640, 480};
  tqCenterRect(&r, kStyle, 0, false);
  int left = (tqp::ScreenWidth() - 640) / 2, top = (tqp::ScreenHeight() - 480) / 2;
  EXPECT_EQ(r.left, left + frame.left);
  EXPECT_EQ(r.top, top + frame.top);
  EXPECT_EQ(r.right, left + 640 + frame.right);
  EXPECT_EQ(r.bottom, top + 480 + frame.bottom);

  tqCenterRect(nullptr, kStyle, 0, false);
  ASSERT_EQ(tqtest::Diagnostics().boxes.size(), 1u);
  EXPECT_EQ(tqtest::Diagnostics().boxes[0], "rect構造体が未定義です");
}

TEST(Windows, CentreWindowOnWindow) {
  tqp::WindowHandle big = tqp::CreatePlainWindow(100, 50, 400, 300);
  tqp::WindowHandle small = tqp::CreatePlainWindow(0, 0, 101, 51);
  ASSERT_TRUE(big && small);
  EXPECT_TRUE(tqCenterWindow(big, small));
  tqp::Rect r;
  ASSERT_TRUE(tqp::GetWindowRect(small, r));
  EXPECT_EQ(r.left, 100 + (400 - 101) / 2);
  EXPECT_EQ(r.top, 50 + (300 - 51) / 2);
  EXPECT_EQ(r.right - r.left, 101);
  EXPECT_FALSE(tqCenterWindow(big, nullptr));
  tqp::DestroyPlainWindow(small);
  EXPECT_FALSE(tqCenterWindow(big, small));
  tqp::DestroyPlainWindow(big);
}

intptr_t DummyProc(tqp::WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

TEST(Windows, RegisterAndUnregisterClass) {
  tqWindowClass cls;
  ASSERT_TRUE(cls.Register("TQ_TEST_CLASS", DummyProc, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, 3));
  EXPECT_NE(cls.Atom(), 0);
  tqWindowClass twice;
  EXPECT_FALSE(twice.Register("TQ_TEST_CLASS", DummyProc, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, 3));
  twice.Unregister();  // never registered: nothing happens
  cls.Unregister();
  tqWindowClass again;
  EXPECT_TRUE(again.Register("TQ_TEST_CLASS", DummyProc, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, 3));
  again.Unregister();
}

TEST(Thread, LocksAndEventsByIdentifier) {
  tqThread t;
  EXPECT_TRUE(t.AddLock(1));
  EXPECT_FALSE(t.AddLock(1));
  t.Lock(1);
  t.Lock(1);  // critical sections are re-entrant for their owner
  t.Unlock(1);
  t.Unlock(1);
  t.Lock(99);  // nothing
  EXPECT_TRUE(t.AddEvent(5, false, false));
  EXPECT_FALSE(t.AddEvent(5, true, true));
  EXPECT_FALSE(t.Wait(5, 10));
  t.SetEvent(5);
  EXPECT_TRUE(t.Wait(5, 0));
  EXPECT_FALSE(t.Wait(5, 0));  // auto reset
  EXPECT_TRUE(t.AddEvent(6, true, true));
  EXPECT_TRUE(t.Wait(6, 0));
  EXPECT_TRUE(t.Wait(6, 0));  // manual reset stays signalled
  t.ResetEvent(6);
  EXPECT_FALSE(t.Wait(6, 0));
  EXPECT_FALSE(t.Wait(7, 0));
}

TEST(Thread, RunsTheProcedureAndEnds) {
  tqThread t;
  ASSERT_TRUE(t.AddEvent(1, false, false));
  ASSERT_TRUE(t.AddEvent(2, false, false));
  std::atomic<int> value{0};
  ASSERT_TRUE(t.Start(
      [](tqThread* self, void* user) {
        self->Wait(1, -1);
        static_cast<std::atomic<int>*>(user)->store(42);
        self->SetEvent(2);
      },
      &value));
  EXPECT_TRUE(t.Running());
  EXPECT_FALSE(t.Start(nullptr, nullptr));  // one thread per object
  t.SetEvent(1);
  EXPECT_TRUE(t.Wait(2, 10000));
  t.WaitForEnd();
  EXPECT_FALSE(t.Running());
  EXPECT_EQ(value.load(), 42);
  t.Destroy();
  EXPECT_FALSE(t.Wait(1, 0));
}

TEST(Thread, StartWithoutProcedureEndsAtOnce) {
  tqThread t;
  ASSERT_TRUE(t.Start(nullptr, nullptr));
  t.WaitForEnd();
  EXPECT_FALSE(t.Running());
}

TEST(Version, FilesWithoutAResourceGiveFalse) {
  tqtest::TempDir dir;
  tqVersionInfo info;
  memset(&info, 0x55, sizeof info);
  ASSERT_TRUE(tqtest::WriteFile(dir / "plain.exe", "MZ not really a program"));
  EXPECT_FALSE(tqReadVersionInfo((dir / "plain.exe").c_str(), &info));
  EXPECT_EQ(info.fileVersion[0], 0);  // the record is cleared
  EXPECT_FALSE(tqReadVersionInfo((dir / "missing.exe").c_str(), &info));
  EXPECT_FALSE(tqReadVersionInfo(nullptr, &info));
}

}  // namespace

#ifndef _WIN32
namespace {
TEST(Locale, UiLanguageFromTheEnvironment) {
  struct {
    const char* lcAll;
    const char* lang;
    uint16_t id;
  } rows[] = {
      {"ja_JP.UTF-8", nullptr, 1041}, {nullptr, "en_US.UTF-8", 1033}, {nullptr, "en_GB", 2057},
      {nullptr, "C", 1033},           {nullptr, nullptr, 1033},       {"de_DE@euro", "ja_JP", 1031},
      {nullptr, "zh_TW.Big5", 1028},  {nullptr, "zh_CN.GB2312", 2052}, {nullptr, "pt_BR", 1046},
  };
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* v = getenv(names[i]);
    had[i] = v != nullptr;
    if (v) saved[i] = v;
  }
  for (const auto& row : rows) {
    unsetenv("LC_MESSAGES");
    if (row.lcAll) setenv("LC_ALL", row.lcAll, 1); else unsetenv("LC_ALL");
    if (row.lang) setenv("LANG", row.lang, 1); else unsetenv("LANG");
    EXPECT_EQ(tqp::UserDefaultUILanguage(), row.id) << (row.lcAll ? row.lcAll : "") << " " << (row.lang ? row.lang : "");
  }
  for (int i = 0; i < 3; ++i) {
    if (had[i]) setenv(names[i], saved[i].c_str(), 1); else unsetenv(names[i]);
  }
}
}  // namespace
#endif
