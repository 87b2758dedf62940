// The journal, the swap of staged files into place, and its undo.
//
// Why an interrupted swap is undone rather than finished: the new install.log
// and every staged file would be there to finish it, but the player was
// never told that the update succeeded, and the package that was being
// applied may no longer be beside the updater. Undoing needs nothing but the
// installation itself (the originals sit in the backup folder), leaves the
// version the player last saw working, and a new run of the package then
// applies it from the start. Every undo step looks at what is on the disk
// before it moves anything, so a repair that is itself interrupted is simply
// run again.
#include "app/plan/tqUpdateSwap.h"

#include <cstdlib>
#include <cstring>

#include "app/Install.h"
#include "platform/tqDurable.h"
#include "util/tqUtil.h"

namespace {

constexpr const char kJournalHeader[] = "tqupdate-journal 1";
constexpr const char kJournalEnd[] = "end";
constexpr int kMaxIndex = 1000000;
constexpr uint32_t kErrorInvalidData = 13;

const auto Join = PlanJoin;

bool Exists(const std::string& path) { return tqp::GetAttributes(path.c_str()) != tqp::ATTR_INVALID; }

bool IsFolder(const std::string& path) {
  uint32_t attributes = tqp::GetAttributes(path.c_str());
  return attributes != tqp::ATTR_INVALID && (attributes & tqp::ATTR_DIRECTORY);
}

bool Fail(SwapProblem* problem, const std::string& path) {
  uint32_t code = tqp::LastError();
  problem->code = code ? code : tqp::ERR_WRITE_FAULT;
  problem->path = path;
  return false;
}

// Deletes a file or a folder with everything in it; false when something stays.
bool RemoveTree(const std::string& path) {
  uint32_t attributes = tqp::GetAttributes(path.c_str());
  if (attributes == tqp::ATTR_INVALID) return true;
  if (!(attributes & tqp::ATTR_DIRECTORY)) {
    if (attributes & tqp::ATTR_READONLY) tqp::SetAttributes(path.c_str(), tqp::ATTR_NORMAL);
    return tqp::DeleteFile(path.c_str());
  }
  bool all = true;
  tqp::FindData data;
  tqp::FindHandle search = tqp::FindFirst(Join(path, "*.*").c_str(), data);
  if (search) {
    do {
      if (!strcmp(data.name, ".") || !strcmp(data.name, "..")) continue;
      all = RemoveTree(Join(path, data.name)) && all;
    } while (tqp::FindNext(search, data));
    tqp::FindClose(search);
  }
  return tqp::RemoveDirectory(path.c_str()) && all;
}

// Writes bytes to a new file and flushes them to the disk.
bool WriteDurable(const std::string& path, const std::string& bytes, SwapProblem* problem) {
  tqp::FileHandle h = tqp::FileOpen(path.c_str(), tqp::ACCESS_WRITE, 0, tqp::DISP_CREATE_ALWAYS,
                                    tqp::ATTR_NORMAL);
  if (h == tqp::INVALID_FILE) return Fail(problem, path);
  uint32_t done = 0;
  bool ok = (bytes.empty() || (tqp::FileWrite(h, bytes.data(), (uint32_t)bytes.size(), &done) &&
                               done == bytes.size())) &&
            tqp::FileFlush(h);
  if (!ok) Fail(problem, path);
  tqp::FileClose(h);
  if (!ok) tqp::DeleteFile(path.c_str());
  return ok;
}

bool SafeRelative(const std::string& relative) {
  if (relative.empty() || relative[0] == '\\' || relative.find(':') != std::string::npos ||
      relative.find('/') != std::string::npos)
    return false;
  for (char c : relative)
    if ((unsigned char)c < 0x20) return false;  // no name of a file holds a control byte
  std::string part;
  for (size_t i = 0; i <= relative.size(); ++i) {
    bool lead = i < relative.size() && tqIsLeadByte((unsigned char)relative[i]) && i + 1 < relative.size();
    if (lead) {
      part += relative.substr(i, 2);
      ++i;
      continue;
    }
    if (i == relative.size() || relative[i] == '\\') {
      if (part.empty() || part == "." || part == "..") return false;
      part.clear();
    } else {
      part += relative[i];
    }
  }
  return true;
}

bool SwapOne(const UpdatePlan& layout, const JournalEntry& e, SwapProblem* problem) {
  std::string destination = Join(layout.installFolder, e.relative);
  if (e.replaces && !tqp::MoveReplace(destination.c_str(), layout.BackupPath(e.index).c_str()))
    return Fail(problem, destination);
  if (!tqp::MoveReplace(layout.StagedPath(e.index).c_str(), destination.c_str()))
    return Fail(problem, destination);
  return true;
}

// Back to "staged, not swapped" for one entry, from whatever state it is in.
bool UndoOne(const UpdatePlan& layout, const JournalEntry& e, SwapProblem* problem) {
  std::string destination = Join(layout.installFolder, e.relative);
  std::string staged = layout.StagedPath(e.index), backup = layout.BackupPath(e.index);
  if (e.replaces) {
    if (Exists(backup) && !tqp::MoveReplace(backup.c_str(), destination.c_str()))
      return Fail(problem, destination);
    return true;
  }
  if (!Exists(staged) && Exists(destination) && !IsFolder(destination) &&
      !tqp::MoveReplace(destination.c_str(), staged.c_str()))
    return Fail(problem, destination);
  return true;
}

void RemoveLeftovers(const UpdatePlan& layout) {
  RemoveTree(layout.Backup());
  RemoveTree(layout.Staging());
  tqp::DeleteFile(Join(layout.installFolder, TQPLAN_JOURNAL_TEMP).c_str());
}

bool Undo(const UpdatePlan& layout, const Journal& journal, const SwapHooks& hooks, SwapProblem* problem) {
  for (size_t k = journal.entries.size(); k-- > 0;) {
    hooks.At("repair", (int)k);
    if (!UndoOne(layout, journal.entries[k], problem)) return false;
  }
  for (size_t k = journal.newFolders.size(); k-- > 0;)
    tqp::RemoveDirectory(Join(layout.installFolder, journal.newFolders[k]).c_str());
  std::string path = layout.Journal();
  if (!tqp::DeleteFile(path.c_str()) && Exists(path)) return Fail(problem, path);
  tqp::FlushFolder(layout.installFolder.c_str());
  RemoveLeftovers(layout);
  return true;
}

bool CreateFolders(const UpdatePlan& plan, SwapProblem* problem) {
  for (const std::string& folder : plan.newFolders) {
    std::string path = Join(plan.installFolder, folder);
    if (!tqp::CreateDirectory(path.c_str()) && !IsFolder(path)) return Fail(problem, path);
  }
  for (const std::string& folder : plan.newFolders) {
    std::vector<std::string> parents = PlanParentsOf(folder);
    std::string parent = parents.empty() ? plan.installFolder : Join(plan.installFolder, parents.back());
    if (!tqp::FlushFolder(parent.c_str())) return Fail(problem, parent);
  }
  return true;
}

// Everything before the first rename: staged files and log on the disk, the
// journal in place. A failure here leaves the installation untouched.
bool Prepare(const UpdatePlan& plan, const Journal& journal, SwapProblem* problem) {
  for (const PlanFile& f : plan.files)
    if (!f.keepInstalled && !tqp::FlushFileByName(plan.StagedPath(f.index).c_str()))
      return Fail(problem, plan.StagedPath(f.index));
  // With every file kept or none in the package the engine made no folder.
  if (!tqp::CreateDirectory(plan.Staging().c_str()) && !IsFolder(plan.Staging()))
    return Fail(problem, plan.Staging());
  if (!WriteDurable(plan.StagedPath(plan.logIndex), plan.newLog, problem)) return false;
  if (!tqp::FlushFolder(plan.Staging().c_str())) return Fail(problem, plan.Staging());
  if (!tqp::CreateDirectory(plan.Backup().c_str()) && !IsFolder(plan.Backup()))
    return Fail(problem, plan.Backup());
  std::string temp = Join(plan.installFolder, TQPLAN_JOURNAL_TEMP);
  if (!WriteDurable(temp, FormatJournal(journal), problem)) return false;
  if (!tqp::MoveReplace(temp.c_str(), plan.Journal().c_str())) return Fail(problem, plan.Journal());
  return true;
}

}  // namespace

