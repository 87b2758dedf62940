// The file server's lookups, registration and preload worker.
#include "file/tqFileServer.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "file/tqBigFile.h"
#include "file/tqFile.h"
#include "file/tqMemFile.h"
#include "util/tqThread.h"
#include "platform/tqShiftJis.h"

namespace {

int (*g_preloadQuery)() = nullptr;

constexpr int kLock = 0;
constexpr int kEvent = 0;
constexpr int kAboveNormal = 1;
constexpr int32_t kAllLoaded = 0x7FFFFFFF;

bool IsLead(unsigned char c) { return tqp::IsSjisLeadByte(c); }
bool IsTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }
bool PairAt(const char* p) { return IsLead((unsigned char)p[0]) && IsTrail((unsigned char)p[1]); }

unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? (unsigned char)(c + 32) : c; }

bool CopyInto(char* out, size_t size, const char* text) {
  size_t n = text ? strlen(text) : 0;
  if (n >= size) return false;
  if (n) memcpy(out, text, n);
  out[n] = 0;
  return true;
}

// Replaces every occurrence of find, left to right without overlap; a match
// starts only on a character boundary, never on a trail byte.
std::string ReplaceAll(const std::string& text, const std::string& find, const std::string& with) {
  if (find.empty()) return text;
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, find.size(), find) == 0) {
      out += with;
      i += find.size();
      continue;
    }
    size_t step = PairAt(text.c_str() + i) ? 2 : 1;
    out.append(text, i, step);
    i += step;
  }
  return out;
}

bool IsListGroup(const std::string& group) {
  size_t dot = group.rfind('.');
  if (dot == std::string::npos) return false;
  return tqFileServer::SameName(group.c_str() + dot + 1, "lst");
}

bool Usable(const tqArchive* archive) { return archive && archive != TQFS_NO_ARCHIVE; }

// Holds the preload worker's lock, when there is a worker, while a table
// changes: the worker searches the tables while it loads.
class TableGuard {
 public:
  explicit TableGuard(tqThread* worker) : worker_(worker) {
    if (worker_) worker_->Lock(kLock);
  }
  ~TableGuard() {
    if (worker_) worker_->Unlock(kLock);
  }
  TableGuard(const TableGuard&) = delete;
  TableGuard& operator=(const TableGuard&) = delete;

 private:
  tqThread* worker_;
};

}  // namespace

void tqFileServerSetPreloadQuery(int (*query)()) { g_preloadQuery = query; }

void tqFileServerInstallHooks() {
  LibraryHooks().createFileServer = [] {
    if (!g_tqFileServer) new tqFileServer();
  };
  LibraryHooks().destroyFileServer = [] {
    delete g_tqFileServer;  // the destructor unregisters it
    g_tqFileServer = nullptr;
  };
}

// ------------------------------------------------------------------ names

void tqFileServer::SplitName(const char* name, std::string& group, std::string& file) {
  const char* slash = strchr(name, '/');  // '/' is never a trail byte
  if (!slash) {
    group.clear();
    file = name;
  } else {
    group.assign(name, slash - name);
    file = slash + 1;
  }
}

bool tqFileServer::SameName(const char* a, const char* b) {
  if (!a || !b) return a == b;
  while (*a && *b) {
    if (PairAt(a) || PairAt(b)) {
      if (a[0] != b[0] || a[1] != b[1]) return false;
      a += 2;
      b += 2;
      continue;
    }
    if (Fold((unsigned char)*a) != Fold((unsigned char)*b)) return false;
    ++a;
    ++b;
  }
  return *a == *b;
}

std::string tqFileServer::LowerName(const char* name) {
  std::string out = name ? name : "";
  for (size_t i = 0; i < out.size(); ++i) {
    if (PairAt(out.c_str() + i)) {
      ++i;
      continue;
    }
    out[i] = (char)Fold((unsigned char)out[i]);
  }
  return out;
}

// ------------------------------------------------------------------ life

tqFileServer::tqFileServer() { Construct(g_preloadQuery ? g_preloadQuery() : 0); }

tqFileServer::tqFileServer(int preloadEnabled) { Construct(preloadEnabled); }

void tqFileServer::Construct(int preloadEnabled) {
  for (auto& slot : archives_) slot = nullptr;
  memset(folders_, 0, sizeof folders_);
  if (g_tqFileServer) {
    ErrorBox("tqFileServer は複数作成出来ません");
    return;
  }
  g_tqFileServer = this;
  registered_ = true;
  preloadEnabled_ = preloadEnabled;
  if (!preloadEnabled_) return;
  worker_ = new tqThread;
  if (!worker_ || !worker_->AddLock(kLock) || !worker_->AddEvent(kEvent, true, false) ||
      !worker_->Start(WorkerProc, this)) {
    DebugPrint("tqFileServer : 先読みスレッドを開始できません");
    delete worker_;
    worker_ = nullptr;
    preloadEnabled_ = 0;
    return;
  }
  worker_->SetPriority(kAboveNormal);
}

