// A running engine for the DDE tests: loads a start-up definition, serves its
// settings over DDE, writes a ready file and answers until a stop file
// appears (or a minute has passed).
//   tq_settings_ddepeer STARTUP READY STOP [unpublish]
#include <cstring>

#include "caps/tqDDE.h"
#include "platform/tqDde.h"
#include "platform/tqPlatform.h"
#include "settings/tqConfig.h"

namespace {

bool Exists(const char* path) { return tqp::GetAttributes(path) != tqp::ATTR_INVALID; }

bool Touch(const char* path) {
  tqp::FileHandle h =
      tqp::FileOpen(path, tqp::ACCESS_WRITE, 0, tqp::DISP_CREATE_ALWAYS, tqp::ATTR_NORMAL);
  return h != tqp::INVALID_FILE && tqp::FileClose(h);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  CreatePrivateHeap(10485760);
  tqDDE* dde = new tqDDE;
  if (!dde->Ready()) return 3;
  tqConfig* config = new tqConfig(argv[1], nullptr, 0);
  if (!config->PublishDde(1)) return 4;
  if (argc > 4 && !strcmp(argv[4], "unpublish")) config->PublishDde(2);
  if (!Touch(argv[2])) return 5;
  uint32_t start = tqp::TickCount();
  while (!Exists(argv[3]) && tqp::TickCount() - start < 60000) tqp::DdePump(20);
  delete config;
  delete dde;
  DestroyPrivateHeap();
  return 0;
}
