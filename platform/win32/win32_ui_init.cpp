// Common controls and COM for the thread that starts the library.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

namespace tqp {

void InitUserInterface() {
  InitCommonControls();
  CoInitialize(nullptr);
}

void DoneUserInterface() { CoUninitialize(); }

}  // namespace tqp
