// tqpatch make OLD NEW OUT: the package of everything NEW adds or changes
// over OLD, with its description, picture and updater.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <system_error>

#include "app/Install.h"
#include "app/UpdateInfo.h"
#include "image/tqImageHg3.h"
#include "image/tqImageHolder.h"
#include "tools/tqpatch/tqPatch.h"
#include "xml/tqXml.h"

namespace fs = std::filesystem;

namespace tqpatch {

namespace {

const char kMakeUsage[] =
    "usage: tqpatch make OLD NEW OUT --brand B --app A --install-path 'C:\\Games\\X'\n"
    "                    --mutex NAME --config-mutex NAME [--requires MAJOR.MINOR]\n"
    "                    [--title TEXT] [--languages jp,en] [--default-language jp]\n"
    "                    [--texts FILE] [--picture FILE] [--exe FILE] [--config FILE] [--quiet]\n"
    "Compares the installation trees OLD and NEW by content and writes the update\n"
    "package OUT (a new or empty folder): data/ with every new or changed file,\n"
    "updateinfo.xml, updatebg.hg3 from --picture (any picture format tqimage reads)\n"
    "and update.exe from --exe.\n"
    "  --requires      oldest installed version the update accepts; default: the\n"
    "                  version in OLD's config/startup.xml\n"
    "  --title         the game's name in the message texts (default: --app)\n"
    "  --texts         message texts to use instead of the built-in ones\n"
    "                  (tqpatch texts FILE writes those for editing)\n"
    "  --config FILE   the same settings as lines 'key = value' (brand = B, ...);\n"
    "                  options on the command line win\n"
    "Files of OLD that NEW lacks are listed as warnings: the updater never deletes.\n";

const char* const kValueKeys[] = {"brand", "app", "install-path", "mutex", "config-mutex", "requires", "title",
                                  "languages", "default-language", "texts", "picture", "exe", "config"};

bool IsValueKey(const std::string& key) {
  for (const char* k : kValueKeys)
    if (key == k) return true;
  return false;
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// Settings from the command line (terminal charset), then the --config file
// for keys the command line left out.
struct Settings {
  std::map<std::string, std::string> values;
  std::vector<std::string> positional;
  bool quiet = false;
  std::string Get(const char* key, const char* def = "") const {
    auto it = values.find(key);
    return it == values.end() ? def : it->second;
  }
  bool Has(const char* key) const { return values.count(key) != 0; }
};

int ParseSettings(int argc, const char* const* argv, Settings& s) {
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--quiet" || a == "-q") {
      s.quiet = true;
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string key = a.substr(2), value;
      size_t eq = key.find('=');
      if (eq != std::string::npos) {
        value = key.substr(eq + 1);
        key = key.substr(0, eq);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        fprintf(stderr, "tqpatch: %s needs a value\n", a.c_str());
        return EXIT_USAGE;
      }
      if (!IsValueKey(key)) {
        fprintf(stderr, "tqpatch: unknown option %s (see tqpatch make --help)\n", a.c_str());
        return EXIT_USAGE;
      }
      s.values[key] = value;
    } else {
      s.positional.push_back(a);
    }
  }
  if (!s.Has("config")) return EXIT_OK;
  ArgPath config;
  std::string text;
  if (!PathFromArgument(s.Get("config").c_str(), config) || !ReadTextFile(config.system, text)) {
    fprintf(stderr, "tqpatch: %s: cannot read the settings file\n", s.Get("config").c_str());
    return EXIT_PROBLEM;
  }
  size_t at = 0, lineNumber = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string line = Trim(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? text.size() : end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? line : Trim(line.substr(0, eq));
    if (eq == std::string::npos || !IsValueKey(key) || key == "config") {
      fprintf(stderr, "tqpatch: %s:%zu: expected 'key = value' with a key of tqpatch make\n",
              s.Get("config").c_str(), lineNumber);
      return EXIT_PROBLEM;
    }
    if (!s.values.count(key)) s.values[key] = Trim(line.substr(eq + 1));
  }
  return EXIT_OK;
}

// "1.2" -> 1 and 2; plain decimal numbers up to 65535 only.
bool ParseVersion(const std::string& text, int* major, int* minor) {
  size_t dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size() || text.size() > 11) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (i != dot && !isdigit((unsigned char)text[i])) return false;
  long a = strtol(text.substr(0, dot).c_str(), nullptr, 10), b = strtol(text.substr(dot + 1).c_str(), nullptr, 10);
  if (a > 65535 || b > 65535) return false;
  *major = (int)a;
  *minor = (int)b;
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
  return s;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

struct Change {
  const TreeEntry* entry;
  bool added;  // not in OLD at all
};

// Compares the trees: what NEW adds or changes, what OLD has that NEW lacks.
int Compare(const std::vector<TreeEntry>& oldTree, const std::vector<TreeEntry>& newTree, bool quiet,
            std::vector<Change>& changes) {
  int faults = 0;
  // Windows folds the case of names: "A.txt" in OLD is the file "a.txt" of NEW.
  std::map<std::string, const TreeEntry*> old;
  for (const TreeEntry& e : oldTree)
    if (e.kind == TreeEntry::File && !e.relative.empty()) old[Lower(e.relative)] = &e;
  uint64_t toCompare = 0;
  for (const TreeEntry& e : newTree) {
    if (e.kind == TreeEntry::Link || e.kind == TreeEntry::Special) {
      ++faults;
      fprintf(stderr, "tqpatch: NEW/%s: a %s; only plain files can be shipped\n", e.shown.c_str(),
              e.kind == TreeEntry::Link ? "symbolic link" : "special file");
    } else if (!e.nameRoundTrips) {
      ++faults;
      fprintf(stderr, "tqpatch: NEW/%s: the name has no exact Shift_JIS (code page 932) form\n", e.shown.c_str());
    } else if (e.kind == TreeEntry::File) {
      auto it = old.find(Lower(e.relative));
      if (it != old.end() && it->second->size == e.size) toCompare += e.size;
    }
  }
  if (faults) return EXIT_PROBLEM;
  Progress progress("comparing", toCompare, quiet);
  std::map<std::string, bool> inNew;
  for (const TreeEntry& e : newTree) {
    if (e.kind != TreeEntry::File) continue;
    inNew[Lower(e.relative)] = true;
    auto it = old.find(Lower(e.relative));
    if (it == old.end()) {
      changes.push_back({&e, true});
      continue;
    }
    if (it->second->size == e.size) {
      int same = SameContent(it->second->system, e.system, progress);
      if (same < 0) return Error("cannot read " + e.relative + " in OLD or NEW");
      if (same) continue;
    }
    changes.push_back({&e, false});
  }
  for (const auto& [key, entry] : old)
    if (!inNew.count(key))
      Warning(entry->relative + " is in OLD but not in NEW; the updater does not delete it");
  return EXIT_OK;
}

}  // namespace

