// The updater's whole flow: start-up, guards, splash window, confirmation,
// installation checks, progress dialog with the copy, final message.
#pragma once

#include <cstdint>

#include "platform/tqGui.h"

// Custom messages of the flow; wParam and lParam are always 0.
enum : uint32_t {
  UPD_BEGIN_COPY = 1026,
  UPD_CLOSE = 1034,
  UPD_CONFIRM = 1044,
  UPD_SHOW_DIALOG = 1045,
  UPD_REPAINT = 1046,
  UPD_DONE = 1047,
  UPD_FAILED = 1048,
};

// Resources of the program.
enum : int {
  IDI_UPDATE_LARGE = 103,
  IDI_UPDATE_SMALL = 104,
  IDD_LANGUAGE = 102,
  IDD_PROGRESS = 1003,
  IDC_PROGRESS_TEXT = 1005,
};

// Runs the updater in the current folder (the package); always returns 0.
int RunUpdater(void* instance);

// Every message box of the flow goes through here, so that it can also be
// written to the UI log.
int ShowBox(tqp::WindowHandle owner, const char* text, const char* caption, uint32_t type);
// Appends "caption<TAB>text<TAB>answer" lines for each box to path (none: off).
void SetUiLog(const char* path);

class tqFileCopy;
// The copy engine of the running update, or none (for progress displays).
tqFileCopy* TheCopyEngine();
