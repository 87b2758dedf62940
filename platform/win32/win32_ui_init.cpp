// Common controls and COM for the thread that starts the library.
#include "platform/win32/win32.h"

// After windows.h: these need its types.
#include <commctrl.h>
#include <objbase.h>

namespace tqp {

void InitUserInterface() {
  ::InitCommonControls();
  ::CoInitialize(nullptr);
}

void DoneUserInterface() { ::CoUninitialize(); }

}  // namespace tqp
