// Library start-up and shut-down, in their fixed orders.
#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"

tqCaps* g_tqCaps = nullptr;
tqDDE* g_tqDDE = nullptr;
tqFileServer* g_tqFileServer = nullptr;
tqRandom* g_tqRandom = nullptr;

tqLibraryHooks& LibraryHooks() {
  static tqLibraryHooks hooks;
  return hooks;
}

int LibraryStartup(int probeFlags, int ddeMode) {
  tqLibraryHooks& hooks = LibraryHooks();
  tqp::InitUserInterface();
  if (ddeMode && !g_tqDDE && hooks.createDde) hooks.createDde();
  if (!g_tqCaps && hooks.createCaps) hooks.createCaps(probeFlags, ddeMode);
  CreatePrivateHeap(10485760);
  if (!g_tqFileServer && hooks.createFileServer) hooks.createFileServer();
  if (!g_tqRandom) {
    tqp::LocalTime t = tqp::GetLocalTime();
    g_tqRandom = new tqRandom((uint32_t)(t.year + t.month + t.day + t.hour + t.minute + t.second +
                                         t.milliseconds));
  }
  return 1;
}

void LibraryShutdown() {
  tqLibraryHooks& hooks = LibraryHooks();
  tqRandom* random = g_tqRandom;
  g_tqRandom = nullptr;
  delete random;
  if (g_tqDDE && hooks.destroyDde) hooks.destroyDde();
  if (g_tqFileServer && hooks.destroyFileServer) hooks.destroyFileServer();
  DestroyPrivateHeap();
  CloseLogSink();
  if (g_tqCaps && hooks.destroyCaps) hooks.destroyCaps();
  tqp::DoneUserInterface();
}
