// The copy engine. The coordinator walks the queue; for each file the reader
// fills the ring of slots from the source and the writer empties it into the
// destination. A slot's `free` flag is the only hand-over of its buffer; an
// event per direction wakes the waiting side as soon as a slot changes hands.
#include "copy/tqFileCopy.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "file/tqFile.h"
#include "platform/tqCopyIo.h"
#include "util/tqThread.h"
#include "util/tqUtil.h"

#include "caps/tqCaps.h"

namespace {

// Longest wait between two looks at a slot or at the stop flags.
constexpr uint32_t POLL_MS = 10;
// One mebibyte; unbuffered buffers hold this plus one sector.
constexpr uint32_t MEBIBYTE = 1048576;

// The coordinator's event 0 (file complete) and the reader's event 1 (the
// reader has left the file and no longer touches its buffers or handle).
constexpr int EVENT_WAKE = 0;
constexpr int EVENT_READER_IDLE = 1;

const char FOLDER_ERROR[] = "$1010-0171$フォルダ [%s] が作成出来ません";
const char FILE_ERROR[] = "$1010-0172$ファイル [%s] がオープン出来ません";

class Guard {
 public:
  explicit Guard(tqp::CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~Guard() { cs_.Leave(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  tqp::CriticalSection& cs_;
};

void CopyPath(char (&field)[260], const char* text) {
  size_t n = strlen(text);
  if (n > sizeof field - 1) n = sizeof field - 1;
  memcpy(field, text, n);
  field[n] = 0;
}

bool SameLetters(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}

bool IsAbsolute(const char* path) {
  if (path[0] == '\\') return true;
  char c = path[0];
  return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':' && path[2] == '\\';
}

}  // namespace

const char* tqStripMessageId(const char* text) {
  if (!text || text[0] != '$') return text;
  const char* close = strchr(text + 1, '$');
  return close ? close + 1 : text;
}

bool tqCopyVolumeRoot(const char* fullPath, char* root, size_t rootSize) {
  if (!root || rootSize == 0) return false;
  root[0] = 0;
  const char* slash = fullPath ? strchr(fullPath, '\\') : nullptr;
  if (!slash || slash[1] == '\\') return false;
  size_t n = (size_t)(slash - fullPath) + 1;
  if (n >= rootSize) return false;
  memcpy(root, fullPath, n);
  root[n] = 0;
  return true;
}

tqFileCopy::tqFileCopy(uint32_t slotCount, int disableUnbuffered) {
  slot_count = slotCount;
  if (slot_count) {
    void* block = PrivateAlloc(0, sizeof(tqFileCopySlot) * slot_count);
    if (block) {
      slots = static_cast<tqFileCopySlot*>(block);
      for (uint32_t i = 0; i < slot_count; ++i) {
        tqFileCopySlot* s = new (&slots[i]) tqFileCopySlot;
        s->free.store(1);
        s->last = 0;
        s->buffer = nullptr;
        s->capacity = 0;
        s->length = 0;
      }
    }
  }
  if (disableUnbuffered)
    unbuffered_allowed = 0;
  else
    unbuffered_allowed = (g_tqCaps && (uint32_t)g_tqCaps->os.code >= 64) ? 1 : 0;
  slot_filled = tqp::CreateEvent(false, false);
  slot_freed = tqp::CreateEvent(false, false);
}

tqFileCopy::~tqFileCopy() {
  if (coordinator) {
    // A run still going is told to stop and waited for; the final callback
    // comes before this returns. From inside that callback the thread cannot
    // wait for itself: its object is then left to the end of the process.
    if (coordinator->ThreadId() != tqp::CurrentThreadId()) {
      abort.store(1);
      stop.store(1);
      tqp::SetEvent(slot_filled);
      tqp::SetEvent(slot_freed);
      coordinator->WaitForEnd();
      delete coordinator;
    }
    coordinator = nullptr;
  }
  delete reader;
  delete writer;
  reader = writer = nullptr;
  FreeBuffers();
  CloseFiles();
  if (slots) {
    for (uint32_t i = 0; i < slot_count; ++i) slots[i].~tqFileCopySlot();
    PrivateFree(slots);
    slots = nullptr;
  }
  if (slot_filled) tqp::CloseEvent(slot_filled);
  if (slot_freed) tqp::CloseEvent(slot_freed);
}

bool tqFileCopy::AddJob(const char* source, const char* destination, int32_t value) {
  if (!source || !destination) return false;
  if (strlen(source) >= sizeof(tqFileCopyJob::source) ||
      strlen(destination) >= sizeof(tqFileCopyJob::destination))
    return false;
  tqFileCopyJob job = {};
  CopyPath(job.source, source);
  CopyPath(job.destination, destination);
  job.value = value;
  jobs.push_back(job);
  return true;
}

bool tqFileCopy::Start(tqFileCopyCallback callbackFn, void* userValue, tqFileCopyChunkHook hook) {
  if (coordinator || !slots || !slot_filled || !slot_freed) return false;
  callback = callbackFn;
  user = userValue;
  chunk_hook = hook;
  abort.store(0);
  fatal.store(0);
  stop.store(0);
  error_reported.store(0);
  coordinator = new tqThread;
  if (!coordinator) return false;
  coordinator->AddEvent(EVENT_WAKE, false, false);
  if (!coordinator->Start(CoordinatorProc, this)) {
    delete coordinator;
    coordinator = nullptr;
    return false;
  }
  return true;
}

void tqFileCopy::CoordinatorProc(tqThread*, void* self) { static_cast<tqFileCopy*>(self)->RunJobs(); }
void tqFileCopy::ReaderProc(tqThread*, void* self) { static_cast<tqFileCopy*>(self)->ReadFile(); }
void tqFileCopy::WriterProc(tqThread*, void* self) { static_cast<tqFileCopy*>(self)->WriteFile(); }

int32_t tqFileCopy::Call() {
  // The caller holds status_lock (once). The callback gets a copy of the
  // record and runs with that lock released: it may show a modal box owned
  // by a window of the main thread, and the main thread must still be able
  // to take a snapshot meanwhile. callback_lock keeps the calls one at a
  // time; it is never waited for while status_lock is held.
  if (!callback) return 1;
  tqFileCopyStatus copy = status;
  status_lock.Leave();
  int32_t result;
  {
    Guard one(callback_lock);
    result = callback(user, &copy);
  }
  status_lock.Enter();
  return result;
}

tqFileCopyStatus tqFileCopy::Snapshot() const {
  Guard g(status_lock);
  return status;
}

bool tqFileCopy::Fail() {
  fatal.store(1);
  stop.store(1);
  abort.store(1);
  // Wake whichever side is waiting for a slot.
  tqp::SetEvent(slot_filled);
  tqp::SetEvent(slot_freed);
  int32_t expected = 0;
  return error_reported.compare_exchange_strong(expected, 1);
}

void tqFileCopy::ReportSystemError(uint32_t code) {
  if (!Fail()) return;
  std::string text = tqp::ErrorText(code);
  Guard g(status_lock);
  size_t n = text.size() < sizeof status.error_text ? text.size() : sizeof status.error_text - 1;
  memcpy(status.error_text, text.data(), n);
  status.error_text[n] = 0;
  status.error = 1;
  Call();
}

void tqFileCopy::ReportText(const char* format, const char* argument) {
  if (!Fail()) return;
  Guard g(status_lock);
  snprintf(status.error_text, sizeof status.error_text, tqStripMessageId(format), argument);
  status.error = 1;
  Call();
}

void tqFileCopy::CloseFiles() {
  if (source_handle != tqp::INVALID_FILE) tqp::FileClose(source_handle);
  if (destination_handle != tqp::INVALID_FILE) tqp::FileClose(destination_handle);
  source_handle = destination_handle = tqp::INVALID_FILE;
}

void tqFileCopy::FreeBuffers() {
  if (!slots) return;
  for (uint32_t i = 0; i < slot_count; ++i) {
    tqFileCopySlot& s = slots[i];
    if (s.buffer) tqp::VirtualRelease(s.buffer, s.capacity);
    s.buffer = nullptr;
    s.capacity = 0;
    s.length = 0;
    s.last = 0;
    s.free.store(1);
  }
}

// Buffers of the capacity a job needs are kept from the job before: fresh
// virtual memory costs a page fault for every page the job touches, which
// dominates the copy of many small and middle-sized files.
bool tqFileCopy::ReuseBuffers(uint32_t capacity) {
  for (uint32_t i = 0; i < slot_count; ++i)
    if (!slots[i].buffer || slots[i].capacity != capacity) return false;
  for (uint32_t i = 0; i < slot_count; ++i) {
    slots[i].length = 0;
    slots[i].last = 0;
    slots[i].free.store(1);
  }
  return true;
}

bool tqFileCopy::ReserveBuffers(const char* source) {
  sector_size = 0;
  unbuffered = 0;
  uint32_t capacity = TQCOPY_BUFFERED_CAPACITY;
  if (unbuffered_allowed) {
    std::string full = source;
    if (!IsAbsolute(source)) {
      char cwd[1024] = {};
      tqp::GetCurrentDirectory(cwd, sizeof cwd);
      full = std::string(cwd) + "\\" + source;
    }
    char root[1024];
    if (tqCopyVolumeRoot(full.c_str(), root, sizeof root)) {
      uint32_t s = tqp::SectorSize(root);
      if (s != 0) {
        unbuffered = 1;
        sector_size = s;
        capacity = s * ((s + MEBIBYTE) / s);
      }
    }
  }
  if (ReuseBuffers(capacity)) return true;
  FreeBuffers();
  for (uint32_t i = 0; i < slot_count; ++i) {
    void* block = tqp::VirtualReserve(capacity);
    if (!block) return false;
    slots[i].buffer = static_cast<uint8_t*>(block);
    slots[i].capacity = capacity;
  }
  return true;
}

bool tqCopyKeepsNewerProgram(const char* source, const char* destination) {
  const char* ext = tqExtensionOf(destination);
  if (!SameLetters(ext, "exe") && !SameLetters(ext, "dll")) return false;
  tqFile probe;
  if (!probe.Exists(destination)) return false;
  // Two version records are 6 KiB: kept off the worker's stack.
  tqVersionInfo* info = static_cast<tqVersionInfo*>(PrivateAlloc(0, 2 * sizeof(tqVersionInfo)));
  tqVersionInfo local[2];
  tqVersionInfo* dst = info ? &info[0] : &local[0];
  tqVersionInfo* src = info ? &info[1] : &local[1];
  bool keep = tqReadVersionInfo(destination, dst) && tqReadVersionInfo(source, src) &&
              dst->Version64() > src->Version64();
  if (info) PrivateFree(info);
  return keep;
}

void tqCopyOpenErrorText(const char* source, char* out, size_t outSize) {
  if (out && outSize) snprintf(out, outSize, tqStripMessageId(FILE_ERROR), source ? source : "");
}

bool tqFileCopy::KeepNewerProgram(const tqFileCopyJob& job) {
  return tqCopyKeepsNewerProgram(job.source, job.destination);
}

// Opens the job's source (unbuffered where the volume allows it, else
// buffered) and its destination; false when either fails.
bool tqFileCopy::OpenFiles(const tqFileCopyJob& job) {
  uint32_t flags = tqp::OPEN_SEQUENTIAL;
  if (unbuffered) flags |= tqp::OPEN_NO_BUFFERING;
  source_handle = tqp::FileOpen(job.source, tqp::ACCESS_READ, tqp::SHARE_READ,
                                tqp::DISP_OPEN_EXISTING, 0, flags);
  if (source_handle != tqp::INVALID_FILE && unbuffered) {
    uint32_t need = tqp::FileDirectIoAlignment(source_handle);
    if (!tqp::FileIsUnbuffered(source_handle)) {
      unbuffered = 0;
      sector_size = 0;
    } else if (need > sector_size || (need && sector_size % need)) {
      // The volume's sector size does not meet what the file system
      // needs for unbuffered transfers: read this file buffered.
      tqp::FileClose(source_handle);
      unbuffered = 0;
      sector_size = 0;
      source_handle = tqp::FileOpen(job.source, tqp::ACCESS_READ, tqp::SHARE_READ,
                                    tqp::DISP_OPEN_EXISTING, 0, tqp::OPEN_SEQUENTIAL);
    }
  }
  if (source_handle != tqp::INVALID_FILE) {
    destination_handle = tqp::FileOpen(job.destination, tqp::ACCESS_WRITE, 0,
                                       tqp::DISP_CREATE_NEW, tqp::ATTR_NORMAL,
                                       tqp::OPEN_SEQUENTIAL);
    if (destination_handle == tqp::INVALID_FILE)
      destination_handle = tqp::FileOpen(job.destination, tqp::ACCESS_WRITE, 0,
                                         tqp::DISP_TRUNCATE_EXISTING, tqp::ATTR_NORMAL,
                                         tqp::OPEN_SEQUENTIAL);
  }
  return source_handle != tqp::INVALID_FILE && destination_handle != tqp::INVALID_FILE;
}

// Copies one file through the reader and writer threads; false ends the run
// (an error has been reported, or the run was stopped).
bool tqFileCopy::TransferFile(const tqFileCopyJob& job, const char* parent) {
  if (!ReserveBuffers(job.source)) {
    ReportSystemError(tqp::ERR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (!tqCreateFolderTree(job.destination, true)) {
    ReportText(FOLDER_ERROR, parent);
    return false;
  }
  if (!OpenFiles(job)) {
    ReportText(FILE_ERROR, job.source);
    return false;
  }
  int64_t size = tqp::FileSize(source_handle);
  if (size < 0) size = 0;
  {
    Guard g(status_lock);
    status.file_size = (uint64_t)size;
    status.file_done = 0;
  }
  if (size > 0) {
    current_size = (uint64_t)size;
    reader->SetEvent(EVENT_WAKE);
    writer->SetEvent(EVENT_WAKE);
    coordinator->Wait(EVENT_WAKE, -1);
    // The writer may end a file early (cancel, error); the buffers and
    // the source stay until the reader has let go of them too.
    reader->Wait(EVENT_READER_IDLE, -1);
  }
  if (fatal.load()) {
    abort.store(1);
    return false;
  }
  uint64_t creation = 0, access = 0, write = 0;
  if (tqp::FileGetTimes(source_handle, &creation, &access, &write))
    tqp::FileSetTimes(destination_handle, &creation, &access, &write);
  CloseFiles();
  return true;
}

// One job: a kept newer program, a folder, or a file; false ends the run.
bool tqFileCopy::CopyOneFile(const tqFileCopyJob& job) {
  {
    Guard g(status_lock);
    CopyPath(status.source, job.source);
    CopyPath(status.destination, job.destination);
    status.value = job.value;
  }

  if (mode == 1 && KeepNewerProgram(job)) {
    uint64_t size = tqFile::GetFileSizeOf64(job.source);
    Guard g(status_lock);
    status.total_done += size;
    status.file_size = size;
    status.file_done = 0;
    if (Call() == 0) {
      stop.store(1);
      abort.store(1);
      return false;
    }
    return true;
  }

  char parent[260];
  if (!tqParentFolderOf(job.destination, parent)) parent[0] = 0;
  uint32_t sourceAttributes = tqp::GetAttributes(job.source);
  if (sourceAttributes != tqp::ATTR_INVALID && (sourceAttributes & tqp::ATTR_DIRECTORY)) {
    if (!tqCreateFolderTree(job.destination, false)) {
      ReportText(FOLDER_ERROR, parent);
      return false;
    }
  } else if (!TransferFile(job, parent)) {
    return false;
  }

  tqp::SetAttributes(job.destination, tqp::ATTR_ARCHIVE);
  tqFileCopyPath done = {};
  CopyPath(done.path, job.destination);
  done_list.push_back(done);
  return !abort.load();
}

void tqFileCopy::RunJobs() {
  // The flags were cleared by Start, before this thread existed.
  source_handle = destination_handle = tqp::INVALID_FILE;

  reader = new tqThread;
  writer = new tqThread;
  bool threads = reader && writer;
  if (threads) {
    reader->AddEvent(EVENT_WAKE, false, false);
    reader->AddEvent(EVENT_READER_IDLE, false, false);
    writer->AddEvent(EVENT_WAKE, false, false);
    threads = reader->Start(ReaderProc, this) && writer->Start(WriterProc, this);
  }

  {
    Guard g(status_lock);
    memset(&status, 0, sizeof status);
  }
  uint64_t total = 0;
  for (const tqFileCopyJob& job : jobs) total += tqFile::GetFileSizeOf64(job.source);
  {
    Guard g(status_lock);
    status.total_size = total;
  }
  FreeBuffers();

  if (!threads) ReportSystemError(tqp::ERR_NOT_ENOUGH_MEMORY);

  for (size_t i = 0; threads && i < jobs.size(); ++i)
    if (!CopyOneFile(jobs[i])) break;

  stop.store(1);
  if (reader) reader->SetEvent(EVENT_WAKE);
  if (writer) writer->SetEvent(EVENT_WAKE);
  if (reader) reader->WaitForEnd();
  if (writer) writer->WaitForEnd();
  delete reader;
  delete writer;
  reader = writer = nullptr;
  FreeBuffers();
  CloseFiles();
  Guard g(status_lock);
  status.finished = 1;
  Call();
}

void tqFileCopy::ReadFile() {
  for (;;) {
    reader->Wait(EVENT_WAKE, -1);
    if (stop.load()) break;
    const uint64_t size = current_size;
    uint64_t position = 0;
    uint32_t index = 0;
    bool failed = false;
    while (position < size) {
      tqFileCopySlot& slot = slots[index];
      while (!Halted() && !slot.free.load(std::memory_order_acquire)) {
        if (!tqp::WaitEvent(slot_freed, POLL_MS) && slot.free.load(std::memory_order_acquire))
          late_wakes.fetch_add(1);
      }
      if (Halted()) break;

      const uint64_t rest = size - position;
      uint32_t length = rest < slot.capacity ? (uint32_t)rest : slot.capacity;
      uint32_t request = length;
      if (unbuffered && sector_size && rest < slot.capacity)
        request = (uint32_t)((rest + sector_size - 1) / sector_size * sector_size);
      uint32_t done = 0;
      if (!tqp::FileRead(source_handle, slot.buffer, request, &done) || done == 0) {
        uint32_t code = tqp::LastError();
        // A file that ends before its size was read has shrunk under us.
        if (code == 0) code = tqp::ERR_HANDLE_EOF;
        ReportSystemError(code);
        failed = true;
        break;
      }
      if (done < length) length = done;
      position += length;
      slot.length = length;
      slot.last = position >= size ? 1 : 0;
      slot.free.store(0, std::memory_order_release);
      tqp::SetEvent(slot_filled);
      index = (index + 1) % slot_count;
    }
    reader->SetEvent(EVENT_READER_IDLE);
    if (failed) break;
  }
  // Leaving for good: nobody may wait for this reader any more.
  reader->SetEvent(EVENT_READER_IDLE);
}

void tqFileCopy::WriteFile() {
  for (;;) {
    writer->Wait(EVENT_WAKE, -1);
    if (stop.load()) break;
    uint32_t index = 0;
    for (;;) {
      tqFileCopySlot& slot = slots[index];
      while (!Halted() && slot.free.load(std::memory_order_acquire)) {
        if (!tqp::WaitEvent(slot_filled, POLL_MS) && !slot.free.load(std::memory_order_acquire))
          late_wakes.fetch_add(1);
      }
      if (Halted()) break;

      const uint32_t length = slot.length;
      if (chunk_hook) {
        Guard g(status_lock);
        uint64_t done = status.file_done;
        chunk_hook(user, slot.buffer, (uint32_t)done, (uint32_t)(done >> 32), length, &status);
      }
      uint32_t written = 0;
      if (!tqp::FileWrite(destination_handle, slot.buffer, length, &written) || written != length) {
        uint32_t code = tqp::LastError();
        if (code == 0) code = tqp::ERR_DISK_FULL;
        ReportSystemError(code);
        break;
      }
      int32_t go;
      bool failedElsewhere;
      {
        Guard g(status_lock);
        status.file_done += length;
        status.total_done += length;
        // After the reader's error report the run is over: a progress call
        // now would show the error a second time.
        failedElsewhere = status.error != 0;
        go = failedElsewhere ? 1 : Call();
      }
      if (failedElsewhere) break;
      if (go == 0) {
        stop.store(1);
        abort.store(1);
        break;
      }
      const bool last = slot.last != 0;
      slot.free.store(1, std::memory_order_release);
      tqp::SetEvent(slot_freed);
      if (last) break;
      index = (index + 1) % slot_count;
    }
    coordinator->SetEvent(EVENT_WAKE);
    if (stop.load()) break;
  }
  // Leaving for good: the coordinator must not wait for this writer any more.
  coordinator->SetEvent(EVENT_WAKE);
}