// The package's description, written with the library's XML writer.
struct Description {
  std::string brand, app, installPath, mutex, configMutex, title, defaultLanguage;
  int major = 0, minor = 0;
  std::vector<std::string> languages;
};

// Fills out (created empty) with the description; nothing is written yet.
// The XML writer puts each appended element before its older siblings, so
// everything is set last first to come out in reading order.
int BuildDescription(const Description& d, const std::string& templateText, tqXml& out) {
  tqXml texts;
  if (!texts.OpenMem(templateText.data(), templateText.size())) return Error("the message texts do not parse as XML");
  UpdateInfo templ;
  templ.Clear();
  ReadDescription(texts, templ);
  int faults = 0;
  std::vector<std::vector<std::string>> messages;  // per language, in MessageKeys() order
  for (const std::string& prefix : d.languages) {
    messages.emplace_back();
    if (!templ.languages.count(prefix)) {
      Error("the message texts have no language '" + prefix + "'");
      ++faults;
      continue;
    }
    for (const MessageKey& key : MessageKeys()) {
      std::string text;
      texts.GetStrPath(text, "", {prefix, key.group, key.key});
      text = Replace(text, "%TITLE%", d.title);
      if (text.empty()) {
        Error("the message texts of '" + prefix + "' lack " + key.group + "/" + key.key);
        ++faults;
      } else if (text.size() >= key.field) {
        Error("the text " + prefix + "/" + key.group + "/" + key.key + " is longer than the updater's " +
              std::to_string(key.field - 1) + " bytes");
        ++faults;
      }
      messages.back().push_back(text);
    }
  }
  if (faults) return EXIT_PROBLEM;
  const std::vector<MessageKey>& keys = MessageKeys();
  for (size_t i = d.languages.size(); i-- > 0;)
    for (size_t k = keys.size(); k-- > 0;)
      out.SetStrPath(messages[i][k].c_str(), {d.languages[i], keys[k].group, keys[k].key});
  for (size_t i = d.languages.size(); i-- > 0;) {
    const LanguageEntry& entry = templ.languages[d.languages[i]];
    char lang[16];
    snprintf(lang, sizeof lang, "lang%02d", (int)i);
    out.SetStrPath(entry.lang, {"language", lang, "lang"});
    out.SetStrPath(d.languages[i].c_str(), {"language", lang, "prifix"});
    out.SetIntPath(entry.code, {"language", lang, "code"});
  }
  out.SetStrPath(d.defaultLanguage.c_str(), {"language", "default"});
  out.SetIntPath(d.minor, {"version", "minor"});
  out.SetIntPath(d.major, {"version", "major"});
  out.SetStrPath(d.configMutex.c_str(), {"confmutex"});
  out.SetStrPath(d.mutex.c_str(), {"mutex"});
  out.SetStrPath(d.installPath.c_str(), {"instpath"});
  out.SetStrPath(d.app.c_str(), {"app"});
  out.SetStrPath(d.brand.c_str(), {"brand"});
  return EXIT_OK;
}

