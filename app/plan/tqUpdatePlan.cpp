// Building the plan of an update and checking it without writing anything.
#include "app/plan/tqUpdatePlan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "app/FileList.h"
#include "app/Install.h"
#include "copy/tqFileCopy.h"
#include "file/tqFile.h"
#include "platform/tqDurable.h"
#include "util/tqUtil.h"

namespace {

constexpr uint32_t kErrorInvalidData = 13;  // "The data is invalid."
constexpr uint32_t kErrorPathNotFound = tqp::ERR_PATH_NOT_FOUND;
constexpr size_t kMaxLogLine = 259;
// A file's last cluster and the file system's own records are not free space.
constexpr uint64_t kSlackPerFile = 4096;
constexpr uint64_t kMarginBytes = 1048576;
constexpr uint64_t kMarginShare = 64;  // plus 1/64 of what is written

const auto Join = PlanJoin;

bool Exists(const std::string& path) { return tqp::GetAttributes(path.c_str()) != tqp::ATTR_INVALID; }

bool IsFolder(const std::string& path) {
  uint32_t attributes = tqp::GetAttributes(path.c_str());
  return attributes != tqp::ATTR_INVALID && (attributes & tqp::ATTR_DIRECTORY);
}

// The parent folders of a relative path, outermost first (double-byte aware:
// a trail byte 0x5C is no separator).
std::vector<std::string> ParentsOf(const std::string& relative) {
  std::vector<std::string> parents;
  for (size_t i = 0; i < relative.size(); ++i) {
    if (tqIsLeadByte((unsigned char)relative[i]) && i + 1 < relative.size()) {
      ++i;
      continue;
    }
    if (relative[i] == '\\') parents.push_back(relative.substr(0, i));
  }
  return parents;
}

std::string FirstPart(const std::string& relative) {
  std::vector<std::string> parents = ParentsOf(relative);
  return parents.empty() ? relative : parents.front();
}

bool IsReservedName(const std::string& relative) {
  std::string first = FirstPart(relative);
  for (const char* name : {TQPLAN_STAGING, TQPLAN_BACKUP, TQPLAN_JOURNAL, TQPLAN_JOURNAL_TEMP,
                           TQPLAN_JOURNAL_DONE})
    if (CompareNoCase(first.c_str(), name) == 0) return true;
  return false;
}

PlanProblem Problem(uint32_t code, const std::string& path, bool openText = false) {
  PlanProblem p;
  p.code = code;
  p.path = path;
  p.openText = openText;
  return p;
}

bool Refuse(PlanProblem* out, const PlanProblem& problem) {
  *out = problem;
  return false;
}

bool ReadOldLog(UpdatePlan* plan, PlanProblem* problem) {
  std::string path = plan->LogPath();
  uint32_t attributes = tqp::GetAttributes(path.c_str());
  plan->logExists = attributes != tqp::ATTR_INVALID;
  if (!plan->logExists) return true;
  char* text = nullptr;
  uint32_t size = 0;
  if ((attributes & tqp::ATTR_DIRECTORY) || !ReadWholeFile(path.c_str(), &text, &size)) {
    uint32_t code = tqp::LastError();
    *problem = Problem(code ? code : tqp::ERR_READ_FAULT, path);
    return false;
  }
  plan->oldLog.assign(text, size);
  FreeWholeFile(text);
  int bad = 0;
  if (!LogTextIsLines(plan->oldLog, &bad)) {
    *problem = Problem(kErrorInvalidData, path);
    problem->line = bad;
    return false;
  }
  return true;
}

}  // namespace

std::string PlanJoin(const std::string& a, const std::string& b) {
  std::vector<char> out(a.size() + b.size() + 2);
  tqPathJoinSized(out.data(), out.size(), a.c_str(), b.c_str());
  return out.data();
}

std::vector<std::string> PlanParentsOf(const std::string& relative) { return ParentsOf(relative); }

std::string UpdatePlan::Staging() const { return Join(installFolder, TQPLAN_STAGING); }
std::string UpdatePlan::Backup() const { return Join(installFolder, TQPLAN_BACKUP); }
std::string UpdatePlan::Journal() const { return Join(installFolder, TQPLAN_JOURNAL); }
std::string UpdatePlan::StagedPath(int index) const { return Join(Staging(), std::to_string(index)); }
std::string UpdatePlan::BackupPath(int index) const { return Join(Backup(), std::to_string(index)); }
std::string UpdatePlan::LogPath() const { return Join(installFolder, TQPLAN_LOG); }

