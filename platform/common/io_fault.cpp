// Fault injection for tests: the k-th sequentially opened file's first read or
// write fails as a broken medium or a full disk would make it fail.
#include <atomic>
#include <mutex>

#include "platform/tqDurable.h"

namespace tqp {

namespace {
std::atomic<int> g_kind{FAULT_NONE};
std::mutex g_lock;
int g_target = 0;
int g_readOpens = 0, g_writeOpens = 0;
FileHandle g_marked = INVALID_FILE;
}  // namespace

void SetIoFault(IoFaultKind kind, int fileNumber) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_target = fileNumber;
  g_readOpens = g_writeOpens = 0;
  g_marked = INVALID_FILE;
  g_kind.store(kind);
}

namespace iofault {

void NoteOpen(FileHandle h, uint32_t access, uint32_t flags) {
  int kind = g_kind.load();
  if (kind == FAULT_NONE || !(flags & OPEN_SEQUENTIAL) || h == INVALID_FILE) return;
  std::lock_guard<std::mutex> lock(g_lock);
  bool write = access & ACCESS_WRITE;
  int& count = write ? g_writeOpens : g_readOpens;
  if (write != (kind == FAULT_WRITE)) return;
  if (++count == g_target) g_marked = h;
}

void NoteClose(FileHandle h) {
  if (g_kind.load() == FAULT_NONE) return;
  std::lock_guard<std::mutex> lock(g_lock);
  if (h == g_marked) g_marked = INVALID_FILE;
}

bool Fails(FileHandle h, bool write) {
  int kind = g_kind.load();
  if (kind == FAULT_NONE || write != (kind == FAULT_WRITE)) return false;
  std::lock_guard<std::mutex> lock(g_lock);
  if (h != g_marked) return false;
  g_marked = INVALID_FILE;
  g_kind.store(FAULT_NONE);  // one fault per run
  SetLastError(write ? ERR_WRITE_FAULT : ERR_READ_FAULT);
  return true;
}

}  // namespace iofault
}  // namespace tqp