tqFileServer::~tqFileServer() {
  if (registered_ && g_tqFileServer == this) g_tqFileServer = nullptr;
  if (worker_) {
    // Under the lock, so that a pass that is just ending cannot reset the
    // event after this wake-up and leave the worker waiting for ever.
    worker_->Lock(kLock);
    stop_ = 1;
    worker_->SetEvent(kEvent);
    worker_->Unlock(kLock);
    worker_->WaitForEnd();
    worker_->Destroy();
    delete worker_;
    worker_ = nullptr;
  }
  for (auto& entry : preload_) delete entry.file;
  preload_.clear();
  for (auto& slot : archives_) {
    if (Usable(slot)) delete slot;
    slot = nullptr;
  }
  for (tqArchive* archive : archiveList_) delete archive;
  archiveList_.clear();
  groups_.clear();
  aliases_.clear();
}

// ------------------------------------------------------------------ preload

void tqFileServer::WorkerProc(tqThread* thread, void* user) {
  auto* server = static_cast<tqFileServer*>(user);
  while (!server->stop_) {
    server->WorkerPass();
    thread->Wait(kEvent, -1);
  }
}

// One pass loads the entries of one group; while work remains the event stays
// signalled, so the next pass follows at once.
void tqFileServer::WorkerPass() {
  worker_->Lock(kLock);
  bool remembered = false, reachedEnd = true;
  int32_t group = 0;
  for (auto& entry : preload_) {
    if (remembered && entry.group != group) {
      lastCompleted_ = group;
      reachedEnd = false;
      break;
    }
    if (entry.loaded) continue;
    if (stop_) {  // shutting down: leave the rest
      reachedEnd = false;
      break;
    }
    if (observer_) observer_(observerUser_, &entry, lastCompleted_);
    tqFileBase* file = Locate(entry.name, entry.flags | TQFILE_MEMORY, false);
    entry.file = static_cast<tqMemFile*>(file);
    entry.loaded = 1;
    group = entry.group;
    remembered = true;
  }
  if (reachedEnd) {
    lastCompleted_ = kAllLoaded;
    if (!stop_) worker_->ResetEvent(kEvent);
  }
  if (observer_) observer_(observerUser_, nullptr, lastCompleted_);
  worker_->Unlock(kLock);
}

int tqFileServer::AddPreload(const char* name, int group, uint32_t flags) {
  if (!worker_ || !name) return 0;
  PreloadEntry entry{};
  if (!CopyInto(entry.name, sizeof entry.name, name)) return 0;
  entry.group = group;
  entry.flags = flags;
  worker_->Lock(kLock);
  preload_.push_back(entry);
  worker_->Unlock(kLock);
  return 1;
}

void tqFileServer::StartPreload() {
  if (!worker_) return;
  worker_->Lock(kLock);
  worker_->SetEvent(kEvent);
  worker_->Unlock(kLock);
}

void tqFileServer::SetPreloadObserver(PreloadObserver observer, void* user) {
  if (worker_) worker_->Lock(kLock);
  observer_ = observer;
  observerUser_ = user;
  if (worker_) worker_->Unlock(kLock);
}

void tqFileServer::ClearPreload() {
  if (worker_) worker_->Lock(kLock);
  for (auto& entry : preload_) delete entry.file;
  preload_.clear();
  lastCompleted_ = kAllLoaded;
  if (worker_) worker_->Unlock(kLock);
}

int tqFileServer::LastCompletedGroup() {
  if (worker_) worker_->Lock(kLock);
  int32_t group = lastCompleted_;
  if (worker_) worker_->Unlock(kLock);
  return group;
}

// ------------------------------------------------------------------ lookups

tqFileBase* tqFileServer::Find(const char* name, uint32_t mode) { return Search(name, mode, true); }

// A memory file sharing the preloaded bytes of name, or none.
tqMemFile* tqFileServer::SharePreloaded(const char* name) {
  tqMemFile* shared = nullptr;
  worker_->Lock(kLock);
  for (auto& entry : preload_) {
    if (entry.loaded && entry.file && SameName(entry.name, name)) {
      shared = new tqMemFile;
      if (shared && !shared->Share(entry.file)) {
        delete shared;
        shared = nullptr;
      }
      break;
    }
  }
  worker_->Unlock(kLock);
  return shared;
}

