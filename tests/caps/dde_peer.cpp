// The other process of the DDE tests: probes the processor, serves the
// probe's items with marked values, plus a slow item, until it is ended
// (at the latest after a minute).
#include <cstring>

#include "caps/tqCaps.h"
#include "caps/tqDDE.h"
#include "platform/tqDde.h"
#include "platform/tqPlatform.h"

namespace {

int SlowItem(void*, const char*, void** data, uint32_t* length) {
  // Answers later than a requester waits.
  tqp::Sleep(1500);
  *data = PrivateAlloc(0, 4);
  if (!*data) return 0;
  memcpy(*data, "late", 4);
  *length = 4;
  return 1;
}

}  // namespace

int main() {
  CreatePrivateHeap(10485760);
  tqDDE* dde = new tqDDE;
  if (!dde->Ready()) return 2;
  tqCaps* caps = new tqCaps;
  caps->Probe(TQCAPS_CPU, TQCAPS_DDE_SERVER);
  // Marks that show the values came from this process.
  caps->dxVersion = 9 * 65536 + 3;
  strcpy(caps->dxText, "9.0c");
  caps->cpu.clock = 4321;
  dde->RegisterItem("TQTEST_SLOW", SlowItem, nullptr);
  for (int i = 0; i < 600; ++i) tqp::DdePump(100);
  delete caps;
  delete dde;
  return 0;
}
