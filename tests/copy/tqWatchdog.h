// Ends the test program when a test runs longer than it may, so that a hang
// shows as a failure with the test's name instead of a stuck run.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/tqPlatform.h"

namespace tqtest {

class Watchdog {
 public:
  explicit Watchdog(uint32_t seconds) : seconds_(seconds) {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    name_ = info ? std::string(info->test_suite_name()) + "." + info->name() : "(no test)";
    done_ = tqp::CreateEvent(true, false);
    thread_ = tqp::CreateThread(&Watch, this, nullptr);
  }
  ~Watchdog() {
    tqp::SetEvent(done_);
    tqp::WaitThread(thread_, tqp::INFINITE_WAIT);
    tqp::CloseThread(thread_);
    tqp::CloseEvent(done_);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  static uint32_t Watch(void* self) {
    Watchdog* w = static_cast<Watchdog*>(self);
    if (!tqp::WaitEvent(w->done_, w->seconds_ * 1000)) {
      fprintf(stderr, "watchdog: %s ran longer than %u s\n", w->name_.c_str(), (unsigned)w->seconds_);
      fflush(stderr);
      std::_Exit(3);
    }
    return 0;
  }

  uint32_t seconds_;
  std::string name_;
  tqp::EventHandle done_ = nullptr;
  tqp::ThreadHandle thread_ = nullptr;
};

}  // namespace tqtest