tqFileBase* tqFileServer::Search(const char* name, uint32_t mode, bool usePreload) {
  if (!name) return nullptr;

  if (usePreload && worker_) {
    if (tqMemFile* shared = SharePreloaded(name)) return shared;
  }

  std::string group, file;
  SplitName(name, group, file);
  auto alias = aliases_.find(LowerName(group.c_str()));
  if (alias != aliases_.end()) {
    group = alias->second.group;
    file = ReplaceAll(file, alias->second.find, alias->second.replace);
  }

  auto openEntry = [&](tqArchive* archive) -> tqFileBase* {
    auto* big = new tqBigFile(archive);
    if (big && big->Open(file.c_str(), TQFILE_READ | TQFILE_EXISTING)) return big;
    delete big;
    return nullptr;
  };
  // A path that failed once in this search fails again: try it once only.
  std::set<std::string> failed;
  auto openDisk = [&](const std::string& path) -> tqFileBase* {
    if (failed.count(path)) return nullptr;
    auto* disk = new tqFile;
    if (disk && disk->Open(path.c_str(), TQFILE_READ | TQFILE_EXISTING)) return disk;
    delete disk;
    failed.insert(path);
    return nullptr;
  };
  auto joined = [&](const char* folder) { return std::string(folder) + "\\" + file; };

  for (tqArchive* archive : archiveList_) {
    if (archive->Contains(file.c_str())) return openEntry(archive);
  }

  const bool list = IsListGroup(group);
  tqFileBase* found = nullptr;
  switch (mode & 0xFFFF) {
    case 1:
      return openDisk(name);

    case 2:
      if (!list) {
        for (int i = 0; i < TQFS_SLOTS && !found; ++i)
          if (Usable(archives_[i]) && SameName(archives_[i]->GetName(), group.c_str()))
            found = openEntry(archives_[i]);
      } else {
        for (auto& g : groups_) {
          if (!SameName(g.name, group.c_str())) continue;
          for (auto& m : g.members) {
            if (m.archive >= 0 && m.archive < TQFS_SLOTS && Usable(archives_[m.archive]))
              found = openEntry(archives_[m.archive]);
            if (found) return found;
          }
        }
      }
      return found;

    case 3:
      if (!list) {
        for (int i = 0; i < TQFS_SLOTS && !found; ++i) {
          const FolderSlot& slot = folders_[i];
          bool tryDisk = true;
          if (!group.empty()) {
            if (!SameName(slot.name, group.c_str())) continue;
            tryDisk = slot.disk != 0;
          }
          if (tryDisk) found = openDisk(slot.path[0] ? joined(slot.path) : file);
          if (!found && Usable(archives_[i])) found = openEntry(archives_[i]);
        }
      } else {
        for (auto& g : groups_) {
          if (!SameName(g.name, group.c_str())) continue;
          for (auto& m : g.members) {
            if (m.disk) found = openDisk(joined(m.path));
            if (!found && m.archive >= 0 && m.archive < TQFS_SLOTS && Usable(archives_[m.archive]))
              found = openEntry(archives_[m.archive]);
            if (found) return found;
          }
        }
      }
      return found;

    case 4:
      if (!list) {
        for (int i = 0; i < TQFS_SLOTS && !found; ++i) {
          const FolderSlot& slot = folders_[i];
          if (!SameName(slot.name, group.c_str())) continue;
          if (Usable(archives_[i])) found = openEntry(archives_[i]);
          if (!found && slot.disk) found = openDisk(joined(slot.path));
        }
      } else {
        for (auto& g : groups_) {
          if (!SameName(g.name, group.c_str())) continue;
          for (auto& m : g.members) {
            if (m.archive >= 0 && m.archive < TQFS_SLOTS && Usable(archives_[m.archive]))
              found = openEntry(archives_[m.archive]);
            if (!found && m.disk) found = openDisk(joined(m.path));
            if (found) return found;
          }
        }
      }
      return found;

    default:
      return nullptr;
  }
}

tqFileBase* tqFileServer::Locate(const char* name, uint32_t flags, bool usePreload) {
  if (!name) return nullptr;
  if (flags & TQFILE_OUTPUT) {
    auto* out = new tqFile;
    if (out && out->Open(name, TQFILE_WRITE | TQFILE_CREATE)) return out;
    delete out;
    return nullptr;
  }
  tqFileBase* found = Search(name, flags & ~TQFILE_MEMORY, usePreload);
  if (!found) {
    if (!(flags & TQFILE_QUIET)) DebugPrint("Open file error > %s", name);
    return nullptr;
  }
  if ((flags & TQFILE_MEMORY) != TQFILE_MEMORY) return found;
  auto* memory = new tqMemFile;
  int filled = memory ? memory->LoadFromFile(found) : 0;
  found->Close();
  delete found;
  if (!filled) {
    delete memory;
    return nullptr;
  }
  return memory;
}

