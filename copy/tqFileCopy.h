// The copy engine: a queue of file copies run by a coordinator, a reader and a
// writer thread that hand large buffers over through a ring of slots.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"

class tqThread;

// The record the callback sees. Zero-filled when a run starts.
struct tqFileCopyStatus {
  char source[260];
  char destination[260];
  uint64_t file_size;   // size of the current source file
  uint64_t file_done;   // bytes of the current file written so far
  uint64_t total_size;  // sizes of all queued sources, measured at the start
  uint64_t total_done;  // bytes written plus sizes of skipped files
  int32_t finished;     // set for the last call of a run
  int32_t error;        // an error occurred; error_text says which
  int32_t value;        // caller value of the current job
  char error_text[512];
};

// Returns 0 to cancel the run (ignored for error and final calls).
using tqFileCopyCallback = int32_t (*)(void* user, tqFileCopyStatus* status);
// Called before each chunk is written; doneLow/doneHigh are the bytes of the
// current file already written.
using tqFileCopyChunkHook = void (*)(void* user, void* buffer, uint32_t doneLow, uint32_t doneHigh,
                                     uint32_t length, tqFileCopyStatus* status);

// One buffer of the ring. `free` is the hand-over: 1 = empty, owned by the
// reader; 0 = filled, owned by the writer. Clearing or setting it publishes
// the buffer, `length` and `last` (release), and the other side reads it with
// acquire.
struct tqFileCopySlot {
  std::atomic<uint32_t> free;
  uint32_t last;
  uint8_t* buffer;
  uint32_t capacity;
  uint32_t length;
};

struct tqFileCopyJob {
  char source[260];
  char destination[260];
  int32_t value;
};

struct tqFileCopyPath {
  char path[260];
};

// Bytes per buffer when reading through the system cache.
constexpr uint32_t TQCOPY_BUFFERED_CAPACITY = 2097152;

class tqFileCopy : public tqClassBase {
 public:
  // slotCount buffers in the ring; a non-zero disableUnbuffered keeps every
  // read buffered. Unbuffered reading is otherwise allowed on systems whose
  // probe code is 64 or more.
  tqFileCopy(uint32_t slotCount, int disableUnbuffered);
  // Frees everything. A run still going is cancelled and waited for.
  ~tqFileCopy();
  tqFileCopy(const tqFileCopy&) = delete;
  tqFileCopy& operator=(const tqFileCopy&) = delete;

  // 1: an exe or dll in the destination whose version is newer than the
  // source's is kept; anything else: always copy.
  void SetMode(int32_t value) { mode = value; }
  // False (and no job) for paths of 260 bytes or more, which would be cut.
  bool AddJob(const char* source, const char* destination, int32_t value);
  // Starts the run on the worker threads and returns at once. False when the
  // engine has no buffers or the thread cannot be started.
  bool Start(tqFileCopyCallback callbackFn, void* userValue, tqFileCopyChunkHook hook);

  // A copy of the status record taken under its lock: safe from any thread
  // while a run goes on (progress drawn by the main thread).
  tqFileCopyStatus Snapshot() const;
  // Readers for the caller after the final callback.
  const std::deque<tqFileCopyPath>& DoneList() const { return done_list; }
  const tqFileCopyStatus& Status() const { return status; }
  bool UnbufferedAllowed() const { return unbuffered_allowed != 0; }
  int32_t Mode() const { return mode; }
  // How often a side waiting for a slot found it handed over only when its
  // poll interval ran out, instead of being woken by the hand-over (a
  // diagnostic; near 0).
  uint32_t LateWakes() const { return late_wakes.load(); }

 private:
  static void CoordinatorProc(tqThread* thread, void* self);
  static void ReaderProc(tqThread* thread, void* self);
  static void WriterProc(tqThread* thread, void* self);

  void RunJobs();
  bool CopyOneFile(const tqFileCopyJob& job);
  bool TransferFile(const tqFileCopyJob& job, const char* parent);
  bool OpenFiles(const tqFileCopyJob& job);
  bool KeepNewerProgram(const tqFileCopyJob& job);
  bool ReserveBuffers(const char* source);
  void FreeBuffers();
  bool ReuseBuffers(uint32_t capacity);
  void CloseFiles();
  void ReadFile();
  void WriteFile();
  // Marks the run as failed; true for the first failure of the run, which
  // alone is reported.
  bool Fail();
  void ReportSystemError(uint32_t code);
  void ReportText(const char* format, const char* argument);
  int32_t Call();
  bool Halted() const { return abort.load() != 0 || fatal.load() != 0; }

  uint32_t slot_count = 0;
  tqFileCopySlot* slots = nullptr;
  std::deque<tqFileCopyJob> jobs;
  std::deque<tqFileCopyPath> done_list;
  std::atomic<int32_t> stop{0};
  tqThread* coordinator = nullptr;
  tqThread* reader = nullptr;
  tqThread* writer = nullptr;
  tqp::FileHandle source_handle = tqp::INVALID_FILE;
  tqp::FileHandle destination_handle = tqp::INVALID_FILE;
  tqFileCopyCallback callback = nullptr;
  tqFileCopyChunkHook chunk_hook = nullptr;
  void* user = nullptr;
  tqFileCopyStatus status = {};
  std::atomic<int32_t> abort{0};
  std::atomic<int32_t> fatal{0};
  int32_t mode = 0;
  int32_t unbuffered_allowed = 0;
  uint32_t sector_size = 0;
  int32_t unbuffered = 0;

  // Size of the file being transferred, set before the reader is woken.
  uint64_t current_size = 0;
  // Guards the status record: the reader and the writer may report at the
  // same moment, and Snapshot() reads it from any thread.
  mutable tqp::CriticalSection status_lock;
  // Keeps the callbacks one at a time; see Call().
  tqp::CriticalSection callback_lock;
  // Signalled on every hand-over, so a waiting side wakes at once instead of
  // at its next 10 ms poll.
  tqp::EventHandle slot_filled = nullptr;
  tqp::EventHandle slot_freed = nullptr;
  std::atomic<int32_t> error_reported{0};
  std::atomic<uint32_t> late_wakes{0};
};

// The replacement rule of mode 1 on one pair: true when destination is an
// exe or dll whose version is newer than the source's, so it is kept.
bool tqCopyKeepsNewerProgram(const char* source, const char* destination);

// The engine's message for a file pair it cannot open, naming the source, as
// its error call carries it (512 bytes at most).
void tqCopyOpenErrorText(const char* source, char* out, size_t outSize);

// Drops a leading "$...$" message identifier; a text without a closing "$"
// is returned unchanged.
const char* tqStripMessageId(const char* text);
// The volume root of a full path for the sector-size query ("C:\" for
// "C:\a\b", "\" for "\a"); false for a network path, which is read buffered.
bool tqCopyVolumeRoot(const char* fullPath, char* root, size_t rootSize);
