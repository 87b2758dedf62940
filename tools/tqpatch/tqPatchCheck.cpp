// tqpatch check PKG: the package as the updater will read it, with the
// updater's own readers, and the faults players would otherwise find.
#include <cctype>
#include <cstring>
#include <system_error>

#include "app/FileList.h"
#include "app/UpdateInfo.h"
#include "app/plan/tqUpdatePlan.h"
#include "image/tqImageHolder.h"
#include "tools/tqpatch/tqPatch.h"
#include "xml/tqXml.h"

namespace fs = std::filesystem;

namespace tqpatch {

namespace {

const char kCheckUsage[] =
    "usage: tqpatch check PKG\n"
    "Checks the update package in the folder PKG as the updater will read it: the\n"
    "description parses, every language has every message text, the version is\n"
    "sane, the picture decodes, data/ holds files whose names all have an exact\n"
    "Shift_JIS form, no links or special files, and every destination path stays\n"
    "under 260 bytes below the install path. Exit status 0 when the package is\n"
    "sound, 1 with one line per problem on stderr otherwise.\n";

// Every finding is one line; the count decides the exit status.
struct Findings {
  int problems = 0;
  void Problem(const std::string& narrow) {
    Shown(Show(narrow));
  }
  // A text in the terminal's charset already.
  void Shown(const std::string& text) {
    ++problems;
    fprintf(stderr, "tqpatch: check: %s\n", text.c_str());
  }
};

bool PlainNumber(const char* text) {
  if (!*text || strlen(text) > 5) return false;
  for (const char* p = text; *p; ++p)
    if (!isdigit((unsigned char)*p)) return false;
  return atoi(text) <= 65535;
}

// The text fields of a language in MessageKeys() order.
const char* FieldOf(const LanguageEntry& e, size_t index) {
  const char* fields[] = {e.wndtitle, e.intoro,   e.success,        e.error_version, e.error_inst,  e.error_copy,
                          e.sellang,  e.copying,  e.error_language, e.error_boot,    e.error_title};
  return index < sizeof fields / sizeof *fields ? fields[index] : "";
}

void CheckDescription(tqXml& xml, const UpdateInfo& info, Findings& f) {
  if (!info.brand[0]) f.Problem("updateinfo.xml: brand is empty; the installation record cannot be found");
  if (!info.app[0]) f.Problem("updateinfo.xml: app is empty; the installation record cannot be found");
  if (!info.mutex[0] || !info.confmutex[0]) f.Problem("updateinfo.xml: mutex or confmutex is empty");
  if (!info.version_major[0] || !info.version_minor[0])
    f.Problem("updateinfo.xml: version/major and version/minor must both be given");
  else if (!PlainNumber(info.version_major) || !PlainNumber(info.version_minor))
    f.Problem(std::string("updateinfo.xml: version ") + info.version_major + "." + info.version_minor +
              " is not two plain numbers up to 65535");
  else
    printf("requires: installed version %d.%d or later\n", atoi(info.version_major), atoi(info.version_minor));
  if (info.languages.empty()) {
    f.Problem("updateinfo.xml: no language (language/lang00/code is missing)");
    return;
  }
  if (!info.languages.count(info.default_language))
    f.Problem(std::string("updateinfo.xml: the default language '") + info.default_language + "' is not a language");
  for (const auto& [prefix, entry] : info.languages) {
    const std::vector<MessageKey>& keys = MessageKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
      std::string raw;
      xml.GetStrPath(raw, "", {prefix, keys[i].group, keys[i].key});
      if (!FieldOf(entry, i)[0])
        f.Problem("updateinfo.xml: language '" + prefix + "' has no text " + keys[i].group + "/" + keys[i].key);
      else if (raw.size() >= keys[i].field)
        f.Problem("updateinfo.xml: " + prefix + "/" + keys[i].group + "/" + keys[i].key + " is cut to " +
                  std::to_string(keys[i].field - 1) + " bytes");
    }
  }
  std::string names;
  for (const auto& entry : info.languages) names += (names.empty() ? "" : ",") + entry.first;
  printf("languages: %s (default %s)\n", names.c_str(), info.default_language);
}

void CheckPicture(const fs::path& package, Findings& f) {
  std::error_code ec;
  if (!fs::exists(package / "updatebg.hg3", ec)) {
    Warning("no updatebg.hg3: the updater's window will be plain");
    return;
  }
  std::string bytes;
  if (!ReadTextFile(package / "updatebg.hg3", bytes) || bytes.empty() || bytes.size() > 0x7FFFFFFFu) {
    f.Problem("updatebg.hg3: cannot be read, is empty or is too large");
    return;
  }
  tqMemBlock block(bytes.data(), (uint32_t)bytes.size());
  tqImageHolder holder;
  if (!holder.load(block, 0, 0) || !holder.image()) {
    f.Problem("updatebg.hg3: the picture does not decode");
    return;
  }
  int w = 0, h = 0;
  holder.image()->size(&w, &h);
  printf("picture: %d x %d\n", w, h);
}

// The files the updater will copy, found by its own scan of data/.
void CheckData(const fs::path& package, const std::string& libraryPackage, const UpdateInfo& info, Findings& f) {
  std::error_code ec;
  if (!fs::is_directory(package / "data", ec)) {
    f.Problem("data/ is missing");
    return;
  }
  std::vector<TreeEntry> tree;
  if (!WalkTree(package / "data", tree)) {
    f.Problem("data/ cannot be read");
    return;
  }
  for (const TreeEntry& e : tree) {
    if (e.kind == TreeEntry::Link) f.Shown("data/" + e.shown + ": a symbolic link");
    else if (e.kind == TreeEntry::Special) f.Shown("data/" + e.shown + ": a special file");
    else if (!e.nameRoundTrips) f.Shown("data/" + e.shown + ": the name has no exact Shift_JIS form");
  }
  FileList files;
  ScanFolder(PlanJoin(libraryPackage, "data").c_str(), "", files);
  if (files.empty()) {
    f.Problem("data/ holds no files");
    return;
  }
  std::string base = info.instpath;
  if (base.empty()) {
    Warning("updateinfo.xml has no instpath: path lengths are checked below C:\\");
    base = "C:";
  }
  size_t longest = 0;
  std::string longestPath;
  uint64_t bytes = 0;
  for (const std::string& relative : files) {
    std::string destination = PlanJoin(base, relative);
    if (destination.size() > longest) {
      longest = destination.size();
      longestPath = destination;
    }
    if (destination.size() >= TQPLAN_MAX_PATH)
      f.Problem(destination + ": " + std::to_string(destination.size()) + " bytes; the limit is " +
                std::to_string(TQPLAN_MAX_PATH - 1));
  }
  for (const TreeEntry& e : tree) bytes += e.kind == TreeEntry::File ? e.size : 0;
  printf("files: %zu, %s\n", files.size(), Bytes(bytes).c_str());
  printf("longest destination: %zu bytes, %s\n", longest, Show(longestPath).c_str());
}

}  // namespace