// Any picture the library reads, as the HG-3 the updater paints.
int WritePicture(const ArgPath& from, const fs::path& to) {
  std::string bytes;
  if (!ReadTextFile(from.system, bytes)) return Error(from.library + ": cannot read the picture");
  if (bytes.size() > 0x7FFFFFFFu) return Error(from.library + ": the picture file is too large");
  tqMemBlock block(bytes.data(), (uint32_t)bytes.size());
  int type = tqImageHolder::formatOf(block);
  if (type == TQIMAGE_NONE) return Error(from.library + ": not a picture format the library reads");
  tqImage* source = tqImageHolder::createFormat(type);
  if (!source) return Error("out of memory");
  int status = EXIT_OK;
  tqImageHg3 picture;
  if (!source->load(block, 0)) {
    status = Error(from.library + ": the picture does not decode");
  } else if (source->bytesPerPixel() < 3) {
    status = Error(from.library + ": pictures of fewer than 24 bits per pixel are not converted");
  } else if (!picture.copyFrom(*source)) {
    status = Error("out of memory");
  }
  // Bitmaps and PSD files hold their rows bottom first; HG-3 top first.
  if (status == EXIT_OK && (type == TQIMAGE_BMP || type == TQIMAGE_PSD)) picture.flipVertical();
  source->release();
  if (status != EXIT_OK) return status;
  tqMemBlock out;
  if (!picture.save(out, 0, 0, 0, 0)) return Error("the picture cannot be stored as HG-3");
  if (!WriteBytes(to, std::string((const char*)out.data, out.size))) return Error("cannot write updatebg.hg3");
  printf("picture: %d x %d, %d bits per pixel, %s\n", picture.width(), picture.height(), 8 * picture.bytesPerPixel(),
         Bytes(out.size).c_str());
  return EXIT_OK;
}

