// Worker thread with numbered locks and events.
#include "util/tqThread.h"

tqThread::~tqThread() { Destroy(); }

bool tqThread::AddLock(int id) {
  if (locks_.count(id)) return false;
  locks_[id] = new tqp::CriticalSection;
  return true;
}

void tqThread::Lock(int id) {
  auto it = locks_.find(id);
  if (it != locks_.end()) it->second->Enter();
}

void tqThread::Unlock(int id) {
  auto it = locks_.find(id);
  if (it != locks_.end()) it->second->Leave();
}

bool tqThread::AddEvent(int id, bool manualReset, bool initiallySignalled) {
  if (events_.count(id)) return false;
  tqp::EventHandle h = tqp::CreateEvent(manualReset, initiallySignalled);
  if (!h) return false;
  events_[id] = h;
  return true;
}

void tqThread::SetEvent(int id) {
  auto it = events_.find(id);
  if (it != events_.end()) tqp::SetEvent(it->second);
}

void tqThread::ResetEvent(int id) {
  auto it = events_.find(id);
  if (it != events_.end()) tqp::ResetEvent(it->second);
}

bool tqThread::Wait(int id, int milliseconds) {
  auto it = events_.find(id);
  if (it == events_.end()) return false;
  return tqp::WaitEvent(it->second, milliseconds < 0 ? tqp::INFINITE_WAIT : (uint32_t)milliseconds);
}

tqp::EventHandle tqThread::EventHandleOf(int id) const {
  auto it = events_.find(id);
  return it == events_.end() ? nullptr : it->second;
}

uint32_t tqThread::Entry(void* self) {
  auto* t = static_cast<tqThread*>(self);
  if (t->procedure_) t->procedure_(t, t->user_);
  return 0;
}

bool tqThread::Start(Procedure procedure, void* user) {
  if (handle_) return false;
  procedure_ = procedure;
  user_ = user;
  handle_ = tqp::CreateThread(&tqThread::Entry, this, &threadId_);
  return handle_ != nullptr;
}

void tqThread::SetPriority(int priority) {
  if (handle_) tqp::SetThreadPriority(handle_, priority);
}

bool tqThread::Running() const {
  uint32_t code = 0;
  return handle_ && tqp::GetThreadExitCode(handle_, &code) && code == tqp::STILL_ACTIVE;
}

void tqThread::WaitForEnd() {
  while (Running()) tqp::Sleep(1);
}

void tqThread::Destroy() {
  for (auto& [id, lock] : locks_) delete lock;
  locks_.clear();
  for (auto& [id, event] : events_) tqp::CloseEvent(event);
  events_.clear();
  if (handle_) {
    tqp::CloseThread(handle_);
    handle_ = nullptr;
  }
  threadId_ = 0;
}
