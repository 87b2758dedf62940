// tqpatch's planner over the updater's readers, and the plan command.
#include "tools/tqpatch/tqPatchPlan.h"

#include <cstring>
#include <system_error>

#include "app/FileList.h"
#include "app/Install.h"
#include "app/UpdateInfo.h"
#include "file/tqFile.h"
#include "platform/tqPlatform.h"
#include "tools/tqpatch/tqPatch.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

namespace fs = std::filesystem;

namespace tqpatch {

namespace {

bool SameLetters(const char* a, const char* b) { return a && CompareNoCase(a, b) == 0; }

// The copy engine's version rule: an installed exe or dll whose version
// resource is newer than the package's stays.
bool InstalledProgramIsNewer(const char* source, const char* destination) {
  const char* ext = tqExtensionOf(destination);
  if (!SameLetters(ext, "exe") && !SameLetters(ext, "dll")) return false;
  tqFile probe;
  if (!probe.Exists(destination)) return false;
  static tqVersionInfo installed, shipped;  // 6 KiB: off the stack
  return tqReadVersionInfo(destination, &installed) && tqReadVersionInfo(source, &shipped) &&
         installed.Version64() > shipped.Version64();
}

// Free bytes on the volume holding a library path (its nearest existing folder).
bool FreeSpace(const std::string& library, uint64_t* bytes) {
  fs::path path;
#ifdef _WIN32
  std::vector<wchar_t> wide(library.size() + 2);
  if (tqp::WideFromNarrow(library.c_str(), wide.data(), (int)wide.size()) <= 0) return false;
  path = wide.data();
#else
  std::string system;
  if (!tqp::ToSystemPath(library.c_str(), system)) return false;
  path = system;
#endif
  std::error_code ec;
  while (!fs::exists(path, ec) && path.has_relative_path()) path = path.parent_path();
  fs::space_info info = fs::space(path, ec);
  if (ec) return false;
  *bytes = info.available;
  return true;
}

void PlanFiles(const std::string& package, UpdatePlan& plan) {
  FileList files;
  char saved[1024];
  const std::string data = package + "\\data";
  if (tqp::GetCurrentDirectory(saved, sizeof saved) && tqp::SetCurrentDirectory(data.c_str())) {
    ScanFolder("", files);
    tqp::SetCurrentDirectory(saved);
  }
  for (const std::string& relative : files) {
    PlannedFile f;
    f.relative = relative;
    char destination[1024], source[1024];
    if (plan.installFolder.size() + relative.size() + 2 > sizeof destination ||
        data.size() + relative.size() + 2 > sizeof source) {
      plan.refused.push_back(relative);
      continue;
    }
    tqPathJoin(destination, 2, plan.installFolder.c_str(), relative.c_str());
    tqPathJoin(source, 2, data.c_str(), relative.c_str());
    // The copy engine takes no job whose paths reach 260 bytes, and the
    // updater then copies nothing at all.
    if (strlen(destination) >= 260 || strlen(source) >= 260) plan.refused.push_back(relative);
    f.destination = destination;
    int64_t size = tqFile::GetFileSizeOf64(source);
    f.size = size > 0 ? (uint64_t)size : 0;
    tqFile probe;
    if (!probe.Exists(destination)) {
      f.action = PlannedFile::New;
      plan.bytesNeeded += f.size;
    } else {
      int64_t installed = tqFile::GetFileSizeOf64(destination);
      f.installedSize = installed > 0 ? (uint64_t)installed : 0;
      if (InstalledProgramIsNewer(source, destination)) {
        f.action = PlannedFile::Keep;
      } else {
        f.action = PlannedFile::Replace;
        if (f.size > f.installedSize) plan.bytesNeeded += f.size - f.installedSize;
      }
    }
    if (f.action != PlannedFile::Keep) plan.bytesToWrite += f.size;
    plan.files.push_back(f);
  }
}

// The lines the updater's install-log step would add, by running it on a copy.
void PlanLog(UpdatePlan& plan) {
  char path[1024];
  tqPathJoin(path, 2, plan.installFolder.c_str(), "install.log");
  LogList before, after;
  before.Load(path);
  after.Load(path);
  for (const PlannedFile& f : plan.files) after.Add(("\"" + f.relative + "\"").c_str());
  after.SortUnique();
  std::vector<std::string> old = before.Lines();
  for (const std::string& line : after.Lines()) {
    bool present = false;
    for (const std::string& o : old)
      if (CompareNoCase(o.c_str(), line.c_str()) == 0) {
        present = true;
        break;
      }
    if (!present) plan.logAdded.push_back(line);
  }
  plan.logLines = after.Count();
}

}  // namespace

bool PlanUpdate(const std::string& package, const std::string& installOverride, UpdatePlan& plan, std::string& error) {
  plan = UpdatePlan();
  tqXml xml;
  if (!xml.Open((package + "\\updateinfo.xml").c_str())) {
    error = "updateinfo.xml is missing or does not parse";
    return false;
  }
  UpdateInfo info;
  info.Clear();
  ReadDescription(xml, info);
  char folder[260] = {};
  if (installOverride.empty()) {
    char shared[260] = {};
    tqShellFolder(8, shared);
    plan.record = std::string(shared) + "\\" + info.brand + "\\" + info.app + ".xml";
    plan.found = LookupInstallation(info.brand, info.app, folder);
  } else {
    plan.found = installOverride.size() < sizeof folder;
    if (plan.found) memcpy(folder, installOverride.c_str(), installOverride.size() + 1);
  }
  if (!plan.found) return true;
  plan.installFolder = folder;
  plan.installed = ReadInstalledVersion(folder);
  plan.required = RequiredVersion(info.version_major, info.version_minor);
  plan.gatePasses = VersionGatePasses(plan.installed, plan.required);
  PlanFiles(package, plan);
  PlanLog(plan);
  plan.freeKnown = FreeSpace(plan.installFolder, &plan.freeBytes);
  return true;
}

namespace {

const char kPlanUsage[] =
    "usage: tqpatch plan PKG [--install DIR]\n"
    "A dry run of the updater with the package in the folder PKG: finds the\n"
    "installation as the updater does (through WINEPREFIX on Linux) or takes DIR,\n"
    "applies the version gate, and prints what happens to each file (new, replace,\n"
    "or keep because the installed program's version is newer), the bytes to write,\n"
    "the free space, and the lines install.log would gain. Nothing is written.\n"
    "Exit status 0 when the update would copy, 1 when it would stop.\n";

std::string Version(uint32_t word) { return std::to_string(word >> 16) + "." + std::to_string(word & 0xFFFF); }

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
  UpdatePlan plan;
  std::string error;
  if (!PlanUpdate(package.library, install.library, plan, error)) return Error(error);
  if (!plan.found) return Error("no installation: the record " + plan.record + " is missing or names no folder");
  printf("installation: %s\n", Show(plan.installFolder).c_str());
  printf("installed version %s, required %s: %s\n", Version(plan.installed).c_str(), Version(plan.required).c_str(),
         plan.gatePasses ? "passes" : "too old, the update stops");
  if (!plan.gatePasses) return EXIT_PROBLEM;
  if (plan.files.empty()) return Error("data/ holds no files: the update would copy nothing");
  const char* names[] = {"new", "replace", "keep"};
  for (const PlannedFile& f : plan.files)
    printf("  %-7s %12llu  %s\n", names[f.action], (unsigned long long)f.size, Show(f.relative).c_str());
  printf("bytes to write: %s\n", Bytes(plan.bytesToWrite).c_str());
  if (plan.freeKnown)
    printf("free space: %s (the installation grows by %s)\n", Bytes(plan.freeBytes).c_str(),
           Bytes(plan.bytesNeeded).c_str());
  else
    printf("free space: unknown\n");
  printf("install.log gains %zu line%s (%zu in all):\n", plan.logAdded.size(), plan.logAdded.size() == 1 ? "" : "s",
         plan.logLines);
  for (const std::string& line : plan.logAdded) printf("  %s\n", Show(line).c_str());
  for (const std::string& relative : plan.refused)
    Error(relative + ": a path of 260 bytes or more here or in the package; the copy would not start");
  if (!plan.refused.empty()) return EXIT_PROBLEM;
  if (plan.freeKnown && plan.bytesNeeded > plan.freeBytes) return Error("not enough free space on the destination");
  return EXIT_OK;
}

}  // namespace tqpatch
