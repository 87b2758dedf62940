// The updater's plan for a package against an installation, computed without
// writing anything: where the game is, whether the version gate passes, what
// happens to each file, the space it takes and the lines install.log gains.
//
// This is tqpatch's own small planner over the updater's readers (the
// description, the installation lookup, the version gate, the scan and the
// install log of the tq_app library). It is meant to give way to the
// updater's shared planning library; PlanUpdate is the only entry point the
// plan command uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tqpatch {

struct PlannedFile {
  enum Action { New, Replace, Keep };  // Keep: the installed program is newer by its version resource
  std::string relative;     // below data/ and the installation, code page 932
  std::string destination;  // installation folder joined with relative
  uint64_t size = 0;        // the package's file
  uint64_t installedSize = 0;
  Action action = New;
};

struct UpdatePlan {
  bool found = false;          // the installation was found (or given)
  std::string record;          // the installer's record that was read, when looked up
  std::string installFolder;   // library form
  uint32_t installed = 0, required = 0;
  bool gatePasses = false;
  std::vector<PlannedFile> files;  // in the order the updater copies them
  uint64_t bytesToWrite = 0;       // new and replaced files
  uint64_t bytesNeeded = 0;        // growth of the installation
  bool freeKnown = false;
  uint64_t freeBytes = 0;
  std::vector<std::string> refused;   // files whose paths the copy refuses: nothing would be copied
  std::vector<std::string> logAdded;  // lines install.log would gain
  size_t logLines = 0;                // lines it would hold
};

// Plans the package in the folder `package` (library form). With an empty
// installOverride the installation is found as the updater finds it, through
// the record named by the description; otherwise installOverride is the
// installation folder. False with a one-line reason when the description
// cannot be read; a missing installation or a failing gate is a plan.
bool PlanUpdate(const std::string& package, const std::string& installOverride, UpdatePlan& plan, std::string& error);

}  // namespace tqpatch
