// The file server: turns a logical name ("group/file") into an open disk file,
// archive entry or preloaded memory file. One per process, made by the
// library start-up once tqFileServerInstallHooks() has been called.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "file/tqArchive.h"
#include "file/tqFileBase.h"

class tqMemFile;
class tqThread;

enum : uint32_t {
  TQFILE_MEMORY = 0x0110,   // hand out a memory copy of the found file
  TQFILE_OUTPUT = 0x0020,   // open for writing from scratch, no search
  TQFILE_QUIET = 0x10000,   // do not report a name that is not found
};

constexpr int TQFS_SLOTS = 256;
// The marker of an archive slot that is deliberately empty.
#define TQFS_NO_ARCHIVE (reinterpret_cast<tqArchive*>(-1))

struct FolderSlot {
  char name[40];
  char path[260];
  int32_t disk;
};
static_assert(sizeof(FolderSlot) == 304);

struct GroupMember {
  char name[32];
  int32_t archive;  // archive slot index, -1 none
  char path[64];
  int32_t disk;
};

struct FileGroup {
  char name[32];
  std::list<GroupMember> members;
};

struct PreloadEntry {
  char name[264];
  int32_t group;
  tqMemFile* file;
  uint32_t flags;
  uint32_t loaded;
};

struct PathAlias {
  std::string group;    // replacement group
  std::string find;     // text to find in the file part
  std::string replace;  // its replacement
};

// Installs the start-up and shut-down hooks that create and destroy the
// process-wide server.
void tqFileServerInstallHooks();
// The engine configuration, when there is one, answers whether the server
// preloads (its ETC/cache setting); without it the server does not preload.
void tqFileServerSetPreloadQuery(int (*query)());

class tqFileServer : public tqClassBase {
 public:
  // Preloading as the configuration says.
  tqFileServer();
  // Preloading switched explicitly.
  explicit tqFileServer(int preloadEnabled);
  ~tqFileServer();
  tqFileServer(const tqFileServer&) = delete;
  tqFileServer& operator=(const tqFileServer&) = delete;

  // Search modes 1 (disk), 2 (archives), 3 (folders, loose files first),
  // 4 (archives first) in the low 16 bits.
  tqFileBase* Find(const char* name, uint32_t mode);
  tqFileBase* OpenFile(const char* name, uint32_t flags);
  // Null buffer: the size; else reads the whole file into buffer.
  int LoadFile(const char* name, void* buffer, uint32_t flags);
  // The same with the buffer's capacity: a file that grew since its size was
  // asked is read only as far as the buffer goes.
  int LoadFile(const char* name, void* buffer, uint32_t capacity, uint32_t flags);
  int IsFile(const char* name);

  // Wrappers for the objects handed out; all accept null.
  static void CloseFile(tqFileBase* file);
  static int FileSize(tqFileBase* file);
  static int ReadFile(tqFileBase* file, void* buffer, uint32_t count);

  // Splits at the first '/': group before it (empty without one), file part
  // after it (the whole name without one).
  static void SplitName(const char* name, std::string& group, std::string& file);
  // Case-insensitive for single-byte letters; double-byte characters exact.
  static bool SameName(const char* a, const char* b);
  static std::string LowerName(const char* name);

  // ---- registration: fills the tables the lookups use; 1 on success.
  // Safe while the preload worker runs; lookups on other threads than the
  // one registering are not.
  // Folder slot: name compared with groups, path of loose files, disk flag.
  int SetFolder(int slot, const char* name, const char* path, int disk);
  // Opens an archive into a slot (an archive already there is destroyed).
  // name null: the file name less its extension.
  int SetArchive(int slot, const char* path, const char* name = nullptr, const void* secret = nullptr,
                 uint32_t secretLength = 0);
  // Takes an open archive (owned from then on); null or TQFS_NO_ARCHIVE
  // empties the slot.
  int SetArchive(int slot, tqArchive* archive);
  // Appends to the archive list searched first for every name.
  int AddArchive(const char* path, const char* name = nullptr, const void* secret = nullptr,
                 uint32_t secretLength = 0);
  int AddArchive(tqArchive* archive);
  // Appends a member to a group (created on first use).
  int AddGroupMember(const char* group, const char* member, int archiveSlot, const char* path,
                     int disk);
  int AddAlias(const char* group, const char* replacementGroup, const char* find,
               const char* replace);
  // Queues a file for the preload worker (flags as for OpenFile); entries
  // of one group stand together, groups in the order they should load.
  // 0 when the server does not preload.
  int AddPreload(const char* name, int group, uint32_t flags);
  // Wakes the worker to load what is queued, one group per pass.
  void StartPreload();
  // Destroys every loaded memory file and empties the list; memory files
  // handed out for them must be gone by then.
  void ClearPreload();
  // Called by the worker under its lock: before each load with the entry,
  // and after each pass with a null entry and the last completed group.
  // It must not call back into the server.
  using PreloadObserver = void (*)(void* user, const PreloadEntry* loading, int32_t lastCompleted);
  void SetPreloadObserver(PreloadObserver observer, void* user);

  int PreloadEnabled() const { return preloadEnabled_; }
  int LastCompletedGroup();
  bool Registered() const { return registered_; }
  tqArchive* ArchiveAt(int slot) const;
  const FolderSlot& Folder(int slot) const { return folders_[slot]; }

 private:
  void Construct(int preloadEnabled);
  tqFileBase* Search(const char* name, uint32_t mode, bool usePreload);
  tqMemFile* SharePreloaded(const char* name);
  tqFileBase* Locate(const char* name, uint32_t flags, bool usePreload);
  static uint32_t Worker(void* self);
  static void WorkerProc(tqThread* thread, void* user);
  void WorkerPass();

  tqArchive* archives_[TQFS_SLOTS];
  FolderSlot folders_[TQFS_SLOTS];
  std::list<FileGroup> groups_;
  std::list<tqArchive*> archiveList_;
  std::list<PreloadEntry> preload_;
  std::atomic<int> stop_{0};
  tqThread* worker_ = nullptr;
  int32_t lastCompleted_ = 0x7FFFFFFF;
  int preloadEnabled_ = 0;
  std::map<std::string, PathAlias> aliases_;
  bool registered_ = false;
  PreloadObserver observer_ = nullptr;
  void* observerUser_ = nullptr;
};
