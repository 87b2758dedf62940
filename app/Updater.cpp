// The updater's flow. After the window exists, every step is a custom message
// that the window procedure or the progress dialog posts to itself; both
// procedures forward to the one Updater object kept in their user-data slot.
#include "app/Updater.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/ExitCodes.h"
#include "app/Install.h"
#include "caps/tqCaps.h"
#include "copy/tqFileCopy.h"
#include "file/tqFile.h"
#include "file/tqFileServer.h"
#include "image/tqImageHolder.h"
#include "platform/tqDurable.h"
#include "util/tqUtil.h"

namespace {

// Without a decodable picture the window still appears, at this size.
constexpr int kFallbackWidth = 480, kFallbackHeight = 270;
constexpr uint32_t kWindowStyle = 0x90800000;  // popup, visible, thin border
constexpr int kShowNormal = 5, kHide = 0;
constexpr int kDialogClosed = 2;
constexpr uint32_t kCopySlots = 3;
constexpr size_t kBoxText = 1024;

// The terminal's form of a Shift_JIS text for the dry run's report.
std::string Shown(const std::string& text) {
  std::string utf8;
  return tqp::Utf8FromNarrow(text, utf8) ? utf8 : text;
}

}  // namespace

void Updater::MutexGuard::Create(const char* name, bool* existed) {
  *existed = true;
  bool already = false;
  handle_ = tqp::CreateNamedMutex(name, &already);
  uint32_t error = tqp::LastError();
  if (handle_ && error != tqp::ERR_ALREADY_EXISTS && error != tqp::ERR_INVALID_HANDLE) *existed = false;
}

void Updater::MutexGuard::Close() {
  if (handle_) tqp::CloseNamedMutex(handle_);
  handle_ = nullptr;
}

bool TestPoint::Parse(const char* text) {
  *this = TestPoint();
  if (!text || !*text) return false;
  std::string point = text;
  size_t last = point.rfind(':');
  if (last == std::string::npos) return false;
  std::string action = point.substr(last + 1);
  if (action != "kill" && action != "stop") return false;
  kill = action == "kill";
  point.resize(last);
  size_t colon = point.find(':');
  if (colon != std::string::npos) {
    index = atoi(point.c_str() + colon + 1);
    point.resize(colon);
  }
  name = point;
  return !name.empty();
}

void TestPoint::Reached(void* self, const char* name, int index) {
  const auto* point = static_cast<const TestPoint*>(self);
  if (point->name != name || (point->index >= 0 && point->index != index)) return;
  if (point->kill) tqp::KillSelfForTests();
  tqp::StopSelfForTests();
}

void UpdaterOptions::ReadTestHooks(const char* point, const char* ioFault) {
  testPoint.Parse(point);
  if (!ioFault || !*ioFault) return;
  int k = 0;
  if (sscanf(ioFault, "read:%d", &k) == 1) tqp::SetIoFault(tqp::FAULT_READ, k);
  if (sscanf(ioFault, "write:%d", &k) == 1) tqp::SetIoFault(tqp::FAULT_WRITE, k);
}

Updater::Updater(void* instance, const UpdaterOptions& options)
    : instance_(instance), options_(options), status_(TQ_EXIT_FAILED) {
  info_.Clear();
  info_.current = LanguageEntry{};
  if (!options_.testPoint.name.empty()) {
    hooks_.point = TestPoint::Reached;
    hooks_.user = &options_.testPoint;
  }
}

Updater::~Updater() {
  delete copy_;
  delete picture_;
}

// ------------------------------------------------------------ boxes

void Updater::LogBox(const char* caption, const char* text, int answer) {
  std::lock_guard<std::mutex> lock(logLock_);
  if (options_.uiLog.empty()) return;
  std::string line;
  auto put = [&line](const char* s) {
    for (size_t i = 0; s && s[i]; ++i) {
      if (tqIsDoubleByte(s, i)) {
        line += s[i];
        line += s[++i];
      } else if (s[i] == '\n') {
        line += "\\n";
      } else if (s[i] == '\\') {
        line += "\\\\";
      } else {
        line += s[i];
      }
    }
  };
  put(caption);
  line += '\t';
  put(text);
  line += answer == 1 ? "\tOK\n" : "\tCancel\n";
  tqp::FileHandle h = tqp::FileOpen(options_.uiLog.c_str(), tqp::ACCESS_WRITE, tqp::SHARE_READ,
                                    tqp::DISP_OPEN_ALWAYS, tqp::ATTR_NORMAL);
  if (h == tqp::INVALID_FILE) return;
  tqp::FileSeek(h, 0, 2);
  uint32_t done;
  tqp::FileWrite(h, line.data(), (uint32_t)line.size(), &done);
  tqp::FileClose(h);
}