namespace {

// The settings as the description needs them, checked.
int Describe(const Settings& s, const ArgPath& oldTree, Description& d) {
  const char* required[] = {"brand", "app", "install-path", "mutex", "config-mutex"};
  std::string* fields[] = {&d.brand, &d.app, &d.installPath, &d.mutex, &d.configMutex};
  for (int i = 0; i < 5; ++i) {
    if (!s.Has(required[i]) || s.Get(required[i]).empty())
      return Error(std::string("--") + required[i] + " is required (see tqpatch make --help)");
    if (!TextFromArgument(s.Get(required[i]).c_str(), *fields[i]))
      return Error(std::string("--") + required[i] + ": the text has no Shift_JIS form");
    if (fields[i]->size() >= 260) return Error(std::string("--") + required[i] + " is longer than 259 bytes");
  }
  if (!TextFromArgument(s.Get("title", s.Get("app").c_str()).c_str(), d.title))
    return Error("--title: the text has no Shift_JIS form");
  if (s.Has("requires")) {
    if (!ParseVersion(s.Get("requires"), &d.major, &d.minor))
      return Error("--requires: expected MAJOR.MINOR, such as 1.0");
  } else {
    // Read the way the updater reads the installed version.
    std::error_code ec;
    if (!fs::exists(oldTree.system / "config" / "startup.xml", ec))
      Warning("OLD has no config/startup.xml: the package requires version 0.0 (use --requires)");
    uint32_t word = ReadInstalledVersion(oldTree.library.c_str());
    d.major = (int)(word >> 16);
    d.minor = (int)(word & 0xFFFF);
  }
  std::string list = s.Get("languages", "jp,en");
  for (size_t at = 0; at <= list.size();) {
    size_t comma = list.find(',', at);
    std::string one = Trim(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (one.empty() || one.size() > 63) return Error("--languages: expected names such as jp,en");
    if (std::find(d.languages.begin(), d.languages.end(), one) != d.languages.end())
      return Error("--languages: " + one + " is named twice");
    d.languages.push_back(one);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  d.defaultLanguage = s.Get("default-language", d.languages[0].c_str());
  if (std::find(d.languages.begin(), d.languages.end(), d.defaultLanguage) == d.languages.end())
    return Error("--default-language " + d.defaultLanguage + " is not one of --languages");
  return EXIT_OK;
}

int OptionalPath(const Settings& s, const char* key, ArgPath& out, bool* given) {
  *given = s.Has(key);
  if (!*given) return EXIT_OK;
  std::error_code ec;
  if (!PathFromArgument(s.Get(key).c_str(), out) || !fs::is_regular_file(out.system, ec))
    return Error(std::string("--") + key + " " + s.Get(key) + ": no such file");
  return EXIT_OK;
}

void Summary(const std::vector<Change>& changes, const ArgPath& out) {
  uint64_t total = 0;
  size_t added = 0;
  for (const Change& c : changes) {
    total += c.entry->size;
    added += c.added ? 1 : 0;
  }
  printf("files: %zu (%zu new, %zu changed), %s\n", changes.size(), added, changes.size() - added,
         Bytes(total).c_str());
  std::vector<Change> largest = changes;
  std::sort(largest.begin(), largest.end(),
            [](const Change& a, const Change& b) { return a.entry->size > b.entry->size; });
  if (largest.size() > 5) largest.resize(5);
  printf("largest:\n");
  for (const Change& c : largest)
    printf("  %12llu  %s\n", (unsigned long long)c.entry->size, Show(c.entry->relative).c_str());
  printf("package: %s\n", ShownPath(out.system).c_str());
}

int WritePackage(const Settings& s, const std::vector<Change>& changes, const ArgPath& newTree,
                 const ArgPath& out, tqXml& description, const ArgPath* picture, const ArgPath* exe) {
  std::error_code ec;
  fs::create_directories(out.system / "data", ec);
  if (ec) return Error(s.positional[2] + ": cannot create the folder");
  const std::string infoPath = out.library + "\\updateinfo.xml";
  description.Save(infoPath.c_str());
  if (description.Parser() && description.Parser()->Error() != 0) return Error("cannot write " + infoPath);
  uint64_t total = 0;
  for (const Change& c : changes) total += c.entry->size;
  {
    Progress progress("copying", total, s.quiet);
    for (const Change& c : changes)
      if (!CopyFileTo(c.entry->system, out.system / "data" / c.entry->system.lexically_relative(newTree.system),
                      progress))
        return Error("cannot copy " + c.entry->relative + " into the package");
  }
  int status = EXIT_OK;
  if (picture && (status = WritePicture(*picture, out.system / "updatebg.hg3")) != EXIT_OK) return status;
  if (!picture) Warning("no --picture: the updater's window will be plain");
  if (exe) {
    Progress none("", 0, true);
    if (!CopyFileTo(exe->system, out.system / "update.exe", none)) return Error("cannot copy --exe into the package");
  }
  return EXIT_OK;
}

}  // namespace

int Make(int argc, const char* const* argv) {
  for (int i = 2; i < argc; ++i)
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      fputs(kMakeUsage, stdout);
      return EXIT_OK;
    }
  Settings s;
  int status = ParseSettings(argc, argv, s);
  if (status != EXIT_OK) return status;
  if (s.positional.size() != 3) {
    fputs(kMakeUsage, stderr);
    return EXIT_USAGE;
  }
  ArgPath oldTree, newTree, out, texts, picture, exe;
  for (int i = 0; i < 3; ++i)
    if (!PathFromArgument(s.positional[(size_t)i].c_str(), i == 0 ? oldTree : i == 1 ? newTree : out))
      return Error(s.positional[(size_t)i] + ": the name has no Shift_JIS form");
  Description d;
  bool hasTexts, hasPicture, hasExe;
  if ((status = Describe(s, oldTree, d)) != EXIT_OK || (status = OptionalPath(s, "texts", texts, &hasTexts)) ||
      (status = OptionalPath(s, "picture", picture, &hasPicture)) || (status = OptionalPath(s, "exe", exe, &hasExe)))
    return status;
  std::error_code ec;
  if (fs::exists(out.system, ec) && (!fs::is_directory(out.system, ec) || !fs::is_empty(out.system, ec)))
    return Error(s.positional[2] + ": exists and is not an empty folder");
  if (!fs::is_directory(oldTree.system, ec)) return Error(s.positional[0] + ": no such folder");
  if (!fs::is_directory(newTree.system, ec)) return Error(s.positional[1] + ": no such folder");

  std::string templateText = TextTemplate();
  if (hasTexts && !ReadTextFile(texts.system, templateText)) return Error(s.Get("texts") + ": cannot read");
  tqXml description;
  description.Create();
  if ((status = BuildDescription(d, templateText, description)) != EXIT_OK) return status;

  std::vector<TreeEntry> oldEntries, newEntries;
  if (!WalkTree(oldTree.system, oldEntries) || !WalkTree(newTree.system, newEntries)) return EXIT_PROBLEM;
  std::vector<Change> changes;
  if ((status = Compare(oldEntries, newEntries, s.quiet, changes)) != EXIT_OK) return status;
  if (changes.empty()) return Error("NEW holds nothing new or changed over OLD: no package to make");

  // From here on a failure takes away the half-made package.
  const bool existed = fs::exists(out.system, ec);
  status = WritePackage(s, changes, newTree, out, description, hasPicture ? &picture : nullptr,
                        hasExe ? &exe : nullptr);
  if (status != EXIT_OK) {
    if (existed) {
      for (const fs::directory_entry& e : fs::directory_iterator(out.system, ec)) fs::remove_all(e.path(), ec);
    } else {
      fs::remove_all(out.system, ec);
    }
    return status;
  }
  printf("requires: installed version %d.%d or later\n", d.major, d.minor);
  Summary(changes, out);
  return EXIT_OK;
}

}  // namespace tqpatch