uint64_t UpdatePlan::BytesToWrite() const {
  uint64_t bytes = newLog.size();
  for (const PlanFile& f : files)
    if (!f.keepInstalled) bytes += f.size;
  return bytes;
}

uint64_t SpaceNeeded(const UpdatePlan& plan) {
  uint64_t bytes = plan.BytesToWrite();
  return bytes + kSlackPerFile * (plan.files.size() + 2) + kMarginBytes + bytes / kMarginShare;
}

bool LogTextIsLines(const std::string& bytes, int* badLine) {
  *badLine = 0;
  if (bytes.size() >= 2 && ((uint8_t)bytes[0] == 0xFF && (uint8_t)bytes[1] == 0xFE)) *badLine = 1;
  if (bytes.size() >= 2 && ((uint8_t)bytes[0] == 0xFE && (uint8_t)bytes[1] == 0xFF)) *badLine = 1;
  if (*badLine) return false;
  int line = 1;
  size_t length = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    bool lineEnd = c == '\n' || (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n');
    if (lineEnd) {
      if (c == '\r') ++i;
      ++line;
      length = 0;
      continue;
    }
    if (c == 0 || c == '\r' || ++length > kMaxLogLine) {
      *badLine = line;
      return false;
    }
  }
  return true;
}

std::string MergeInstallLog(const std::string& oldBytes, const std::vector<std::string>& relatives) {
  LogList log;
  log.LoadText(oldBytes.c_str());
  for (const std::string& relative : relatives) log.Add(("\"" + relative + "\"").c_str());
  log.SortUnique();
  std::string text;
  for (const std::string& line : log.Lines()) text += line + "\r\n";
  return text;
}

std::vector<std::string> LogLinesAdded(const UpdatePlan& plan) {
  LogList before, after;
  before.LoadText(plan.oldLog.c_str());
  after.LoadText(plan.newLog.c_str());
  auto lessNoCase = [](const std::string& a, const std::string& b) { return CompareNoCase(a.c_str(), b.c_str()) < 0; };
  std::vector<std::string> old = before.Lines();
  std::sort(old.begin(), old.end(), lessNoCase);
  std::vector<std::string> added;
  for (const std::string& line : after.Lines())
    if (!std::binary_search(old.begin(), old.end(), line, lessNoCase)) added.push_back(line);
  return added;
}

bool BuildPlan(const char* dataFolder, const char* installFolder,
               const std::vector<std::string>& relatives, UpdatePlan* plan, PlanProblem* problem) {
  *plan = UpdatePlan();
  plan->dataFolder = dataFolder;
  plan->installFolder = installFolder;
  std::set<std::string> folders;
  for (size_t i = 0; i < relatives.size(); ++i) {
    PlanFile f;
    f.relative = relatives[i];
    f.index = (int)i + 1;
    f.source = Join(dataFolder, f.relative);
    f.destination = Join(installFolder, f.relative);
    f.size = tqFile::GetFileSizeOf64(f.source.c_str());
    uint32_t attributes = tqp::GetAttributes(f.destination.c_str());
    f.replaces = attributes != tqp::ATTR_INVALID && !(attributes & tqp::ATTR_DIRECTORY);
    // The copy engine's own rule, decided here against the installed file.
    f.keepInstalled = f.replaces && tqCopyKeepsNewerProgram(f.source.c_str(), f.destination.c_str());
    if (!f.keepInstalled) {
      for (const std::string& parent : ParentsOf(f.relative)) {
        if (folders.count(parent) || Exists(Join(installFolder, parent))) continue;
        folders.insert(parent);
        plan->newFolders.push_back(parent);
      }
    }
    plan->files.push_back(std::move(f));
  }
  if (!ReadOldLog(plan, problem)) return false;
  plan->newLog = MergeInstallLog(plan->oldLog, relatives);
  return true;
}