int Updater::ShowBox(tqp::WindowHandle owner, const char* text, const char* caption, uint32_t type) {
  int answer = tqp::MessageBox(owner, text, caption, type);
  LogBox(caption, text, answer);
  return answer;
}

// The cause of a refused or failed update, as the engine's own error box
// shows it: its "cannot open" text naming the source, or the system's message
// followed by the file it is about.
void Updater::ShowProblem(tqp::WindowHandle owner, uint32_t code, const std::string& path, bool openText,
                          int line) {
  char text[kBoxText];
  if (openText) {
    tqCopyOpenErrorText(path.c_str(), text, sizeof text);
  } else if (line > 0) {
    snprintf(text, sizeof text, "%s\n%s (%d)", tqp::ErrorText(code).c_str(), path.c_str(), line);
  } else {
    snprintf(text, sizeof text, "%s\n%s", tqp::ErrorText(code).c_str(), path.c_str());
  }
  ShowBox(owner, text, Texts().error_title, tqp::MB_OK_);
}

// ------------------------------------------------------------ picture

void Updater::LoadPicture() {
  tqFile file;
  std::string path = PlanJoin(packageFolder_, "updatebg.hg3");
  if (!file.Open(path.c_str(), TQFILE_READ | TQFILE_EXISTING)) return;
  int size = file.GetSize();
  if (size <= 0) return;
  auto* buffer = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)size));
  if (!buffer) return;
  if (file.Read(buffer, (uint32_t)size) > 0) {
    tqMemBlock block(buffer, (uint32_t)size);
    picture_ = new tqImageHolder;
    if (picture_ && picture_->load(block, 0, 0) && picture_->image()) {
      picture_->image()->flattenOnto(0xFFFFFF);
      picture_->image()->flipVertical();
    } else {
      delete picture_;
      picture_ = nullptr;
    }
  }
  PrivateFree(buffer);
}

void Updater::DrawPicture(tqp::DeviceContext dc) {
  if (!picture_ || !dc) return;
  int w = 0, h = 0;
  picture_->size(&w, &h);
  tqp::StretchDIBits(dc, 0, 0, w, h, picture_->pixels(), picture_->bytesPerPixel() * 8,
                     (uint32_t)(picture_->pitch() * h));
}

// ------------------------------------------------------------ confirmation

bool Updater::CancelRequested() const { return options_.cancelRequest && options_.cancelRequest->load() != 0; }

void Updater::Close(tqp::WindowHandle window, int status) {
  status_ = status;
  tqp::PostMessage(window, UPD_CLOSE, 0, 0);
}

// A journal left by an interrupted swap is undone before anything else reads
// the installation (its version file may be one of the swapped files).
bool Updater::RepairFirst(tqp::WindowHandle window) {
  if (options_.dryRun) return true;
  SwapProblem problem;
  if (RepairInstallation(installFolder_, hooks_, &problem) != RepairOutcome::Failed) return true;
  ShowProblem(window, problem.code, problem.path, false, 0);
  ShowBox(window, Texts().error_copy, Texts().wndtitle, tqp::MB_OK_);
  Close(window, TQ_EXIT_FAILED);
  return false;
}

void Updater::Confirm(tqp::WindowHandle window) {
  if (ShowBox(window, Texts().intoro, Texts().wndtitle, tqp::MB_OKCANCEL_) != 1 || CancelRequested())
    return Close(window, TQ_EXIT_CANCELLED);
  if (!LookupInstallation(info_.brand, info_.app, installFolder_)) {
    ShowBox(window, Texts().error_inst, Texts().wndtitle, tqp::MB_OK_);
    return Close(window, TQ_EXIT_REFUSED);
  }
  if (!RepairFirst(window)) return;
  uint32_t installed = ReadInstalledVersion(installFolder_);
  uint32_t required = RequiredVersion(info_.version_major, info_.version_minor);
  if (!VersionGatePasses(installed, required)) {
    ShowBox(window, Texts().error_version, Texts().error_title, tqp::MB_OK_);
    return Close(window, TQ_EXIT_REFUSED);
  }
  // Without a data folder the package folder itself would be scanned and the
  // updater copied into the game: stop instead.
  char data[TQPLAN_MAX_PATH * 4];
  uint32_t attributes = tqp::ATTR_INVALID;
  if (tqPathJoinSized(data, sizeof data, packageFolder_.c_str(), "data")) attributes = tqp::GetAttributes(data);
  if (attributes == tqp::ATTR_INVALID || !(attributes & tqp::ATTR_DIRECTORY)) {
    ShowBox(window, Texts().error_copy, Texts().wndtitle, tqp::MB_OK_);
    return Close(window, TQ_EXIT_REFUSED);
  }
  dataFolder_ = data;
  // Links, special files, names the code page cannot hold and paths that do
  // not fit refuse the package before anything is written, naming the path.
  Refusal why;
  if (!ScanFolder(data, "", files_, &why) || !CheckDestinations(installFolder_, files_, &why)) {
    std::string text = std::string(Texts().error_copy) + "\n" + why.Describe();
    ShowBox(window, text.c_str(), Texts().error_title, tqp::MB_OK_);
    return Close(window, TQ_EXIT_REFUSED);
  }
  if (options_.dryRun) {
    DryRun();
    return Close(window, status_);
  }
  tqp::PostMessage(window, UPD_REPAINT, 0, 0);
}

