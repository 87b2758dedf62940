// Win32 backend: private heap, time, named mutexes, critical sections,
// events and threads.
#include "platform/win32/win32.h"

namespace tqp {

// ---------------------------------------------------------------- heap
HeapHandle HeapCreate(size_t initialSize) { return ::HeapCreate(0, initialSize, 0); }

void* HeapAlloc(HeapHandle heap, size_t size) {
  if (!heap) return nullptr;
  return ::HeapAlloc(heap, 0, size);
}

bool HeapFree(HeapHandle heap, void* block) {
  if (!heap || !block) return false;
  return ::HeapFree(heap, 0, block) != 0;
}

bool HeapDestroy(HeapHandle heap) { return heap && ::HeapDestroy(heap) != 0; }

// ---------------------------------------------------------------- time
LocalTime GetLocalTime() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                   st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
}

uint32_t TickCount() { return ::GetTickCount(); }

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

// ---------------------------------------------------------------- sync
MutexHandle CreateNamedMutex(const char* name, bool* alreadyExists) {
  if (alreadyExists) *alreadyExists = false;
  // Owned by the creator from the start, as the guards of the updater want.
  HANDLE h = ::CreateMutexA(nullptr, TRUE, name);
  if (!h) return nullptr;
  if (alreadyExists) *alreadyExists = ::GetLastError() == ERROR_ALREADY_EXISTS;
  return h;
}

void CloseNamedMutex(MutexHandle h) {
  if (h) ::CloseHandle(h);
}

CriticalSection::CriticalSection() : impl_(new CRITICAL_SECTION) {
  ::InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
}

CriticalSection::~CriticalSection() {
  ::DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
  delete static_cast<CRITICAL_SECTION*>(impl_);
}

void CriticalSection::Enter() { ::EnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

void CriticalSection::Leave() { ::LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

EventHandle CreateEvent(bool manualReset, bool initiallySignalled) {
  return ::CreateEventA(nullptr, manualReset, initiallySignalled, nullptr);
}

bool SetEvent(EventHandle h) { return h && ::SetEvent(h) != 0; }

bool ResetEvent(EventHandle h) { return h && ::ResetEvent(h) != 0; }

bool WaitEvent(EventHandle h, uint32_t milliseconds) {
  return h && ::WaitForSingleObject(h, milliseconds) == WAIT_OBJECT_0;
}

void CloseEvent(EventHandle h) {
  if (h) ::CloseHandle(h);
}

// ---------------------------------------------------------------- threads
namespace {

// Our thread procedures use the C calling convention; the system calls
// WINAPI (stdcall on i686) procedures, so a small start record carries them.
struct ThreadStart {
  ThreadProc proc;
  void* arg;
};

DWORD WINAPI ThreadEntry(LPVOID param) {
  ThreadStart start = *static_cast<ThreadStart*>(param);
  delete static_cast<ThreadStart*>(param);
  return start.proc(start.arg);
}

}  // namespace

ThreadHandle CreateThread(ThreadProc proc, void* arg, uint32_t* threadId) {
  if (!proc) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* start = new ThreadStart{proc, arg};
  DWORD id = 0;
  HANDLE h = ::CreateThread(nullptr, 0, ThreadEntry, start, 0, &id);
  if (!h) {
    delete start;
    return nullptr;
  }
  if (threadId) *threadId = id;
  return h;
}

bool GetThreadExitCode(ThreadHandle h, uint32_t* code) {
  DWORD value = 0;
  if (!h || !::GetExitCodeThread(h, &value)) return false;
  if (code) *code = value;
  return true;
}

bool WaitThread(ThreadHandle h, uint32_t milliseconds) {
  return h && ::WaitForSingleObject(h, milliseconds) == WAIT_OBJECT_0;
}

bool SetThreadPriority(ThreadHandle h, int priority) {
  return h && ::SetThreadPriority(h, priority) != 0;
}

void CloseThread(ThreadHandle h) {
  if (h) ::CloseHandle(h);
}

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

}  // namespace tqp
