// Errors, heap, time, synchronisation, threads, special folders and version
// resources for the POSIX backend.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/posix/posix_internal.h"
#include "platform/tqPlatform.h"

namespace tqp {

// ------------------------------------------------------------ errors

namespace {
thread_local uint32_t t_lastError = 0;
}

uint32_t LastError() { return t_lastError; }
void SetLastError(uint32_t code) { t_lastError = code; }

std::string ErrorText(uint32_t code) {
  switch (code) {
    case ERR_SUCCESS: return "この操作を正しく終了しました。";
    case ERR_FILE_NOT_FOUND: return "指定されたファイルが見つかりません。";
    case ERR_PATH_NOT_FOUND: return "指定されたパスが見つかりません。";
    case ERR_ACCESS_DENIED: return "アクセスが拒否されました。";
    case ERR_INVALID_HANDLE: return "ハンドルが無効です。";
    case ERR_NOT_ENOUGH_MEMORY: return "このコマンドを実行するのに十分な記憶域がありません。";
    case ERR_NO_MORE_FILES: return "これ以上ファイルがありません。";
    case ERR_WRITE_FAULT: return "指定されたデバイスに書き込めません。";
    case ERR_READ_FAULT: return "指定されたデバイスから読み取れません。";
    case ERR_SHARING_VIOLATION:
      return "プロセスはファイルにアクセスできません。別のプロセスが使用中です。";
    case ERR_HANDLE_EOF: return "ファイルの終わりに達しました。";
    case ERR_FILE_EXISTS: return "ファイルが存在します。";
    case ERR_INVALID_PARAMETER: return "パラメーターが間違っています。";
    case ERR_DISK_FULL: return "ディスクに十分な空き領域がありません。";
    case ERR_INVALID_NAME: return "ファイル名、ディレクトリ名、またはボリューム ラベルの構文が間違っています。";
    case ERR_ALREADY_EXISTS: return "既に存在するファイルを作成することはできません。";
    case ERR_FILENAME_TOO_LONG: return "ファイル名または拡張子が長すぎます。";
    case ERR_NO_UNICODE_TRANSLATION:
      return "ターゲットのマルチバイト コード ページに Unicode 文字のマッピングが存在しません。";
    default: {
      char text[64];
      snprintf(text, sizeof text, "エラー %u が発生しました。", code);
      return text;
    }
  }
}

// ------------------------------------------------------------ heap
// Blocks are kept in a list so that destroying the heap releases them all, as
// the Windows heap does.

namespace {

struct HeapBlock {
  HeapBlock* prev;
  HeapBlock* next;
};
static_assert(sizeof(HeapBlock) <= 16);
constexpr size_t kHeader = 16;

struct Heap {
  std::mutex lock;
  HeapBlock head{&head, &head};
};

}  // namespace

HeapHandle HeapCreate(size_t) { return new Heap; }

void* HeapAlloc(HeapHandle heap, size_t size) {
  auto* h = static_cast<Heap*>(heap);
  if (!h || size > SIZE_MAX - kHeader) {
    SetLastError(ERR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* block = static_cast<HeapBlock*>(malloc(kHeader + size));
  if (!block) {
    SetLastError(ERR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(h->lock);
  block->next = &h->head;
  block->prev = h->head.prev;
  h->head.prev->next = block;
  h->head.prev = block;
  return reinterpret_cast<char*>(block) + kHeader;
}

bool HeapFree(HeapHandle heap, void* p) {
  auto* h = static_cast<Heap*>(heap);
  if (!h || !p) return false;
  auto* block = reinterpret_cast<HeapBlock*>(static_cast<char*>(p) - kHeader);
  {
    std::lock_guard<std::mutex> lock(h->lock);
    block->prev->next = block->next;
    block->next->prev = block->prev;
  }
  free(block);
  return true;
}

bool HeapDestroy(HeapHandle heap) {
  auto* h = static_cast<Heap*>(heap);
  if (!h) return false;
  for (HeapBlock* b = h->head.next; b != &h->head;) {
    HeapBlock* next = b->next;
    free(b);
    b = next;
  }
  delete h;
  return true;
}

// ------------------------------------------------------------ time

LocalTime GetLocalTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  localtime_r(&ts.tv_sec, &tm);
  LocalTime t;
  t.year = (uint16_t)(tm.tm_year + 1900);
  t.month = (uint16_t)(tm.tm_mon + 1);
  t.dayOfWeek = (uint16_t)tm.tm_wday;
  t.day = (uint16_t)tm.tm_mday;
  t.hour = (uint16_t)tm.tm_hour;
  t.minute = (uint16_t)tm.tm_min;
  t.second = (uint16_t)tm.tm_sec;
  t.milliseconds = (uint16_t)(ts.tv_nsec / 1000000);
  return t;
}

uint32_t TickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint32_t)((uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000);
}

void Sleep(uint32_t milliseconds) {
  struct timespec ts{(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// ------------------------------------------------------------ named mutex
// A lock file held with flock: a crashed holder never leaves it locked.

namespace {
struct NamedMutex {
  int fd;
  bool owner;
};
}  // namespace

namespace {

// A folder for lock files is fit when it is a real folder (no link) of the
// effective user that nobody else may write.
bool PrivateFolder(const std::string& folder) {
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) {
    posix::SetErrorFromErrno(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
    SetLastError(ERR_ACCESS_DENIED);
    return false;
  }
  return true;
}

// The runtime folder when it is set; else <TMPDIR or /tmp>/tq-mutex-<uid>,
// made with mode 0700 on first use. Either must pass PrivateFolder.
bool LockFolder(std::string& folder) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) {
    folder = runtime;
  } else {
    const char* tmp = getenv("TMPDIR");
    folder = tmp && *tmp ? tmp : "/tmp";
    folder += "/tq-mutex-" + std::to_string((unsigned long)geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      posix::SetErrorFromErrno(errno);
      return false;
    }
  }
  return PrivateFolder(folder);
}

}  // namespace

MutexHandle CreateNamedMutex(const char* name, bool* alreadyExists) {
  if (alreadyExists) *alreadyExists = false;
  if (!name) {
    SetLastError(ERR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!*name) {
    // An unnamed mutex is private to its holder: it never exists already.
    SetLastError(ERR_SUCCESS);
    return new NamedMutex{-1, true};
  }
  std::string path;
  if (!LockFolder(path)) return nullptr;
  path += "/tq-mutex-";
  static const char hex[] = "0123456789abcdef";
  for (const char* p = name; *p; ++p) {
    unsigned char c = (unsigned char)*p;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
        c == '-') {
      path += (char)c;
    } else {
      path += '%';
      path += hex[c >> 4];
      path += hex[c & 15];
    }
  }
  // Never through a link, never waiting on a FIFO, and the mode is left as
  // created: the folder keeps other users out.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENXIO)
      SetLastError(ERR_ACCESS_DENIED);
    else
      posix::SetErrorFromErrno(errno);
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    SetLastError(ERR_ACCESS_DENIED);
    return nullptr;
  }
  auto* m = new NamedMutex{fd, true};
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    m->owner = false;
    if (alreadyExists) *alreadyExists = true;
    SetLastError(ERR_ALREADY_EXISTS);
  } else {
    SetLastError(ERR_SUCCESS);
  }
  return m;
}

void CloseNamedMutex(MutexHandle h) {
  auto* m = static_cast<NamedMutex*>(h);
  if (!m) return;
  if (m->fd >= 0) close(m->fd);
  delete m;
}

// ------------------------------------------------------------ critical sections, events

CriticalSection::CriticalSection() : impl_(new std::recursive_mutex) {}
CriticalSection::~CriticalSection() { delete static_cast<std::recursive_mutex*>(impl_); }
void CriticalSection::Enter() { static_cast<std::recursive_mutex*>(impl_)->lock(); }
void CriticalSection::Leave() { static_cast<std::recursive_mutex*>(impl_)->unlock(); }

namespace {
struct Event {
  std::mutex lock;
  std::condition_variable cv;
  bool manual;
  bool signalled;
};
}  // namespace

EventHandle CreateEvent(bool manualReset, bool initiallySignalled) {
  auto* e = new Event;
  e->manual = manualReset;
  e->signalled = initiallySignalled;
  return e;
}

bool SetEvent(EventHandle h) {
  auto* e = static_cast<Event*>(h);
  if (!e) return false;
  {
    std::lock_guard<std::mutex> lock(e->lock);
    e->signalled = true;
  }
  if (e->manual)
    e->cv.notify_all();
  else
    e->cv.notify_one();
  return true;
}

bool ResetEvent(EventHandle h) {
  auto* e = static_cast<Event*>(h);
  if (!e) return false;
  std::lock_guard<std::mutex> lock(e->lock);
  e->signalled = false;
  return true;
}

bool WaitEvent(EventHandle h, uint32_t milliseconds) {
  auto* e = static_cast<Event*>(h);
  if (!e) return false;
  std::unique_lock<std::mutex> lock(e->lock);
  if (milliseconds == INFINITE_WAIT) {
    e->cv.wait(lock, [e] { return e->signalled; });
  } else if (!e->cv.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [e] { return e->signalled; })) {
    return false;
  }
  if (!e->manual) e->signalled = false;
  return true;
}

void CloseEvent(EventHandle h) { delete static_cast<Event*>(h); }

// ------------------------------------------------------------ threads

namespace {
struct Thread {
  pthread_t thread{};
  ThreadProc proc = nullptr;
  void* arg = nullptr;
  std::atomic<uint32_t> exitCode{STILL_ACTIVE};
  std::atomic<int> refs{2};
  std::atomic<uint32_t> id{0};
  Event done{{}, {}, true, false};
};

void Release(Thread* t) {
  if (t->refs.fetch_sub(1) == 1) delete t;
}

void* ThreadMain(void* p) {
  auto* t = static_cast<Thread*>(p);
  t->id = (uint32_t)syscall(SYS_gettid);
  uint32_t code = t->proc(t->arg);
  t->exitCode = code == STILL_ACTIVE ? 0 : code;
  SetEvent(&t->done);
  Release(t);
  return nullptr;
}
}  // namespace

ThreadHandle CreateThread(ThreadProc proc, void* arg, uint32_t* threadId) {
  if (!proc) {
    SetLastError(ERR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* t = new Thread;
  t->proc = proc;
  t->arg = arg;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  int rc = pthread_create(&t->thread, &attr, ThreadMain, t);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete t;
    posix::SetErrorFromErrno(rc);
    return nullptr;
  }
  if (threadId) {
    while (t->id == 0 && t->exitCode == STILL_ACTIVE) sched_yield();
    *threadId = t->id;
  }
  return t;
}

bool GetThreadExitCode(ThreadHandle h, uint32_t* code) {
  auto* t = static_cast<Thread*>(h);
  if (!t) {
    SetLastError(ERR_INVALID_HANDLE);
    return false;
  }
  if (code) *code = t->exitCode;
  return true;
}

bool WaitThread(ThreadHandle h, uint32_t milliseconds) {
  auto* t = static_cast<Thread*>(h);
  if (!t) return false;
  if (!WaitEvent(&t->done, milliseconds)) return false;
  return true;
}

bool SetThreadPriority(ThreadHandle h, int) { return h != nullptr; }

void CloseThread(ThreadHandle h) {
  if (h) Release(static_cast<Thread*>(h));
}

uint32_t CurrentThreadId() { return (uint32_t)syscall(SYS_gettid); }

// ------------------------------------------------------------ special folders
// With WINEPREFIX the folders are those of the prefix, given with drive
// letters; without it they follow the XDG conventions.

namespace {

std::string Env(const char* name) {
  const char* v = getenv(name);
  return v ? v : "";
}

bool Put(const std::string& value, char* out, size_t size) {
  if (!out || value.size() + 1 > size) {
    SetLastError(ERR_FILENAME_TOO_LONG);
    return false;
  }
  memcpy(out, value.c_str(), value.size() + 1);
  return true;
}

bool PutSystem(const std::string& systemPath, char* out, size_t size) {
  std::string narrow;
  return FromSystemPath(systemPath, narrow) && Put(narrow, out, size);
}

std::string UserName() {
  std::string user = Env("USER");
  return user.empty() ? "root" : user;
}

}  // namespace

bool GetSpecialFolder(int csidl, char* out, size_t size) {
  if (!Env("WINEPREFIX").empty()) {
    std::string profile = "C:\\users\\" + UserName();
    std::string roaming = profile + "\\AppData\\Roaming";
    const char* startMenu = "\\Microsoft\\Windows\\Start Menu";
    switch (csidl) {
      case 16: return Put(profile + "\\Desktop", out, size);
      case 25: return Put("C:\\users\\Public\\Desktop", out, size);
      case 11: return Put(roaming + startMenu, out, size);
      case 2: return Put(roaming + startMenu + "\\Programs", out, size);
      case 23: return Put(std::string("C:\\ProgramData") + startMenu + "\\Programs", out, size);
      case 5: return Put(profile + "\\Documents", out, size);
      case 35: return Put("C:\\ProgramData", out, size);
      case 26: return Put(roaming, out, size);
      case 38: return Put("C:\\Program Files", out, size);
      case 39: return Put(profile + "\\Pictures", out, size);
      default: SetLastError(ERR_INVALID_PARAMETER); return false;
    }
  }
  std::string home = Env("HOME");
  if (home.empty()) home = "/root";
  std::string data = Env("XDG_DATA_HOME");
  if (data.empty()) data = home + "/.local/share";
  switch (csidl) {
    case 16: return PutSystem(home + "/Desktop", out, size);
    case 11: return PutSystem(data + "/applications", out, size);
    case 2: return PutSystem(data + "/applications", out, size);
    case 23: return PutSystem("/usr/share/applications", out, size);
    case 5: return PutSystem(home + "/Documents", out, size);
    case 35: return PutSystem("/usr/local/share", out, size);
    case 26: return PutSystem(data, out, size);
    case 38: return PutSystem("/opt", out, size);
    case 39: return PutSystem(home + "/Pictures", out, size);
    default: SetLastError(ERR_FILE_NOT_FOUND); return false;  // no common desktop here
  }
}

bool GetTempPath(char* out, size_t size) {
  if (!Env("WINEPREFIX").empty() && Env("TQ_NATIVE_TEMP").empty()) {
    // The prefix's own temporary folder exists only once Wine has set it up.
    std::string tmp = "C:\\users\\" + UserName() + "\\AppData\\Local\\Temp";
    std::string system;
    struct stat st;
    if (ToSystemPath(tmp.c_str(), system) && stat(system.c_str(), &st) == 0)
      return Put(tmp + "\\", out, size);
  }
  std::string tmp = Env("TMPDIR");
  if (tmp.empty()) tmp = "/tmp";
  if (tmp.back() != '/') tmp += '/';
  return PutSystem(tmp, out, size);
}

bool GetWindowsDirectory(char* out, size_t size) {
  if (Env("WINEPREFIX").empty()) {
    SetLastError(ERR_PATH_NOT_FOUND);
    return false;
  }
  return Put("C:\\windows", out, size);
}

bool GetShellFolderValue(const char*, char*, size_t) {
  SetLastError(ERR_FILE_NOT_FOUND);
  return false;
}

// ------------------------------------------------------------ version resources

bool VersionResource::Load(const char* file) {
  block_.clear();
  std::string path;
  if (!file || !ToSystemPath(file, path)) return false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    posix::SetErrorFromErrno(errno);
    return false;
  }
  struct stat st;
  std::vector<uint8_t> image;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            st.st_size <= (1ll << 30);
  if (ok) {
    image.resize((size_t)st.st_size);
    size_t got = 0;
    while (got < image.size()) {
      ssize_t n = read(fd, image.data() + got, image.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += (size_t)n;
    }
    ok = got == image.size();
  }
  close(fd);
  if (!ok || !VersionBlockFromPe(image.data(), image.size(), block_)) {
    block_.clear();
    SetLastError(1813);  // resource type not found
    return false;
  }
  return true;
}

bool VersionResource::FirstTranslation(uint32_t* pair) const {
  return VersionBlockTranslation(block_, pair);
}

bool VersionResource::QueryString(const char* subBlock, std::string& value) const {
  return VersionBlockString(block_, subBlock, value);
}

// ------------------------------------------------------------ diagnostics

void DebugOutput(const char* text) {
  if (!text) return;
  std::string utf8;
  if (!Utf8FromNarrow(text, utf8)) utf8 = text;
  fprintf(stderr, "%s\n", utf8.c_str());
}

}  // namespace tqp