std::string FormatJournal(const Journal& journal) {
  std::string text = std::string(kJournalHeader) + "\n";
  for (const std::string& folder : journal.newFolders) text += "D " + folder + "\n";
  for (const JournalEntry& e : journal.entries)
    text += "M " + std::to_string(e.index) + (e.replaces ? " R " : " N ") + e.relative + "\n";
  return text + kJournalEnd + "\n";
}

bool ParseJournal(const std::string& text, Journal* journal) {
  *journal = Journal();
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start != text.size() || lines.size() < 2 || lines.front() != kJournalHeader || lines.back() != kJournalEnd)
    return false;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    // Folders come first, as FormatJournal writes them.
    if (line.compare(0, 2, "D ") == 0 && journal->entries.empty() && SafeRelative(line.substr(2))) {
      journal->newFolders.push_back(line.substr(2));
      continue;
    }
    size_t space = line.find(' ', 2);
    if (line.compare(0, 2, "M ") != 0 || space == std::string::npos || space == 2 || space > 9 ||
        line.size() < space + 4 || (line[space + 1] != 'R' && line[space + 1] != 'N') || line[space + 2] != ' ')
      return false;
    std::string number = line.substr(2, space - 2);
    // Only the form FormatJournal writes: no sign, no leading zero.
    if (number.find_first_not_of("0123456789") != std::string::npos || (number.size() > 1 && number[0] == '0'))
      return false;
    JournalEntry e;
    e.index = atoi(number.c_str());
    e.replaces = line[space + 1] == 'R';
    e.relative = line.substr(space + 3);
    if (e.index > kMaxIndex || !SafeRelative(e.relative)) return false;
    journal->entries.push_back(e);
  }
  return true;
}

