// Private heap, time, named mutexes, critical sections, events and threads of
// the platform layer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/tqPlatform.h"
#include "tests/support/tqTestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

TEST(Heap, BlocksAreSeparateAndReleased) {
  tqp::HeapHandle heap = tqp::HeapCreate(1 << 20);
  ASSERT_NE(heap, nullptr);
  const size_t sizes[] = {1, 100, 4096, 3 << 20};  // the last one beyond the initial size
  void* blocks[4];
  for (int i = 0; i < 4; ++i) {
    blocks[i] = tqp::HeapAlloc(heap, sizes[i]);
    ASSERT_NE(blocks[i], nullptr) << sizes[i];
    EXPECT_EQ((uintptr_t)blocks[i] % 8, 0u);
    memset(blocks[i], 'a' + i, sizes[i]);
  }
  for (int i = 0; i < 4; ++i) {
    auto* bytes = static_cast<unsigned char*>(blocks[i]);
    EXPECT_EQ(bytes[0], 'a' + i);
    EXPECT_EQ(bytes[sizes[i] - 1], 'a' + i);
  }
  EXPECT_TRUE(tqp::HeapFree(heap, blocks[1]));
  EXPECT_FALSE(tqp::HeapFree(heap, nullptr));
  // Destroying the heap releases what is still allocated (the leak checker
  // of the native build watches this).
  EXPECT_TRUE(tqp::HeapDestroy(heap));
  EXPECT_EQ(tqp::HeapAlloc(nullptr, 16), nullptr);
  EXPECT_FALSE(tqp::HeapDestroy(nullptr));
}

TEST(Time, ClockAndTicks) {
  tqp::LocalTime t = tqp::GetLocalTime();
  EXPECT_GE(t.year, 2024);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_LE(t.dayOfWeek, 6);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
  EXPECT_LE(t.second, 60);
  EXPECT_LE(t.milliseconds, 999);

  uint32_t before = tqp::TickCount();
  tqp::Sleep(60);
  uint32_t elapsed = tqp::TickCount() - before;
  EXPECT_GE(elapsed, 45u);
  EXPECT_LT(elapsed, 5000u);
}

std::string UniqueName(const char* prefix) {
  return std::string(prefix) + std::to_string(tqp::CurrentThreadId()) + "-" +
         std::to_string(tqp::TickCount());
}

TEST(NamedMutex, SecondCreateSeesTheFirst) {
  std::string name = UniqueName("tqtest-mutex-");
  bool exists = true;
  tqp::MutexHandle first = tqp::CreateNamedMutex(name.c_str(), &exists);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(exists);
  tqp::MutexHandle second = tqp::CreateNamedMutex(name.c_str(), &exists);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(exists);
  // Another name is independent.
  tqp::MutexHandle other = tqp::CreateNamedMutex((name + "-other").c_str(), &exists);
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(exists);
  tqp::CloseNamedMutex(other);
  tqp::CloseNamedMutex(second);
  tqp::CloseNamedMutex(first);
  // Once every holder has gone the name is free again.
  tqp::MutexHandle again = tqp::CreateNamedMutex(name.c_str(), &exists);
  ASSERT_NE(again, nullptr);
  EXPECT_FALSE(exists);
  tqp::CloseNamedMutex(again);
}

TEST(Events, ManualAndAutomaticReset) {
  tqp::EventHandle manual = tqp::CreateEvent(true, false);
  ASSERT_NE(manual, nullptr);
  EXPECT_FALSE(tqp::WaitEvent(manual, 0));
  EXPECT_TRUE(tqp::SetEvent(manual));
  EXPECT_TRUE(tqp::WaitEvent(manual, 0));
  EXPECT_TRUE(tqp::WaitEvent(manual, 0));  // stays signalled
  EXPECT_TRUE(tqp::ResetEvent(manual));
  EXPECT_FALSE(tqp::WaitEvent(manual, 0));
  tqp::CloseEvent(manual);

  tqp::EventHandle automatic = tqp::CreateEvent(false, true);
  ASSERT_NE(automatic, nullptr);
  EXPECT_TRUE(tqp::WaitEvent(automatic, 0));  // initially signalled
  EXPECT_FALSE(tqp::WaitEvent(automatic, 0));  // and reset by the wait
  EXPECT_TRUE(tqp::SetEvent(automatic));
  EXPECT_TRUE(tqp::WaitEvent(automatic, tqp::INFINITE_WAIT));
  uint32_t before = tqp::TickCount();
  EXPECT_FALSE(tqp::WaitEvent(automatic, 50));
  EXPECT_GE(tqp::TickCount() - before, 35u);
  tqp::CloseEvent(automatic);
}

struct Worker {
  tqp::EventHandle go = nullptr;
  uint32_t seenId = 0;
  uint32_t lastError = 0;
};

uint32_t WorkerProc(void* arg) {
  auto* w = static_cast<Worker*>(arg);
  w->seenId = tqp::CurrentThreadId();
  tqp::SetLastError(99);  // per thread: the starter's value stays
  tqp::WaitEvent(w->go, tqp::INFINITE_WAIT);
  w->lastError = tqp::LastError();
  return 42;
}