namespace {

bool CheckPaths(const UpdatePlan& plan, PlanProblem* problem) {
  for (const std::string& own : {plan.Journal() + ".tmp", plan.LogPath(), plan.StagedPath(0)})
    if (own.size() >= TQPLAN_MAX_PATH) return Refuse(problem, Problem(tqp::ERR_FILENAME_TOO_LONG, own));
  for (const PlanFile& f : plan.files) {
    if (IsReservedName(f.relative) || CompareNoCase(f.relative.c_str(), TQPLAN_LOG) == 0)
      return Refuse(problem, Problem(tqp::ERR_INVALID_NAME, f.destination));
    const std::string* tooLong = nullptr;
    if (f.source.size() >= TQPLAN_MAX_PATH) tooLong = &f.source;
    if (f.destination.size() >= TQPLAN_MAX_PATH || f.relative.size() + 2 > kMaxLogLine)
      tooLong = &f.destination;
    if (tooLong) return Refuse(problem, Problem(tqp::ERR_FILENAME_TOO_LONG, *tooLong));
    if (plan.StagedPath(f.index).size() >= TQPLAN_MAX_PATH || plan.BackupPath(f.index).size() >= TQPLAN_MAX_PATH)
      return Refuse(problem, Problem(tqp::ERR_FILENAME_TOO_LONG, f.destination));
  }
  return true;
}

bool CheckSources(const UpdatePlan& plan, PlanProblem* problem) {
  for (const PlanFile& f : plan.files) {
    if (f.keepInstalled) continue;
    tqp::FileHandle h = tqp::FileOpen(f.source.c_str(), tqp::ACCESS_READ, tqp::SHARE_READ,
                                      tqp::DISP_OPEN_EXISTING, tqp::ATTR_NORMAL);
    if (h == tqp::INVALID_FILE) return Refuse(problem, Problem(tqp::LastError(), f.source, true));
    tqp::FileClose(h);
  }
  return true;
}

// A file that is in use, read-only or a folder stops the check here, before
// the copy; shown as the engine shows a pair it cannot open, except where the
// system's own text says more (a sharing violation).
bool CheckDestination(const PlanFile& f, PlanProblem* problem) {
  if (IsFolder(f.destination)) return Refuse(problem, Problem(tqp::ERR_ACCESS_DENIED, f.source, true));
  if (!f.replaces) return true;
  uint32_t code = tqp::ProbeExclusiveWrite(f.destination.c_str());
  if (code == tqp::ERR_SUCCESS) return true;
  bool asEngine = code == tqp::ERR_ACCESS_DENIED;
  *problem = Problem(code, asEngine ? f.source : f.destination, asEngine);
  return false;
}

bool CheckDestinations(const UpdatePlan& plan, PlanProblem* problem) {
  for (const PlanFile& f : plan.files) {
    if (f.keepInstalled) continue;
    // A file where one of its folders must be stops the folder's creation.
    for (const std::string& parent : ParentsOf(f.relative)) {
      std::string folder = Join(plan.installFolder, parent);
      if (Exists(folder) && !IsFolder(folder)) return Refuse(problem, Problem(kErrorPathNotFound, folder));
    }
    if (!CheckDestination(f, problem)) return false;
  }
  if (plan.logExists) {
    uint32_t code = tqp::ProbeExclusiveWrite(plan.LogPath().c_str());
    if (code != tqp::ERR_SUCCESS) return Refuse(problem, Problem(code, plan.LogPath()));
  }
  return true;
}

bool CheckSpace(const UpdatePlan& plan, PlanProblem* problem) {
  uint64_t free = 0;
  if (!tqp::VolumeFreeBytes(plan.installFolder.c_str(), &free))
    return Refuse(problem, Problem(tqp::LastError(), plan.installFolder));
  if (free < SpaceNeeded(plan)) return Refuse(problem, Problem(tqp::ERR_DISK_FULL, plan.installFolder));
  return true;
}

}  // namespace

bool CheckPlan(const UpdatePlan& plan, std::vector<CheckResult>* results) {
  struct Step {
    const char* name;
    bool (*run)(const UpdatePlan&, PlanProblem*);
  };
  static const Step kSteps[] = {
      {"paths", CheckPaths},
      {"sources", CheckSources},
      {"destinations", CheckDestinations},
      {"space", CheckSpace},
  };
  bool all = true;
  results->clear();
  for (const Step& step : kSteps) {
    CheckResult result{step.name, true, {}};
    result.passed = step.run(plan, &result.problem);
    all = all && result.passed;
    results->push_back(result);
  }
  return all;
}