Journal JournalOf(const UpdatePlan& plan) {
  Journal journal;
  journal.newFolders = plan.newFolders;
  for (const PlanFile& f : plan.files)
    if (!f.keepInstalled) journal.entries.push_back({f.index, f.replaces, f.relative});
  journal.entries.push_back({plan.logIndex, plan.logExists, TQPLAN_LOG});
  return journal;
}

bool JournalPresent(const std::string& installFolder) {
  UpdatePlan layout;
  layout.installFolder = installFolder;
  return Exists(layout.Journal());
}

RepairOutcome RepairInstallation(const std::string& installFolder, const SwapHooks& hooks,
                                 SwapProblem* problem) {
  UpdatePlan layout;
  layout.installFolder = installFolder;
  std::string done = Join(installFolder, TQPLAN_JOURNAL_DONE);
  if (Exists(done)) {
    // The swap was complete: only the clean-up was cut short.
    RemoveLeftovers(layout);
    tqp::DeleteFile(done.c_str());
    tqp::FlushFolder(installFolder.c_str());
    return RepairOutcome::Completed;
  }
  std::string path = layout.Journal();
  if (Exists(path)) {
    char* text = nullptr;
    uint32_t size = 0;
    Journal journal;
    bool read = ReadWholeFile(path.c_str(), &text, &size);
    bool parsed = read && ParseJournal(std::string(text, size), &journal);
    if (read) FreeWholeFile(text);
    if (!parsed) {
      problem->code = read ? kErrorInvalidData : tqp::LastError();
      problem->path = path;
      return RepairOutcome::Failed;
    }
    return Undo(layout, journal, hooks, problem) ? RepairOutcome::RolledBack : RepairOutcome::Failed;
  }
  bool any = Exists(layout.Staging()) || Exists(layout.Backup()) ||
             Exists(Join(installFolder, TQPLAN_JOURNAL_TEMP));
  RemoveLeftovers(layout);
  return any ? RepairOutcome::LeftoversRemoved : RepairOutcome::Clean;
}

bool CommitStaged(const UpdatePlan& plan, const SwapHooks& hooks, SwapProblem* problem) {
  Journal journal = JournalOf(plan);
  if (!Prepare(plan, journal, problem)) {
    tqp::DeleteFile(plan.Journal().c_str());
    DiscardStaging(plan);
    return false;
  }
  hooks.At("journal", 0);
  bool swapped = CreateFolders(plan, problem);
  for (size_t k = 0; swapped && k < journal.entries.size(); ++k) {
    hooks.At("swap", (int)k);
    swapped = SwapOne(plan, journal.entries[k], problem);
  }
  std::string done = Join(plan.installFolder, TQPLAN_JOURNAL_DONE);
  if (swapped && !tqp::MoveReplace(plan.Journal().c_str(), done.c_str())) swapped = Fail(problem, done);
  if (!swapped) {
    // The cause stays the one reported; an undo that fails too leaves the
    // journal for the next start.
    SwapProblem undoProblem;
    Undo(plan, journal, hooks, &undoProblem);
    return false;
  }
  hooks.At("commit", 0);
  RemoveLeftovers(plan);
  tqp::DeleteFile(done.c_str());
  tqp::FlushFolder(plan.installFolder.c_str());
  return true;
}

void StagedFileDone(const UpdatePlan& plan, int index) {
  if (index > 0) tqp::StartWriteback(plan.StagedPath(index).c_str());
}

void DiscardStaging(const UpdatePlan& plan) {
  if (!JournalPresent(plan.installFolder)) RemoveLeftovers(plan);
}
