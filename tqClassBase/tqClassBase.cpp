// Tracked allocation and the private heap.
#include "tqClassBase/tqClassBase.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/tqPlatform.h"

namespace {

struct AllocRecord {
  AllocRecord* prev;
  AllocRecord* next;
  char source[260];
  int line;
  int size;
  void* address;
};

// Records in allocation order; one lock serialises additions and removals,
// since the copy worker creates objects while the main thread runs.
std::mutex g_trackLock;
AllocRecord* g_first = nullptr;
AllocRecord* g_last = nullptr;
int g_count = 0;

tqp::HeapHandle g_heap = nullptr;

}  // namespace

void* TrackedAlloc(size_t size, const char* source, int line) {
  void* block = malloc(size ? size : 1);
  if (!block) return nullptr;
  auto* record = static_cast<AllocRecord*>(malloc(sizeof(AllocRecord)));
  if (!record) {
    free(block);
    return nullptr;
  }
  size_t n = source ? strnlen(source, sizeof record->source - 1) : 0;
  if (n) memcpy(record->source, source, n);
  record->source[n] = 0;
  record->line = line;
  record->size = (int)size;
  record->address = block;
  record->next = nullptr;
  std::lock_guard<std::mutex> lock(g_trackLock);
  record->prev = g_last;
  if (g_last)
    g_last->next = record;
  else
    g_first = record;
  g_last = record;
  ++g_count;
  return block;
}

void TrackedFree(void* pointer) {
  if (!pointer) return;
  {
    std::lock_guard<std::mutex> lock(g_trackLock);
    for (AllocRecord* r = g_first; r; r = r->next) {
      if (r->address != pointer) continue;
      if (r->prev)
        r->prev->next = r->next;
      else
        g_first = r->next;
      if (r->next)
        r->next->prev = r->prev;
      else
        g_last = r->prev;
      --g_count;
      free(r);
      break;
    }
  }
  free(pointer);
}

void ReportLeaks() {
  std::lock_guard<std::mutex> lock(g_trackLock);
  for (AllocRecord* r = g_first; r; r = r->next)
    DebugPrint("%s(%d) : no release [adr=0x%08x  size=%d]", r->source, r->line,
               (unsigned)(uintptr_t)r->address, r->size);
  DebugPrint("leak count = %d", g_count);
}

int TrackedCount() {
  std::lock_guard<std::mutex> lock(g_trackLock);
  return g_count;
}

int CreatePrivateHeap(size_t size) {
  if (g_heap) return 0;
  g_heap = tqp::HeapCreate(size);
  if (!g_heap) {
    DebugPrint("ヒープ領域の作成に失敗しました");
    return 0;
  }
  DebugPrint("ヒープを作成しました。 size = %d (0x%x) byte (%fMB)", (int)size, (unsigned)size,
             (double)size / 1048576.0);
  return 1;
}

// The use count sits in the 4 bytes just before the caller's block; the block
// itself starts 16 bytes into the allocation so that it stays 16-byte aligned.
namespace {
constexpr size_t kPrefix = 16;
std::atomic<size_t> g_privateLimit{SIZE_MAX};
}  // namespace

size_t PrivateAllocLimit(size_t largest) { return g_privateLimit.exchange(largest); }

void* PrivateAlloc(int id, size_t size) {
  void* raw = g_heap && size <= SIZE_MAX - kPrefix && size <= g_privateLimit.load(std::memory_order_relaxed)
                  ? tqp::HeapAlloc(g_heap, size + kPrefix)
                  : nullptr;
  if (!raw) {
    DebugPrint("メモリが確保出来ませんでした  id = %d  size = %d(0x%x)", id, (int)(size + 4),
               (unsigned)(size + 4));
    return nullptr;
  }
  char* block = static_cast<char*>(raw) + kPrefix;
  int32_t one = 1;
  memcpy(block - 4, &one, 4);
  return block;
}

int PrivateFree(void* pointer) {
  if (!pointer) return 0;
  char* block = static_cast<char*>(pointer);
  int32_t count;
  memcpy(&count, block - 4, 4);
  if (count > 1) {
    --count;
    memcpy(block - 4, &count, 4);
    return count;
  }
  if (!g_heap) return 0;
  return tqp::HeapFree(g_heap, block - kPrefix) ? 1 : 0;
}

int DestroyPrivateHeap() {
  if (g_heap) {
    tqp::HeapDestroy(g_heap);
    g_heap = nullptr;
  }
  DebugPrint("ヒープを破棄しました。");
  return 1;
}
