// The updater's flow. After the window exists, every step is a custom message
// that the window procedure or the progress dialog posts to itself.
#include "app/Updater.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "app/FileList.h"
#include "app/Install.h"
#include "app/UpdateInfo.h"
#include "caps/tqCaps.h"
#include "copy/tqFileCopy.h"
#include "file/tqFile.h"
#include "file/tqFileServer.h"
#include "image/tqImageHolder.h"
#include "util/tqUtil.h"

namespace {

// Process-wide state, owned by the main thread.
void* g_instance = nullptr;
tqImageHolder* g_picture = nullptr;
tqFileCopy* g_copy = nullptr;
tqp::WindowHandle g_main = nullptr;
char g_destination[260];

// Without a decodable picture the window still appears, at this size.
constexpr int kFallbackWidth = 480, kFallbackHeight = 270;
constexpr uint32_t kWindowStyle = 0x90800000;  // popup, visible, thin border

std::mutex g_logLock;
std::string g_logPath;

LanguageEntry& Texts() { return TheUpdateInfo().current; }

// A named mutex that marks a running game, configuration tool or updater.
class MutexGuard {
 public:
  ~MutexGuard() { Close(); }
  // existed is set unless a handle came back without "already exists" (183)
  // or "invalid handle" (6, a name taken by an object of another kind).
  void Create(const char* name, bool* existed) {
    *existed = true;
    bool already = false;
    handle_ = tqp::CreateNamedMutex(name, &already);
    uint32_t error = tqp::LastError();
    if (handle_ && error != tqp::ERR_ALREADY_EXISTS && error != tqp::ERR_INVALID_HANDLE) *existed = false;
  }
  void Close() {
    if (handle_) tqp::CloseNamedMutex(handle_);
    handle_ = nullptr;
  }

 private:
  tqp::MutexHandle handle_ = nullptr;
};

void LoadPicture() {
  tqFile file;
  if (!file.Open("updatebg.hg3", TQFILE_READ | TQFILE_EXISTING)) return;
  int size = file.GetSize();
  if (size <= 0) return;
  auto* buffer = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)size));
  if (!buffer) return;
  if (file.Read(buffer, (uint32_t)size) > 0) {
    tqMemBlock block(buffer, (uint32_t)size);
    g_picture = new tqImageHolder;
    if (g_picture && g_picture->load(block, 0, 0) && g_picture->image()) {
      g_picture->image()->flattenOnto(0xFFFFFF);
      g_picture->image()->flipVertical();
    } else {
      delete g_picture;
      g_picture = nullptr;
    }
  }
  PrivateFree(buffer);
}

void DrawPicture(tqp::DeviceContext dc) {
  if (!g_picture || !dc) return;
  int w = 0, h = 0;
  g_picture->size(&w, &h);
  tqp::StretchDIBits(dc, 0, 0, w, h, g_picture->pixels(), g_picture->bytesPerPixel() * 8,
                     (uint32_t)(g_picture->pitch() * h));
}

int32_t CopyCallback(void* user, tqFileCopyStatus* status) {
  auto dialog = static_cast<tqp::WindowHandle>(user);
  if (status->finished) {
    // After an error UPD_FAILED has been posted already.
    if (!status->error) tqp::PostMessage(dialog, UPD_DONE, 0, 0);
    return 1;
  }
  if (status->error) {
    ShowBox(dialog, status->error_text, Texts().error_title, tqp::MB_OK_);
    tqp::PostMessage(dialog, UPD_FAILED, 0, 0);
    return 0;
  }
  return 1;
}

