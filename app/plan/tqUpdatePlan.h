// The plan of an update and the checks that run before anything is written:
// for every package file its destination, size, whether it replaces a file
// and what the version rule decides; then free space, locked files, readable
// sources and path lengths. Shared by the updater and the package tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Names of the updater's own entries inside the installation folder. They
// never appear in install.log and are gone after every run.
constexpr const char TQPLAN_STAGING[] = "~update.stage";
constexpr const char TQPLAN_BACKUP[] = "~update.backup";
constexpr const char TQPLAN_JOURNAL[] = "~update.journal";
constexpr const char TQPLAN_JOURNAL_TEMP[] = "~update.journal.tmp";
constexpr const char TQPLAN_JOURNAL_DONE[] = "~update.done";
constexpr const char TQPLAN_LOG[] = "install.log";

// Paths handed to the copy engine and the file calls must stay below this.
constexpr size_t TQPLAN_MAX_PATH = 260;

struct PlanFile {
  std::string relative;     // below the data folder and the installation
  std::string source;       // full path in the package
  std::string destination;  // full path in the installation
  uint64_t size = 0;
  bool replaces = false;       // a file is installed there now
  bool keepInstalled = false;  // the installed program is newer: not staged
  int index = 0;               // name of its staged and backed-up copies
};

struct UpdatePlan {
  std::string dataFolder;
  std::string installFolder;
  std::vector<PlanFile> files;  // scan order
  // Folders of the installation that the swap creates, outermost first.
  std::vector<std::string> newFolders;
  // install.log: the old bytes (when there is one) and the merged new ones.
  bool logExists = false;
  std::string oldLog;
  std::string newLog;
  int logIndex = 0;

  // Full paths of the updater's own entries and of staged/backup copies.
  std::string Staging() const;
  std::string Backup() const;
  std::string Journal() const;
  std::string StagedPath(int index) const;
  std::string BackupPath(int index) const;
  std::string LogPath() const;
  // Bytes the update writes to the installation's volume (staged files and
  // the new log).
  uint64_t BytesToWrite() const;
};

// Why a plan or a check refused, in the words the user sees: `code` is a
// system error number whose text names the cause, `path` the file it is
// about. `openText` is set when the cause is shown exactly as the copy
// engine's own "cannot open" message would show it.
struct PlanProblem {
  uint32_t code = 0;
  std::string path;
  bool openText = false;
  int line = 0;  // install.log: the line that cannot be read (from 1)
};

// Fills plan for the files of `relatives` (scan order). Reads sizes, what is
// installed, and the version rule; writes nothing. False with the problem
// when an old install.log cannot be read.
bool BuildPlan(const char* dataFolder, const char* installFolder,
               const std::vector<std::string>& relatives, UpdatePlan* plan, PlanProblem* problem);

// One check's outcome, for the dry run's report.
struct CheckResult {
  const char* name;
  bool passed;
  PlanProblem problem;
};

// Runs every check in order: path lengths and reserved names, sources
// readable, destinations writable without sharing, free space. Writes
// nothing. Returns true when all pass; results gets one entry per check.
bool CheckPlan(const UpdatePlan& plan, std::vector<CheckResult>* results);

// install.log's old bytes as lines the merge can keep exactly: CR LF or LF
// ends, no NUL, no lone CR, no line over 259 bytes, no UTF-16 byte order
// mark. False with the first bad line (from 1) otherwise.
bool LogTextIsLines(const std::string& bytes, int* badLine);
// The old log's lines plus one quoted line per file, sorted and unique as
// install.log has always been kept, each ended by CR LF.
std::string MergeInstallLog(const std::string& oldBytes, const std::vector<std::string>& relatives);
// The lines of the plan's new install.log that its old one lacks, in the new
// log's order, compared as the merge compares them (ASCII letters in either
// case): what the update adds to the log. Reads and writes nothing.
std::vector<std::string> LogLinesAdded(const UpdatePlan& plan);

// Two paths joined with a backslash (the library's join rules, any length).
std::string PlanJoin(const std::string& a, const std::string& b);
// The parent folders of a relative path, outermost first, double-byte aware.
std::vector<std::string> PlanParentsOf(const std::string& relative);

// Free space the checks ask for beyond the bytes written: cluster slack per
// file and a margin for the file system's own records.
uint64_t SpaceNeeded(const UpdatePlan& plan);