// ------------------------------------------------------------ plan, checks, copy

bool Updater::PlanAndCheck(tqp::WindowHandle owner) {
  PlanProblem problem;
  planned_ = BuildPlan(dataFolder_.c_str(), installFolder_, files_, &plan_, &problem);
  if (!planned_) {
    ShowProblem(owner, problem.code, problem.path, problem.openText, problem.line);
    return false;
  }
  std::vector<CheckResult> results;
  if (CheckPlan(plan_, &results)) return true;
  for (const CheckResult& r : results) {
    if (r.passed) continue;
    ShowProblem(owner, r.problem.code, r.problem.path, r.problem.openText, r.problem.line);
    break;
  }
  return false;
}

// Copies every file that the plan stages into the staging folder; the
// installation itself is not touched until the swap.
bool Updater::StartStaging(tqp::WindowHandle dialog) {
  copy_ = new tqFileCopy(kCopySlots, 0);
  if (!copy_) return false;
  // The version rule was decided by the plan: kept programs are not queued.
  copy_->SetMode(0);
  for (const PlanFile& f : plan_.files) {
    if (f.keepInstalled) continue;
    if (!copy_->AddJob(f.source.c_str(), plan_.StagedPath(f.index).c_str(), f.index)) return false;
  }
  dialog_ = dialog;
  return copy_->Start(CopyCallback, this, nullptr);
}

int32_t Updater::CopyCallback(void* user, tqFileCopyStatus* status) {
  auto* self = static_cast<Updater*>(user);
  if (status->finished) {
    // After an error UPD_FAILED has been posted already.
    if (!status->error) tqp::PostMessage(self->dialog_, UPD_STAGED, 0, 0);
    return 1;
  }
  if (status->error) {
    self->ShowBox(self->dialog_, status->error_text, self->Texts().error_title, tqp::MB_OK_);
    tqp::PostMessage(self->dialog_, UPD_FAILED, 0, 0);
    return 0;
  }
  if (status->value != self->lastFileReported_) {
    // The engine moved on: the file before is complete.
    StagedFileDone(self->plan_, self->lastFileReported_);
    self->lastFileReported_ = status->value;
    self->hooks_.At("copy", status->value);
  }
  return self->CancelRequested() ? 0 : 1;
}

void Updater::StopCopy() {
  // The engine's destructor waits for the end of its run, so no staged file
  // is still open when the staging folder goes.
  delete copy_;
  copy_ = nullptr;
}

void Updater::BeginCopy(tqp::WindowHandle dialog) {
  // A dialog without the visible style appears only when its loop first
  // idles; a check's box may come before that, and must not hide it.
  tqp::ShowWindow(dialog, kShowNormal);
  tqp::UpdateWindow(dialog);
  // Nothing may be reported as done that did not run: a copy that cannot
  // start ends as a failed one.
  if (!PlanAndCheck(dialog)) {
    tqp::PostMessage(dialog, UPD_FAILED, 0, 0);
    return;
  }
  hooks_.At("checked", 0);
  if (CancelRequested()) {
    tqp::PostMessage(dialog, UPD_CANCELLED, 0, 0);
    return;
  }
  if (!StartStaging(dialog)) tqp::PostMessage(dialog, UPD_FAILED, 0, 0);
}

