// The plan command: the updater's lookup, version gate, scan, plan and
// checks, run without writing, and printed for the maker.
#include "tools/tqpatch/tqPatchPlan.h"

#include <algorithm>
#include <cstring>

#include "app/FileList.h"
#include "app/Install.h"
#include "app/UpdateInfo.h"
#include "app/plan/tqUpdateSwap.h"
#include "platform/tqDurable.h"
#include "platform/tqPlatform.h"
#include "tools/tqpatch/tqPatch.h"
#include "xml/tqXml.h"

namespace tqpatch {

namespace {

bool IsFolder(const std::string& path) {
  uint32_t attributes = tqp::GetAttributes(path.c_str());
  return attributes != tqp::ATTR_INVALID && (attributes & tqp::ATTR_DIRECTORY);
}

// The installation folder as the updater finds it, or the one given.
bool FindInstallation(const UpdateInfo& info, const std::string& installOverride, PlanReport& report,
                      std::string& error) {
  if (!installOverride.empty()) {
    // The updater keeps the folder in 260 bytes.
    if (installOverride.size() >= TQPLAN_MAX_PATH) {
      error = installOverride + ": an installation path of 260 bytes or more";
      return false;
    }
    report.found = true;
    report.installFolder = installOverride;
    return true;
  }
  char record[1024] = {}, folder[TQPLAN_MAX_PATH] = {};
  if (InstallRecordPath(info.brand, info.app, record, sizeof record)) report.record = record;
  report.found = LookupInstallation(info.brand, info.app, folder);
  if (report.found) report.installFolder = folder;
  return true;
}

// The data folder's files, the plan and its checks, as the updater makes
// them once the gate has passed.
void PlanAndCheck(const std::string& package, PlanReport& report) {
  std::string data = PlanJoin(package, "data");
  report.hasData = IsFolder(data);
  if (!report.hasData) return;
  FileList files;
  // The updater's own refusals: links, special files, names outside the code
  // page, paths that do not fit, destinations through links.
  Refusal why;
  if (!ScanFolder(data.c_str(), "", files, &why) ||
      !CheckDestinations(report.installFolder.c_str(), files, &why)) {
    report.refusal = why.Describe();
    return;
  }
  report.hasFiles = !files.empty();
  if (!report.hasFiles) return;
  report.planned =
      BuildPlan(data.c_str(), report.installFolder.c_str(), files, &report.plan, &report.planProblem);
  if (!report.planned) return;
  report.checksPass = CheckPlan(report.plan, &report.checks);
  report.freeKnown = tqp::VolumeFreeBytes(report.installFolder.c_str(), &report.freeBytes);
  report.logAdded = LogLinesAdded(report.plan);
}

}  // namespace

bool PlanUpdate(const std::string& package, const std::string& installOverride, PlanReport& report,
                std::string& error) {
  report = PlanReport();
  tqXml xml;
  if (!xml.Open(PlanJoin(package, "updateinfo.xml").c_str())) {
    error = "updateinfo.xml is missing or does not parse";
    return false;
  }
  UpdateInfo info;
  info.Clear();
  ReadDescription(xml, info);
  if (!FindInstallation(info, installOverride, report, error)) return false;
  if (!report.found) return true;
  report.repairFirst = JournalPresent(report.installFolder);
  report.installed = ReadInstalledVersion(report.installFolder.c_str());
  report.required = RequiredVersion(info.version_major, info.version_minor);
  report.gatePasses = VersionGatePasses(report.installed, report.required);
  if (report.gatePasses) PlanAndCheck(package, report);
  return true;
}

namespace {

const char kPlanUsage[] =
    "usage: tqpatch plan PKG [--install DIR]\n"
    "A dry run of the updater with the package in the folder PKG: finds the\n"
    "installation as the updater does (through WINEPREFIX on Linux) or takes DIR,\n"
    "applies the version gate, and prints what happens to each file (new, replace,\n"
    "or keep because the installed program's version is newer), the bytes to write,\n"
    "the free space, the lines install.log would gain, and the updater's checks\n"
    "before it copies (path lengths, readable sources, files not in use, free\n"
    "space). Nothing is written.\n"
    "Exit status 0 when the update would copy, 1 when it would stop.\n";

std::string Version(uint32_t word) { return std::to_string(word >> 16) + "." + std::to_string(word & 0xFFFF); }

// A refusal of the plan or a check: the file it is about and the system's
// text of its cause.
std::string ProblemText(const PlanProblem& problem) {
  std::string text = problem.path + ": " + tqp::ErrorText(problem.code);
  if (problem.line > 0) text += " (line " + std::to_string(problem.line) + ")";
  return text;
}

void PrintFiles(const UpdatePlan& plan) {
  for (const std::string& folder : plan.newFolders)
    printf("  %-7s %12s  %s\\\n", "folder", "", Show(folder).c_str());
  for (const PlanFile& f : plan.files) {
    const char* action = f.keepInstalled ? "keep" : f.replaces ? "replace" : "new";
    printf("  %-7s %12llu  %s\n", action, (unsigned long long)f.size, Show(f.relative).c_str());
  }
  printf("  %-7s %12zu  %s\n", plan.logExists ? "replace" : "new", plan.newLog.size(), TQPLAN_LOG);
  printf("bytes to write: %s\n", Bytes(plan.BytesToWrite()).c_str());
}

void PrintSpaceAndLog(const PlanReport& report) {
  if (report.freeKnown)
    printf("free space: %s; the update asks for %s\n", Bytes(report.freeBytes).c_str(),
           Bytes(SpaceNeeded(report.plan)).c_str());
  else
    printf("free space: unknown\n");
  size_t lines = (size_t)std::count(report.plan.newLog.begin(), report.plan.newLog.end(), '\n');
  printf("install.log gains %zu line%s (%zu in all):\n", report.logAdded.size(),
         report.logAdded.size() == 1 ? "" : "s", lines);
  for (const std::string& line : report.logAdded) printf("  %s\n", Show(line).c_str());
}

// The updater's checks before it copies; the first that fails stops it.
int PrintChecks(const PlanReport& report) {
  for (const CheckResult& check : report.checks) {
    printf("check %s: %s\n", check.name, check.passed ? "ok" : "failed");
    if (!check.passed) Error("the copy would not start: " + ProblemText(check.problem));
  }
  return report.checksPass ? EXIT_OK : EXIT_PROBLEM;
}

int PrintReport(const PlanReport& report) {
  if (!report.found) {
    if (report.record.empty()) return Error("no installation: the application-data folder is unknown");
    return Error("no installation: the record " + report.record + " is missing or names no folder");
  }
  printf("installation: %s\n", Show(report.installFolder).c_str());
  if (report.repairFirst) printf("repair: an interrupted update will be undone first\n");
  printf("installed version %s, required %s: %s\n", Version(report.installed).c_str(),
         Version(report.required).c_str(), report.gatePasses ? "passes" : "too old, the update stops");
  if (!report.gatePasses) return EXIT_PROBLEM;
  if (!report.hasData) return Error("data/ is missing: the update would stop");
  if (!report.refusal.empty()) return Error("the update would stop: " + report.refusal);
  if (!report.hasFiles) return Error("data/ holds no files: the update would copy nothing");
  if (!report.planned) return Error("the update would stop: " + ProblemText(report.planProblem));
  PrintFiles(report.plan);
  PrintSpaceAndLog(report);
  return PrintChecks(report);
}

}  // namespace

int Plan(int argc, const char* const* argv) {
  std::string packageArg, installArg;
  for (int i = 2; i < argc; ++i) {
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      fputs(kPlanUsage, stdout);
      return EXIT_OK;
    }
    if (!strcmp(argv[i], "--install") && i + 1 < argc) {
      installArg = argv[++i];
    } else if (argv[i][0] != '-' && packageArg.empty()) {
      packageArg = argv[i];
    } else {
      fputs(kPlanUsage, stderr);
      return EXIT_USAGE;
    }
  }
  if (packageArg.empty()) {
    fputs(kPlanUsage, stderr);
    return EXIT_USAGE;
  }
  ArgPath package, install;
  if (!PathFromArgument(packageArg.c_str(), package)) return Error(packageArg + ": the name has no Shift_JIS form");
  if (!installArg.empty() && !PathFromArgument(installArg.c_str(), install))
    return Error(installArg + ": the name has no Shift_JIS form");
  PlanReport report;
  std::string error;
  if (!PlanUpdate(package.library, install.library, report, error)) return Error(error);
  return PrintReport(report);
}

}  // namespace tqpatch