tqFileBase* tqFileServer::OpenFile(const char* name, uint32_t flags) { return Locate(name, flags, true); }

// Never opens for output: a load must not empty the file it was asked for.
int tqFileServer::LoadFile(const char* name, void* buffer, uint32_t flags) {
  return LoadFile(name, buffer, 0xFFFFFFFFu, flags);
}

int tqFileServer::LoadFile(const char* name, void* buffer, uint32_t capacity, uint32_t flags) {
  if (!name) return 0;
  uint32_t search = flags & ~(0x10u | TQFILE_OUTPUT);
  tqFileBase* file = Locate(name, search | TQFILE_QUIET, true);
  if (!file) {
    if (!(flags & TQFILE_QUIET)) DebugPrint("Open file error > %s", name);
    return 0;
  }
  int size = file->GetSize();
  uint32_t count = size < 0 ? 0 : (uint32_t)size;
  if (count > capacity) count = capacity;
  int result = buffer ? file->Read(buffer, count) : size;
  delete file;
  return result;
}

int tqFileServer::IsFile(const char* name) {
  if (!name) return 0;
  tqFileBase* file = Find(name, 3);
  if (!file) return 0;
  delete file;
  return 1;
}

void tqFileServer::CloseFile(tqFileBase* file) { delete file; }

int tqFileServer::FileSize(tqFileBase* file) { return file ? file->GetSize() : 0; }

int tqFileServer::ReadFile(tqFileBase* file, void* buffer, uint32_t count) {
  return file ? file->Read(buffer, count) : -1;
}

// ------------------------------------------------------------------ registration

tqArchive* tqFileServer::ArchiveAt(int slot) const {
  return slot >= 0 && slot < TQFS_SLOTS ? archives_[slot] : nullptr;
}

int tqFileServer::SetFolder(int slot, const char* name, const char* path, int disk) {
  if (slot < 0 || slot >= TQFS_SLOTS) return 0;
  FolderSlot next{};
  if (!CopyInto(next.name, sizeof next.name, name) || !CopyInto(next.path, sizeof next.path, path))
    return 0;
  next.disk = disk;
  TableGuard guard(worker_);
  folders_[slot] = next;
  return 1;
}

int tqFileServer::SetArchive(int slot, tqArchive* archive) {
  if (slot < 0 || slot >= TQFS_SLOTS) return 0;
  TableGuard guard(worker_);
  if (Usable(archives_[slot]) && archives_[slot] != archive) delete archives_[slot];
  archives_[slot] = archive;
  return 1;
}

int tqFileServer::SetArchive(int slot, const char* path, const char* name, const void* secret,
                             uint32_t secretLength) {
  if (slot < 0 || slot >= TQFS_SLOTS) return 0;
  auto* archive = new tqArchive;
  if (!archive || !archive->Open(path, name, secret, secretLength)) {
    delete archive;
    return 0;
  }
  return SetArchive(slot, archive);
}

int tqFileServer::AddArchive(tqArchive* archive) {
  if (!Usable(archive)) return 0;
  TableGuard guard(worker_);
  archiveList_.push_back(archive);
  return 1;
}

int tqFileServer::AddArchive(const char* path, const char* name, const void* secret,
                             uint32_t secretLength) {
  auto* archive = new tqArchive;
  if (!archive || !archive->Open(path, name, secret, secretLength)) {
    delete archive;
    return 0;
  }
  return AddArchive(archive);
}

int tqFileServer::AddGroupMember(const char* group, const char* member, int archiveSlot,
                                 const char* path, int disk) {
  GroupMember m{};
  char groupName[32];
  if (!CopyInto(groupName, sizeof groupName, group) || !CopyInto(m.name, sizeof m.name, member) ||
      !CopyInto(m.path, sizeof m.path, path))
    return 0;
  if (archiveSlot < -1 || archiveSlot >= TQFS_SLOTS) return 0;
  m.archive = archiveSlot;
  m.disk = disk;
  TableGuard guard(worker_);
  for (auto& g : groups_) {
    if (SameName(g.name, groupName)) {
      g.members.push_back(m);
      return 1;
    }
  }
  groups_.emplace_back();
  memcpy(groups_.back().name, groupName, sizeof groupName);
  groups_.back().members.push_back(m);
  return 1;
}

int tqFileServer::AddAlias(const char* group, const char* replacementGroup, const char* find,
                           const char* replace) {
  if (!group || !replacementGroup || !find || !replace) return 0;
  TableGuard guard(worker_);
  aliases_[LowerName(group)] = PathAlias{replacementGroup, find, replace};
  return 1;
}
