// update.exe: the Windows entry point. The command line is not used; support
// staff can ask for a log of the message boxes through TQ_UI_LOG.
#include "app/Updater.h"

// After our headers: the system's A/W macros would rename our functions.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const char* log = getenv("TQ_UI_LOG");
  if (log && *log) SetUiLog(log);
  return RunUpdater(instance);
}