void Updater::Staged(tqp::WindowHandle dialog) {
  StopCopy();
  hooks_.At("staged", 0);
  if (CancelRequested()) {
    DiscardStaging(plan_);
    tqp::PostMessage(dialog, UPD_CANCELLED, 0, 0);
    return;
  }
  SwapProblem problem;
  if (CommitStaged(plan_, hooks_, &problem)) {
    tqp::PostMessage(dialog, UPD_DONE, 0, 0);
    return;
  }
  ShowProblem(dialog, problem.code, problem.path, false, 0);
  tqp::PostMessage(dialog, UPD_FAILED, 0, 0);
}

void Updater::Finish(tqp::WindowHandle dialog, uint32_t message) {
  tqp::ShowWindow(dialog, kHide);
  StopCopy();
  if (message == UPD_DONE) {
    status_ = TQ_EXIT_SUCCESS;
    ShowBox(dialog, Texts().success, Texts().wndtitle, tqp::MB_OK_);
  } else if (message == UPD_FAILED) {
    status_ = TQ_EXIT_FAILED;
    if (planned_) DiscardStaging(plan_);
    ShowBox(dialog, Texts().error_copy, Texts().wndtitle, tqp::MB_OK_);
  } else {
    status_ = TQ_EXIT_CANCELLED;
  }
  tqp::PostMessage(dialog, UPD_CLOSE, 0, 0);
}

// ------------------------------------------------------------ dry run

void Updater::DryRun() {
  PlanProblem problem;
  status_ = TQ_EXIT_FAILED;
  if (JournalPresent(installFolder_)) printf("repair: an interrupted update will be undone first\n");
  if (!BuildPlan(dataFolder_.c_str(), installFolder_, files_, &plan_, &problem)) {
    printf("plan: refused: %s %s line %d\n", Shown(tqp::ErrorText(problem.code)).c_str(),
           Shown(problem.path).c_str(), problem.line);
    return;
  }
  printf("plan: %zu files, %llu bytes to write into %s\n", plan_.files.size(),
         (unsigned long long)plan_.BytesToWrite(), Shown(plan_.installFolder).c_str());
  for (const std::string& folder : plan_.newFolders) printf("  folder   %s\n", Shown(folder).c_str());
  for (const PlanFile& f : plan_.files) {
    const char* what = f.keepInstalled ? "keep" : f.replaces ? "replace" : "new";
    printf("  %-8s %s %llu\n", what, Shown(f.relative).c_str(), (unsigned long long)f.size);
  }
  printf("  %-8s %s %zu bytes\n", plan_.logExists ? "replace" : "new", TQPLAN_LOG, plan_.newLog.size());
  std::vector<CheckResult> results;
  bool passed = CheckPlan(plan_, &results);
  for (const CheckResult& r : results) {
    if (r.passed) {
      printf("check %s: ok\n", r.name);
      continue;
    }
    printf("check %s: failed: %s %s\n", r.name, Shown(tqp::ErrorText(r.problem.code)).c_str(),
           Shown(r.problem.path).c_str());
  }
  fflush(stdout);
  status_ = passed ? TQ_EXIT_SUCCESS : TQ_EXIT_FAILED;
}

// ------------------------------------------------------------ procedures

intptr_t Updater::OnDialog(tqp::WindowHandle dialog, uint32_t message) {
  switch (message) {
    case tqp::WM_INITDIALOG_:
      tqCenterWindow(main_, dialog);
      tqp::SetDlgItemText(dialog, IDC_PROGRESS_TEXT, Texts().copying);
      tqp::PostMessage(dialog, UPD_BEGIN_COPY, 0, 0);
      break;
    case UPD_BEGIN_COPY:
      BeginCopy(dialog);
      break;
    case UPD_STAGED:
      Staged(dialog);
      break;
    case UPD_DONE:
    case UPD_FAILED:
    case UPD_CANCELLED:
      Finish(dialog, message);
      break;
    case UPD_CLOSE:
      tqp::PostMessage(main_, UPD_CLOSE, 0, 0);
      tqp::EndDialog(dialog, kDialogClosed);
      break;
  }
  return 0;
}

intptr_t Updater::OnWindow(tqp::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case tqp::WM_CREATE_:
      main_ = window;
      tqp::PostMessage(window, UPD_CONFIRM, 0, 0);
      break;
    case tqp::WM_PAINT_:
      if (picture_) {
        tqp::PaintInfo paint;
        tqp::DeviceContext dc = tqp::BeginPaint(window, paint);
        DrawPicture(dc);
        tqp::EndPaint(window, paint);
      }
      break;
    case tqp::WM_DESTROY_:
      tqp::PostQuitMessage(0);
      break;
    case UPD_CLOSE:
      tqp::DestroyWindow(window);
      break;
    case UPD_CONFIRM:
      Confirm(window);
      break;
    case UPD_REPAINT: {
      tqp::DeviceContext dc = tqp::GetDC(window);
      DrawPicture(dc);
      tqp::ReleaseDC(window, dc);
      tqp::PostMessage(window, UPD_SHOW_DIALOG, 0, 0);
      break;
    }
    case UPD_SHOW_DIALOG:
      tqp::DialogBox(instance_, IDD_PROGRESS, window, DialogProc, this);
      break;
  }
  return tqp::DefWindowProc(window, message, wParam, lParam);
}

