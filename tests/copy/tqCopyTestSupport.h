// Shared pieces of the copy engine's tests: a recorder of callback calls, a
// run helper with a time limit, file helpers and a probe stand-in.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "caps/tqCaps.h"
#include "copy/tqFileCopy.h"
#include "platform/tqPlatform.h"
#include "tests/copy/tqWatchdog.h"
#include "tests/support/tqTestSupport.h"

namespace tqcopytest {

// Every callback call, in order, as the callback saw the status record.
struct Recorder {
  Recorder() : ended(tqp::CreateEvent(true, false)) {}
  ~Recorder() { tqp::CloseEvent(ended); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  std::mutex mutex;
  tqp::EventHandle ended;
  std::vector<tqFileCopyStatus> calls;
  int cancelAt = -1;  // index of the call that answers 0
  bool finished = false;
  int finishedCalls = 0;

  static int32_t Callback(void* user, tqFileCopyStatus* status) {
    Recorder* r = static_cast<Recorder*>(user);
    std::lock_guard<std::mutex> lock(r->mutex);
    r->calls.push_back(*status);
    int index = (int)r->calls.size() - 1;
    if (status->finished) {
      ++r->finishedCalls;
      r->finished = true;
      tqp::SetEvent(r->ended);
    }
    return index == r->cancelAt ? 0 : 1;
  }

  int ErrorCalls() const {
    int n = 0;
    for (const auto& c : calls) n += (c.error && !c.finished) ? 1 : 0;
    return n;
  }
  const tqFileCopyStatus& Last() const { return calls.back(); }
};

// Starts the engine and waits for its final call (the test fails after the
// time limit instead of hanging).
inline void RunToEnd(tqFileCopy& engine, Recorder& recorder, tqFileCopyChunkHook hook = nullptr,
                     int seconds = 120) {
  ASSERT_TRUE(engine.Start(&Recorder::Callback, &recorder, hook));
  ASSERT_TRUE(tqp::WaitEvent(recorder.ended, (uint32_t)seconds * 1000)) << "the copy run did not end";
  std::lock_guard<std::mutex> lock(recorder.mutex);
}

// The callback protocol every run keeps: exactly one final call, which is the
// last; at most one error call, before it; the final call carries error
// exactly when there was an error call.
inline void ExpectProtocol(const Recorder& r, bool error) {
  ASSERT_FALSE(r.calls.empty());
  EXPECT_EQ(r.finishedCalls, 1);
  EXPECT_EQ(r.Last().finished, 1);
  for (size_t i = 0; i + 1 < r.calls.size(); ++i) EXPECT_EQ(r.calls[i].finished, 0) << "call " << i;
  EXPECT_EQ(r.ErrorCalls(), error ? 1 : 0);
  EXPECT_EQ(r.Last().error, error ? 1 : 0);
}

// Deterministic contents that differ between files.
inline std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = (char)(x >> 16);
  }
  return s;
}

inline bool Exists(const std::string& path) { return tqp::GetAttributes(path.c_str()) != tqp::ATTR_INVALID; }

inline bool WriteTime(const std::string& path, uint64_t* write) {
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst(path.c_str(), data);
  if (!h) return false;
  tqp::FindClose(h);
  *write = data.write;
  return true;
}

inline bool SetWriteTime(const std::string& path, uint64_t write) {
  tqp::FileHandle h = tqp::FileOpen(path.c_str(), tqp::ACCESS_WRITE, 0, tqp::DISP_OPEN_EXISTING, 0);
  if (h == tqp::INVALID_FILE) return false;
  bool ok = tqp::FileSetTimes(h, nullptr, &write, &write);
  tqp::FileClose(h);
  return ok;
}

inline std::string FixturePath(const char* name) {
  return tqtest::ProgramFolder() + "\\copyfixtures\\" + name;
}

// The library heap the engine's slot array comes from, and a probe whose
// Windows code the test chooses (none by default).
class CopyTest : public testing::Test {
 protected:
  void SetUp() override {
    CreatePrivateHeap(10485760);
    saved_ = g_tqCaps;
    g_tqCaps = nullptr;
  }
  void TearDown() override {
    g_tqCaps = saved_;
    delete caps_;
  }
  void UseProbeCode(int32_t code) {
    if (!caps_) caps_ = new tqCaps;
    caps_->os.code = code;
    g_tqCaps = caps_;
  }

  tqtest::TempDir dir_;
  tqtest::Watchdog watchdog_{240};

 private:
  tqCaps* saved_ = nullptr;
  tqCaps* caps_ = nullptr;
};

}  // namespace tqcopytest
