// The updater's whole flow: start-up, guards, splash window, confirmation,
// installation checks, plan and checks, progress dialog with the staged copy
// and the swap, final message. One object owns all of it and is reached from
// its window and its dialog through their user-data slots.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/FileList.h"
#include "app/UpdateInfo.h"
#include "app/plan/tqUpdatePlan.h"
#include "app/plan/tqUpdateSwap.h"
#include "platform/tqGui.h"

// Custom messages of the flow; wParam and lParam are always 0. Each step is a
// message posted to the window or dialog itself, for these reasons:
//   UPD_CONFIRM      the confirmation box must wait until the window is
//                    created and shown (WM_CREATE runs inside CreateWindow);
//   UPD_REPAINT      the boxes of the confirmation may have covered the
//                    picture: redraw it before the modal dialog starts;
//   UPD_SHOW_DIALOG  the modal dialog runs its own loop: started from a
//                    message, not from inside the repaint;
//   UPD_BEGIN_COPY   the dialog must be up (WM_INITDIALOG is sent before it
//                    shows) before plan, checks and the engine start;
//   UPD_STAGED       the engine's last call comes on its worker thread; the
//                    swap and every state change belong to the main thread;
//   UPD_DONE, UPD_FAILED, UPD_CANCELLED
//                    the end of the run, likewise moved from the worker to
//                    the main thread, where the final box is shown;
//   UPD_CLOSE        ends the dialog from outside its procedure's current
//                    call, then reaches the main window, which destroys itself.
enum : uint32_t {
  UPD_BEGIN_COPY = 1026,
  UPD_CLOSE = 1034,
  UPD_CONFIRM = 1044,
  UPD_SHOW_DIALOG = 1045,
  UPD_REPAINT = 1046,
  UPD_DONE = 1047,
  UPD_FAILED = 1048,
  UPD_STAGED = 1049,
  UPD_CANCELLED = 1050,
};

// Resources of the program.
enum : int {
  IDI_UPDATE_LARGE = 103,
  IDI_UPDATE_SMALL = 104,
  IDD_LANGUAGE = 102,
  IDD_PROGRESS = 1003,
  IDC_PROGRESS_TEXT = 1005,
};

// A test point that stops or kills the process ("swap:3:kill"); from the
// environment of test runs only.
struct TestPoint {
  std::string name;
  int index = -1;  // -1: any index
  bool kill = true;
  // Parses "name[:index]:kill|stop"; false (and no point) otherwise.
  bool Parse(const char* text);
  static void Reached(void* self, const char* name, int index);
};

struct UpdaterOptions {
  std::string uiLog;      // append every message box here (none: off)
  bool dryRun = false;    // print the plan and the checks; write nothing
  // Set by a front end when the user asks to stop (a signal on Linux).
  const std::atomic<int>* cancelRequest = nullptr;
  TestPoint testPoint;
  // Reads TQ_TEST_POINT and TQ_TEST_IO_FAULT ("read:K" / "write:K").
  void ReadTestHooks(const char* point, const char* ioFault);
};

class tqFileCopy;
class tqImageHolder;
class tqWindowClass;
struct tqFileCopyStatus;

class Updater {
 public:
  Updater(void* instance, const UpdaterOptions& options);
  ~Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // Runs in the current folder (the package); returns the exit status.
  int Run();
  // Bytes staged so far and in total while the copy runs (for progress bars
  // drawn by the main thread); false when no copy runs.
  bool Progress(uint64_t* done, uint64_t* total) const;

 private:
  static intptr_t WindowProc(tqp::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
  static intptr_t DialogProc(tqp::WindowHandle dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);
  static int32_t CopyCallback(void* user, tqFileCopyStatus* status);

  int Start(tqWindowClass& windowClass);
  void RunWindow(tqWindowClass& windowClass);
  intptr_t OnWindow(tqp::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
  intptr_t OnDialog(tqp::WindowHandle dialog, uint32_t message);
  void Confirm(tqp::WindowHandle window);
  bool RepairFirst(tqp::WindowHandle window);
  bool PlanAndCheck(tqp::WindowHandle owner);
  void BeginCopy(tqp::WindowHandle dialog);
  bool StartStaging(tqp::WindowHandle dialog);
  void Staged(tqp::WindowHandle dialog);
  void Finish(tqp::WindowHandle dialog, uint32_t message);
  void DryRun();
  void LoadPicture();
  void DrawPicture(tqp::DeviceContext dc);
  bool CancelRequested() const;
  void StopCopy();
  void Close(tqp::WindowHandle window, int status);

  int ShowBox(tqp::WindowHandle owner, const char* text, const char* caption, uint32_t type);
  void ShowProblem(tqp::WindowHandle owner, uint32_t code, const std::string& path, bool openText, int line);
  void LogBox(const char* caption, const char* text, int answer);
  const LanguageEntry& Texts() const { return info_.current; }

  // A named mutex that marks a running game, configuration tool or updater.
  class MutexGuard {
   public:
    ~MutexGuard() { Close(); }
    // existed is set unless a handle came back without "already exists"
    // (183) or "invalid handle" (6, a name taken by an object of another kind).
    void Create(const char* name, bool* existed);
    void Close();

   private:
    tqp::MutexHandle handle_ = nullptr;
  };

  void* instance_;
  UpdaterOptions options_;
  SwapHooks hooks_;
  UpdateInfo info_;
  tqImageHolder* picture_ = nullptr;
  tqFileCopy* copy_ = nullptr;
  tqp::WindowHandle main_ = nullptr;
  tqp::WindowHandle dialog_ = nullptr;
  std::string packageFolder_;
  std::string dataFolder_;
  char installFolder_[260] = {};
  FileList files_;
  UpdatePlan plan_;
  bool planned_ = false;
  int status_;
  int lastFileReported_ = 0;  // copy callback thread only
  std::mutex logLock_;
  MutexGuard game_, config_;        // boxes come from the main and the worker threads
};

// Runs the updater with default options (Windows: TQ_UI_LOG and the test
// hooks from the environment are read by the entry point).
int RunUpdater(void* instance, const UpdaterOptions& options);