// Builds install.log and the copy jobs and starts the engine. False when the
// copy cannot run at all (a path too long for the engine, no buffers).
bool BeginCopy(tqp::WindowHandle dialog) {
  const FileList& files = TheFileList();
  UpdateInstallLog(g_destination, files);
  g_copy = new tqFileCopy(3, 0);
  if (!g_copy) return false;
  char data[1024];
  if (!tqp::GetCurrentDirectory(data, sizeof data)) return false;
  g_copy->SetMode(1);
  for (const std::string& relative : files) {
    char source[1024], destination[1024];
    if (strlen(data) + relative.size() + 2 > sizeof source ||
        strlen(g_destination) + relative.size() + 2 > sizeof destination)
      return false;
    tqPathJoin(destination, 2, g_destination, relative.c_str());
    tqPathJoin(source, 2, data, relative.c_str());
    if (!g_copy->AddJob(source, destination, 0)) return false;
  }
  return g_copy->Start(CopyCallback, dialog, nullptr);
}

intptr_t ProgressDialog(tqp::WindowHandle dialog, uint32_t message, uintptr_t, intptr_t) {
  switch (message) {
    case tqp::WM_INITDIALOG_:
      tqCenterWindow(g_main, dialog);
      tqp::SetDlgItemText(dialog, IDC_PROGRESS_TEXT, Texts().copying);
      tqp::PostMessage(dialog, UPD_BEGIN_COPY, 0, 0);
      break;
    case UPD_BEGIN_COPY:
      // Nothing may be reported as done that did not run: a copy that cannot
      // start ends as a failed one.
      if (!BeginCopy(dialog)) tqp::PostMessage(dialog, UPD_FAILED, 0, 0);
      break;
    case UPD_DONE:
      tqp::ShowWindow(dialog, 0);
      ShowBox(dialog, Texts().success, Texts().wndtitle, tqp::MB_OK_);
      tqp::PostMessage(dialog, UPD_CLOSE, 0, 0);
      break;
    case UPD_FAILED:
      tqp::ShowWindow(dialog, 0);
      ShowBox(dialog, Texts().error_copy, Texts().wndtitle, tqp::MB_OK_);
      tqp::PostMessage(dialog, UPD_CLOSE, 0, 0);
      break;
    case UPD_CLOSE:
      tqp::PostMessage(g_main, UPD_CLOSE, 0, 0);
      tqp::EndDialog(dialog, 2);
      break;
  }
  return 0;
}

void Confirm(tqp::WindowHandle window) {
  UpdateInfo& info = TheUpdateInfo();
  if (ShowBox(window, Texts().intoro, Texts().wndtitle, tqp::MB_OKCANCEL_) != 1) {
    tqp::PostMessage(window, UPD_CLOSE, 0, 0);
    return;
  }
  if (!LookupInstallation(info.brand, info.app, TheInstallFolder())) {
    ShowBox(window, Texts().error_inst, Texts().wndtitle, tqp::MB_OK_);
    tqp::PostMessage(window, UPD_CLOSE, 0, 0);
    return;
  }
  uint32_t installed = ReadInstalledVersion(TheInstallFolder());
  uint32_t required = RequiredVersion(info.version_major, info.version_minor);
  if (!VersionGatePasses(installed, required)) {
    ShowBox(window, Texts().error_version, Texts().error_title, tqp::MB_OK_);
    tqp::PostMessage(window, UPD_CLOSE, 0, 0);
    return;
  }
  char folder[1024], data[1024];
  tqp::GetCurrentDirectory(folder, sizeof folder);
  tqPathJoin(data, 2, folder, "data");
  // Without a data folder the package folder itself would be scanned and the
  // updater copied into the game: stop instead.
  if (strlen(folder) + 6 > sizeof folder || !tqp::SetCurrentDirectory(data)) {
    ShowBox(window, Texts().error_copy, Texts().wndtitle, tqp::MB_OK_);
    tqp::PostMessage(window, UPD_CLOSE, 0, 0);
    return;
  }
  ScanFolder("", TheFileList());
  memcpy(g_destination, TheInstallFolder(), sizeof g_destination);
  tqp::PostMessage(window, UPD_REPAINT, 0, 0);
}

