// Root of the library's classes: every object created with new goes through
// the tracked allocator, so blocks never released can be listed at the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tqClassBase/tqDebug.h"

// Tracked allocation: malloc plus a record of where the block was requested.
void* TrackedAlloc(size_t size, const char* source, int line);
void TrackedFree(void* pointer);
// Writes every live tracked block, then the count, to the debug channel.
void ReportLeaks();
// Number of live tracked blocks.
int TrackedCount();

// The library's private heap. Each block carries a use count in front of it.
int CreatePrivateHeap(size_t size);
void* PrivateAlloc(int id, size_t size);
int PrivateFree(void* pointer);
int DestroyPrivateHeap();

// Where every tracked object block is recorded as coming from.
#define TQ_CLASSBASE_SOURCE "tqClassBase/tqClassBase"

// tqClassBase holds no data and no virtual functions; derived classes get the
// class-level allocation below.
class tqClassBase {
 public:
  static void operator delete(void* p) noexcept { TrackedFree(p); }
  static void operator delete[](void* p) noexcept { TrackedFree(p); }
  static void* operator new[](size_t size) noexcept {
    return TrackedAlloc(size, TQ_CLASSBASE_SOURCE, 39);
  }
  // Out of memory gives none, as for every library allocation: callers check.
  // Keep the allocation below on line 39: leak reports name this line.

  static void* operator new(size_t size) noexcept { return TrackedAlloc(size, TQ_CLASSBASE_SOURCE, __LINE__); }
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}
};
static_assert(sizeof(tqClassBase) == 1, "tqClassBase carries no data");

// The library's process-wide objects, empty until LibraryStartup creates them.
class tqCaps;
class tqDDE;
class tqFileServer;
class tqRandom;
extern tqCaps* g_tqCaps;
extern tqDDE* g_tqDDE;
extern tqFileServer* g_tqFileServer;
extern tqRandom* g_tqRandom;

// The higher layers (probe, DDE, file server) register how their singleton is
// made and ended; start-up and shut-down call these in their fixed order.
struct tqLibraryHooks {
  void (*createDde)() = nullptr;           // sets g_tqDDE
  void (*destroyDde)() = nullptr;          // shuts it down, deletes, clears
  void (*createCaps)(int probeFlags, int ddeMode) = nullptr;  // sets g_tqCaps and probes
  void (*destroyCaps)() = nullptr;
  void (*createFileServer)() = nullptr;    // sets g_tqFileServer
  void (*destroyFileServer)() = nullptr;
  bool (*capsHasMmx)() = nullptr;          // the probe's MMX flag
};
tqLibraryHooks& LibraryHooks();

int LibraryStartup(int probeFlags, int ddeMode);
void LibraryShutdown();

// MT19937 with the 1998 seeding; unseeded use seeds with 4357.
class tqRandom : public tqClassBase {
 public:
  tqRandom() = default;
  explicit tqRandom(uint32_t seed) { Seed(seed); }
  void Seed(uint32_t seed);
  uint32_t Next();

 private:
  uint32_t state_[624] = {};
  int index_ = 625;  // 625: not seeded yet
};

// Blocks larger than `largest` bytes are refused from now on, as if the heap
// were exhausted (SIZE_MAX: no limit, the start-up state); returns the
// previous limit. Lets the out-of-memory paths of callers be exercised.
size_t PrivateAllocLimit(size_t largest);