int Check(int argc, const char* const* argv) {
  if (argc == 3 && (!strcmp(argv[2], "--help") || !strcmp(argv[2], "-h"))) {
    fputs(kCheckUsage, stdout);
    return EXIT_OK;
  }
  if (argc != 3 || argv[2][0] == '-') {
    fputs(kCheckUsage, stderr);
    return EXIT_USAGE;
  }
  ArgPath package;
  if (!PathFromArgument(argv[2], package)) return Error(std::string(argv[2]) + ": the name has no Shift_JIS form");
  std::error_code ec;
  if (!fs::is_directory(package.system, ec)) return Error(std::string(argv[2]) + ": no such folder");
  Findings f;
  UpdateInfo info;
  info.Clear();
  tqXml xml;
  if (!fs::exists(package.system / "updateinfo.xml", ec)) {
    f.Problem("updateinfo.xml is missing");
  } else if (!xml.Open((package.library + "\\updateinfo.xml").c_str())) {
    f.Problem("updateinfo.xml does not parse as XML");
  } else {
    ReadDescription(xml, info);
    CheckDescription(xml, info, f);
  }
  CheckPicture(package.system, f);
  CheckData(package.system, package.library, info, f);
  if (f.problems) {
    printf("%d problem%s\n", f.problems, f.problems == 1 ? "" : "s");
    return EXIT_PROBLEM;
  }
  printf("the package is sound\n");
  return EXIT_OK;
}

}  // namespace tqpatch