intptr_t UpdateWindowProc(tqp::WindowHandle window, uint32_t message, uintptr_t wParam,
                          intptr_t lParam) {
  switch (message) {
    case tqp::WM_CREATE_:
      g_main = window;
      tqp::PostMessage(window, UPD_CONFIRM, 0, 0);
      break;
    case tqp::WM_PAINT_:
      if (g_picture) {
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
      tqp::DialogBox(g_instance, IDD_PROGRESS, window, ProgressDialog);
      break;
  }
  return tqp::DefWindowProc(window, message, wParam, lParam);
}

void LogBox(const char* caption, const char* text, int answer) {
  std::lock_guard<std::mutex> lock(g_logLock);
  if (g_logPath.empty()) return;
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
  tqp::FileHandle h = tqp::FileOpen(g_logPath.c_str(), tqp::ACCESS_WRITE, tqp::SHARE_READ,
                                    tqp::DISP_OPEN_ALWAYS, tqp::ATTR_NORMAL);
  if (h == tqp::INVALID_FILE) return;
  tqp::FileSeek(h, 0, 2);
  uint32_t done;
  tqp::FileWrite(h, line.data(), (uint32_t)line.size(), &done);
  tqp::FileClose(h);
}

}  // namespace

void SetUiLog(const char* path) {
  std::lock_guard<std::mutex> lock(g_logLock);
  g_logPath = path ? path : "";
}

int ShowBox(tqp::WindowHandle owner, const char* text, const char* caption, uint32_t type) {
  int answer = tqp::MessageBox(owner, text, caption, type);
  LogBox(caption, text, answer);
  return answer;
}

tqFileCopy* TheCopyEngine() { return g_copy; }

int RunUpdater(void* instance) {
  // Start-up creates the probe and the file server through these.
  tqCapsInstallHooks();
  tqFileServerInstallHooks();
  LibraryStartup(127, 0);
  UpdateInfo& info = TheUpdateInfo();
  if (!LoadDescription(info)) {
    ShowBox(nullptr, "updateinfo.xml was not found.", "error", tqp::MB_OK_);
    LibraryShutdown();
    return 0;
  }
  if (!ChooseLanguage(info)) {
    ShowBox(nullptr, Texts().error_language, "error", tqp::MB_OK_);
    LibraryShutdown();
    return 0;
  }
  MutexGuard game, config;
  bool gameExisted = true, configExisted = true;
  game.Create(info.mutex, &gameExisted);
  config.Create(info.confmutex, &configExisted);
  if (gameExisted || configExisted) {
    ShowBox(nullptr, Texts().error_boot, Texts().wndtitle, tqp::MB_OK_);
    LibraryShutdown();
    return 0;  // the guards close as they go
  }
  g_instance = instance;
  LoadPicture();

  void* largeIcon = nullptr;
  void* smallIcon = nullptr;
  if (tqp::ExtractIcons("icon.ico", &largeIcon, &smallIcon) == 0 || !largeIcon) {
    largeIcon = tqp::LoadIconResource(instance, IDI_UPDATE_LARGE);
    smallIcon = tqp::LoadIconResource(instance, IDI_UPDATE_SMALL);
  }
  tqWindowClass windowClass;
  windowClass.Register("WC_UPDATE", UpdateWindowProc, instance, largeIcon, smallIcon, nullptr,
                       nullptr, nullptr, 3);
  char title[256];
  snprintf(title, sizeof title, "%s", Texts().wndtitle);
  int w = kFallbackWidth, h = kFallbackHeight;
  if (g_picture) g_picture->size(&w, &h);
  tqp::Rect rect{0, 0, w, h};
  tqCenterRect(&rect, kWindowStyle, 0, false);
  tqp::WindowHandle window =
      tqp::CreateWindow(0, "WC_UPDATE", title, kWindowStyle, rect.left, rect.top,
                        rect.right - rect.left, rect.bottom - rect.top, nullptr, instance);
  if (window) {
    tqp::ShowWindow(window, 5);
    tqp::UpdateWindow(window);
    tqp::Message message;
    while (tqp::GetMessage(message) > 0) {
      tqp::TranslateMessage(message);
      tqp::DispatchMessage(message);
    }
  }
  delete g_copy;
  g_copy = nullptr;
  delete g_picture;
  g_picture = nullptr;
  LibraryShutdown();
  windowClass.Unregister();
  return 0;
}