intptr_t Updater::WindowProc(tqp::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto* self = static_cast<Updater*>(tqp::GetWindowUserData(window));
  if (!self) return tqp::DefWindowProc(window, message, wParam, lParam);
  return self->OnWindow(window, message, wParam, lParam);
}

intptr_t Updater::DialogProc(tqp::WindowHandle dialog, uint32_t message, uintptr_t, intptr_t) {
  auto* self = static_cast<Updater*>(tqp::GetWindowUserData(dialog));
  return self ? self->OnDialog(dialog, message) : 0;
}

bool Updater::Progress(uint64_t* done, uint64_t* total) const {
  if (!copy_) return false;
  const tqFileCopyStatus status = copy_->Snapshot();
  *done = status.total_done;
  *total = status.total_size;
  return true;
}

// ------------------------------------------------------------ start-up

void Updater::RunWindow(tqWindowClass& windowClass) {
  void* largeIcon = nullptr;
  void* smallIcon = nullptr;
  std::string icon = PlanJoin(packageFolder_, "icon.ico");
  if (tqp::ExtractIcons(icon.c_str(), &largeIcon, &smallIcon) == 0 || !largeIcon) {
    largeIcon = tqp::LoadIconResource(instance_, IDI_UPDATE_LARGE);
    smallIcon = tqp::LoadIconResource(instance_, IDI_UPDATE_SMALL);
  }
  windowClass.Register("WC_UPDATE", WindowProc, instance_, largeIcon, smallIcon, nullptr, nullptr, nullptr, 3);
  char title[256];
  snprintf(title, sizeof title, "%s", Texts().wndtitle);
  int w = kFallbackWidth, h = kFallbackHeight;
  if (picture_) picture_->size(&w, &h);
  tqp::Rect rect{0, 0, w, h};
  tqCenterRect(&rect, kWindowStyle, 0, false);
  tqp::WindowHandle window =
      tqp::CreateWindow(0, "WC_UPDATE", title, kWindowStyle, rect.left, rect.top, rect.right - rect.left,
                        rect.bottom - rect.top, nullptr, instance_, this);
  if (window) {
    tqp::ShowWindow(window, kShowNormal);
    tqp::UpdateWindow(window);
    tqp::Message message;
    while (tqp::GetMessage(message) > 0) {
      tqp::TranslateMessage(message);
      tqp::DispatchMessage(message);
    }
  }
}

int Updater::Start(tqWindowClass& windowClass) {
  char folder[TQPLAN_MAX_PATH * 4];
  if (!tqp::GetCurrentDirectory(folder, sizeof folder) || !LoadDescription(info_)) {
    ShowBox(nullptr, "updateinfo.xml was not found.", "error", tqp::MB_OK_);
    return TQ_EXIT_REFUSED;
  }
  packageFolder_ = folder;
  if (!ChooseLanguage(info_)) {
    ShowBox(nullptr, Texts().error_language, "error", tqp::MB_OK_);
    return TQ_EXIT_REFUSED;
  }
  bool gameExisted = true, configExisted = true;
  game_.Create(info_.mutex, &gameExisted);
  config_.Create(info_.confmutex, &configExisted);
  if (gameExisted || configExisted) {
    ShowBox(nullptr, Texts().error_boot, Texts().wndtitle, tqp::MB_OK_);
    return TQ_EXIT_REFUSED;
  }
  LoadPicture();
  RunWindow(windowClass);
  return status_;
}

int Updater::Run() {
  // Start-up creates the probe and the file server through these.
  tqCapsInstallHooks();
  tqFileServerInstallHooks();
  LibraryStartup(127, 0);
  tqWindowClass windowClass;
  int status = Start(windowClass);
  // Shut-down in reverse order of start-up: engine, picture, library, window
  // class, mutexes.
  StopCopy();
  delete picture_;
  picture_ = nullptr;
  LibraryShutdown();
  windowClass.Unregister();
  game_.Close();
  config_.Close();
  return status;
}

int RunUpdater(void* instance, const UpdaterOptions& options) {
  Updater updater(instance, options);
  return updater.Run();
}
