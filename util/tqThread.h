// A worker thread with numbered critical sections and events, created on
// first use. The owner fills the maps before starting the thread.
#pragma once

#include <cstdint>
#include <map>

#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"

class tqThread : public tqClassBase {
 public:
  using Procedure = void (*)(tqThread* thread, void* user);

  tqThread() = default;
  ~tqThread();
  tqThread(const tqThread&) = delete;
  tqThread& operator=(const tqThread&) = delete;

  bool AddLock(int id);
  void Lock(int id);
  void Unlock(int id);
  bool AddEvent(int id, bool manualReset, bool initiallySignalled);
  void SetEvent(int id);
  void ResetEvent(int id);
  // True when the event was signalled within ms (-1: no limit).
  bool Wait(int id, int milliseconds);
  bool Start(Procedure procedure, void* user);
  void SetPriority(int priority);
  // Polls every 1 ms until the thread has ended.
  void WaitForEnd();
  bool Running() const;
  // Deletes every lock and event and closes the thread handle.
  void Destroy();

  void* User() const { return user_; }
  uint32_t ThreadId() const { return threadId_; }
  tqp::EventHandle EventHandleOf(int id) const;

 private:
  static uint32_t Entry(void* self);

  tqp::ThreadHandle handle_ = nullptr;
  uint32_t threadId_ = 0;
  std::map<int, tqp::CriticalSection*> locks_;
  std::map<int, tqp::EventHandle> events_;
  Procedure procedure_ = nullptr;
  void* user_ = nullptr;
};
