// Putting staged files into place with a journal, so that every end of a run
// (success, failure, cancel, kill, power cut) leaves the installation either
// wholly old or wholly new.
//
// Layout inside the installation folder while a run is under way:
//   ~update.stage\<n>   the package's files, copied and flushed (n = plan index,
//                       0 = the new install.log)
//   ~update.backup\<n>  each replaced file, moved aside during the swap
//   ~update.journal     present from just before the first rename until the
//                       swap is complete: "the installation may be mixed"
//   ~update.done        the journal renamed once everything is in place
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/plan/tqUpdatePlan.h"

// Test points: called with a name and an index where a test may stop or kill
// the process ("journal", "swap" before each entry, "commit", "repair" before
// each undo step).
struct SwapHooks {
  void (*point)(void* user, const char* name, int index) = nullptr;
  void* user = nullptr;
  void At(const char* name, int index) const {
    if (point) point(user, name, index);
  }
};

struct SwapProblem {
  uint32_t code = 0;
  std::string path;
};

// One line of the journal: a staged file that goes to `relative`, replacing
// an installed file (moved to the backup first) or new.
struct JournalEntry {
  int index = 0;
  bool replaces = false;
  std::string relative;
};

struct Journal {
  std::vector<std::string> newFolders;  // outermost first
  std::vector<JournalEntry> entries;    // in swap order
};

std::string FormatJournal(const Journal& journal);
// False for anything that is not a complete journal of ours, or that names a
// path outside the installation.
bool ParseJournal(const std::string& text, Journal* journal);
// The journal of a plan: every staged file, then install.log.
Journal JournalOf(const UpdatePlan& plan);

enum class RepairOutcome { Clean, LeftoversRemoved, Completed, RolledBack, Failed };
// Run at start, for the installation found, before its version is read: a
// journal means a swap was interrupted and is undone; a completed one is
// only cleaned up; staging and backup folders without a journal are left
// over from a run that never began its swap and are removed.
RepairOutcome RepairInstallation(const std::string& installFolder, const SwapHooks& hooks,
                                 SwapProblem* problem);
// True when a journal of an interrupted swap is present (the dry run reports it).
bool JournalPresent(const std::string& installFolder);

// Called as soon as the copy engine has finished staging the file with this
// plan index: its data starts going to the disk while the next file copies,
// so the flush before the journal has little left to wait for.
void StagedFileDone(const UpdatePlan& plan, int index);

// After the copy engine staged every file of the plan: flushes them, stages
// the new install.log, writes the journal, swaps, marks the swap complete
// and cleans up. On failure the installation is put back as it was before
// returning false (or, when even that fails, left to the next start's repair).
bool CommitStaged(const UpdatePlan& plan, const SwapHooks& hooks, SwapProblem* problem);
// Removes the staging folder of a copy that failed or was cancelled.
void DiscardStaging(const UpdatePlan& plan);
