// The updater's plan for a package against an installation, computed without
// writing anything: where the game is, whether the version gate passes, and
// the updater's own plan and checks (the tq_plan library): what happens to
// each file, the bytes it writes, the free space and the lines install.log
// gains. PlanUpdate is the only entry point the plan command uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/plan/tqUpdatePlan.h"

namespace tqpatch {

// Everything the dry run found, in the order the updater decides it; each
// later part is filled only when the one before lets the update go on.
struct PlanReport {
  bool found = false;         // the installation was found (or given)
  std::string record;         // the installer's record that was read, when looked up
  std::string installFolder;  // library form
  bool repairFirst = false;   // an interrupted update's journal is there: it is undone first
  uint32_t installed = 0, required = 0;
  bool gatePasses = false;
  bool hasData = false;          // the package's data folder exists
  bool hasFiles = false;         // and holds files
  std::string refusal;           // the scan or the destinations refuse the package (why)
  bool planned = false;          // the plan was built
  PlanProblem planProblem;       // why not (an old install.log it cannot read)
  UpdatePlan plan;               // the updater's plan: files in copy order, new folders, the merged log
  std::vector<CheckResult> checks;
  bool checksPass = false;
  bool freeKnown = false;
  uint64_t freeBytes = 0;
  std::vector<std::string> logAdded;  // lines install.log would gain
};

// Plans the package in the folder `package` (library form). With an empty
// installOverride the installation is found as the updater finds it, through
// the record named by the description; otherwise installOverride is the
// installation folder. False with a one-line reason when the description
// cannot be read; a missing installation, a failing gate or a failing check
// is a report.
bool PlanUpdate(const std::string& package, const std::string& installOverride, PlanReport& report,
                std::string& error);

}  // namespace tqpatch
