// update.exe: the Windows entry point. The command line is not used; support
// staff can ask for a log of the message boxes through TQ_UI_LOG. The exit
// status is 0 only after a successful update (see app/ExitCodes.h).
#include "app/Updater.h"

// After our headers: the system's A/W macros would rename our functions.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  UpdaterOptions options;
  const char* log = getenv("TQ_UI_LOG");
  if (log && *log) options.uiLog = log;
  options.ReadTestHooks(getenv("TQ_TEST_POINT"), getenv("TQ_TEST_IO_FAULT"));
  return RunUpdater(instance, options);
}