TEST(Threads, ExitCodeIsStillActiveWhileRunning) {
  Worker w;
  w.go = tqp::CreateEvent(true, false);
  tqp::SetLastError(1234);
  uint32_t id = 0;
  tqp::ThreadHandle t = tqp::CreateThread(WorkerProc, &w, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, tqp::CurrentThreadId());
  EXPECT_TRUE(tqp::SetThreadPriority(t, 0));
  uint32_t code = 0;
  ASSERT_TRUE(tqp::GetThreadExitCode(t, &code));
  EXPECT_EQ(code, tqp::STILL_ACTIVE);
  EXPECT_FALSE(tqp::WaitThread(t, 20));

  tqp::SetEvent(w.go);
  ASSERT_TRUE(tqp::WaitThread(t, 10000));
  ASSERT_TRUE(tqp::GetThreadExitCode(t, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(w.seenId, id);
  EXPECT_EQ(w.lastError, 99u);
  EXPECT_EQ(tqp::LastError(), 1234u);
  tqp::CloseThread(t);
  tqp::CloseEvent(w.go);
}

TEST(Threads, AbsentProcedureIsRefused) {
  uint32_t id = 7;
  EXPECT_EQ(tqp::CreateThread(nullptr, nullptr, &id), nullptr);
  uint32_t code = 0;
  EXPECT_FALSE(tqp::GetThreadExitCode(nullptr, &code));
  EXPECT_FALSE(tqp::WaitThread(nullptr, 0));
}

struct Counter {
  tqp::CriticalSection lock;
  int value = 0;
};

uint32_t CountProc(void* arg) {
  auto* c = static_cast<Counter*>(arg);
  for (int i = 0; i < 20000; ++i) {
    c->lock.Enter();
    int v = c->value;
    if (i % 1000 == 0) tqp::Sleep(0);  // invite a switch inside the lock
    c->value = v + 1;
    c->lock.Leave();
  }
  return 0;
}

TEST(CriticalSection, SerialisesThreads) {
  Counter counter;
  tqp::ThreadHandle threads[4];
  for (auto& t : threads) {
    t = tqp::CreateThread(CountProc, &counter, nullptr);
    ASSERT_NE(t, nullptr);
  }
  for (auto& t : threads) {
    EXPECT_TRUE(tqp::WaitThread(t, 60000));
    tqp::CloseThread(t);
  }
  EXPECT_EQ(counter.value, 80000);
  // Re-entrant on the owning thread, as on Windows.
  counter.lock.Enter();
  counter.lock.Enter();
  counter.lock.Leave();
  counter.lock.Leave();
}

}  // namespace

#ifndef _WIN32
// The lock files live in a folder only this user can write, are never opened
// through a planted link and never have their modes changed.
TEST(NamedMutex, LockFolderIsPrivateAndLinksAreNotFollowed) {
  tqtest::TempDir dir;
  std::string base;
  ASSERT_TRUE(tqp::ToSystemPath(dir.Path().c_str(), base));
  const char* oldRuntime = getenv("XDG_RUNTIME_DIR");
  const char* oldTmp = getenv("TMPDIR");
  std::string keepRuntime = oldRuntime ? oldRuntime : "", keepTmp = oldTmp ? oldTmp : "";
  std::string name = UniqueName("tqtest-mutex-");
  bool exists = false;

  // Runtime folder unset: a per-user folder of mode 0700 below TMPDIR.
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", base.c_str(), 1);
  tqp::MutexHandle m = tqp::CreateNamedMutex(name.c_str(), &exists);
  ASSERT_NE(m, nullptr);
  std::string folder = base + "/tq-mutex-" + std::to_string((unsigned long)geteuid());
  struct stat st;
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(lstat((folder + "/tq-mutex-" + name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);
  tqp::CloseNamedMutex(m);

  // A link planted where the lock file goes: refused, its target untouched.
  std::string victim = base + "/victim";
  ASSERT_TRUE(tqtest::WriteFile(dir / "victim", "root only"));
  ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
  std::string planted = name + "-planted";
  ASSERT_EQ(symlink(victim.c_str(), (folder + "/tq-mutex-" + planted).c_str()), 0);
  EXPECT_EQ(tqp::CreateNamedMutex(planted.c_str(), &exists), nullptr);
  ASSERT_EQ(stat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(mkfifo((folder + "/tq-mutex-" + name + "-fifo").c_str(), 0600), 0);
  EXPECT_EQ(tqp::CreateNamedMutex((name + "-fifo").c_str(), &exists), nullptr);

  // A folder others may write, or a link in place of the folder: refused.
  std::string open = base + "/open";
  ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  setenv("XDG_RUNTIME_DIR", open.c_str(), 1);
  EXPECT_EQ(tqp::CreateNamedMutex(name.c_str(), &exists), nullptr);
  EXPECT_EQ(tqp::LastError(), tqp::ERR_ACCESS_DENIED);
  unsetenv("XDG_RUNTIME_DIR");
  std::string other = base + "/elsewhere";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  ASSERT_EQ(rename(folder.c_str(), (base + "/moved").c_str()), 0);
  ASSERT_EQ(symlink(other.c_str(), folder.c_str()), 0);
  EXPECT_EQ(tqp::CreateNamedMutex(name.c_str(), &exists), nullptr);

  if (oldRuntime) setenv("XDG_RUNTIME_DIR", keepRuntime.c_str(), 1);
  if (oldTmp)
    setenv("TMPDIR", keepTmp.c_str(), 1);
  else
    unsetenv("TMPDIR");
}
#endif
