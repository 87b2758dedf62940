// Loading the update description and choosing the language of the run.
#include "app/UpdateInfo.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <unordered_map>
#include <vector>

#include "app/Install.h"
#include "file/tqFile.h"
#include "platform/tqPlatform.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

void UpdateInfo::Clear() {
  memset(brand, 0, sizeof brand);
  memset(app, 0, sizeof app);
  memset(instpath, 0, sizeof instpath);
  memset(mutex, 0, sizeof mutex);
  memset(confmutex, 0, sizeof confmutex);
  memset(version_major, 0, sizeof version_major);
  memset(version_minor, 0, sizeof version_minor);
  memset(default_language, 0, sizeof default_language);
  languages.clear();
  memset(&current, 0, sizeof current);
}

UpdateInfo& TheUpdateInfo() {
  static UpdateInfo* info = [] {
    auto* created = new UpdateInfo;
    created->Clear();
    return created;
  }();
  return *info;
}

void RewriteLineFeeds(char* text) {
  char scratch[1024];
  size_t n = strnlen(text, sizeof scratch - 1);
  memcpy(scratch, text, n);
  scratch[n] = 0;
  size_t out = 0;
  for (size_t i = 0; i < n; ++i) {
    // The trail byte of a double-byte character (表 is 95 5C) is no backslash.
    if (tqIsDoubleByte(scratch, i)) {
      text[out++] = scratch[i++];
      text[out++] = scratch[i];
      continue;
    }
    if (scratch[i] == '\\' && scratch[i + 1] == 'n') {
      text[out++] = '\n';
      ++i;
    } else {
      text[out++] = scratch[i];
    }
  }
  text[out] = 0;
}

namespace {

// Answers path queries as tqXml's reads do (depth first over same-named
// siblings, in sequence order, below a lone top-level "document"), with each
// sequence indexed by name on first use and whole answers remembered: the
// description's many queries then cost about the size of the document.
class DescriptionIndex {
 public:
  explicit DescriptionIndex(const tqXml& xml) {
    const tqXmlNodeList* top = xml.Top();
    if (top && top->size() == 1 && (*top)[0].name == "document") top = (*top)[0].children;
    start_ = top;
  }

  const tqXmlNode* Find(std::initializer_list<const char*> names) {
    std::vector<std::string> path(names.begin(), names.end());
    std::string key;
    for (const std::string& name : path) key += name + '\x01';
    auto known = answers_.find(key);
    if (known != answers_.end()) return known->second;
    const tqXmlNode* found = FindFrom(start_, path, 0);
    answers_.emplace(std::move(key), found);
    return found;
  }

 private:
  using Named = std::unordered_map<std::string, std::vector<const tqXmlNode*>>;

  const tqXmlNode* FindFrom(const tqXmlNodeList* list, const std::vector<std::string>& path,
                            size_t depth) {
    if (!list || depth >= path.size() || path[depth].empty()) return nullptr;
    auto indexed = index_.find(list);
    if (indexed == index_.end()) {
      Named named;
      for (const tqXmlNode& node : *list) named[node.name].push_back(&node);
      indexed = index_.emplace(list, std::move(named)).first;
    }
    auto candidates = indexed->second.find(path[depth]);
    if (candidates == indexed->second.end()) return nullptr;
    for (const tqXmlNode* node : candidates->second) {
      if (depth + 1 == path.size()) return node;
      if (const tqXmlNode* found = FindFrom(node->children, path, depth + 1)) return found;
    }
    return nullptr;
  }

  const tqXmlNodeList* start_ = nullptr;
  std::unordered_map<const tqXmlNodeList*, Named> index_;
  std::unordered_map<std::string, const tqXmlNode*> answers_;
};

// Copies the element's text (cut like tqXml::GetStr) or def into field;
// true when the element was there.
template <size_t N>
bool Text(DescriptionIndex& index, char (&field)[N], const char* def,
          std::initializer_list<const char*> names) {
  const tqXmlNode* node = index.Find(names);
  const char* text = node ? node->value.c_str() : def;
  size_t length = node ? node->value.size() : strlen(def);
  size_t n = 0;
  while (n < length) {
    size_t step = tqIsDoubleByte(text, n) && n + 1 < length ? 2 : 1;
    if (n + step > N - 1) break;
    n += step;
  }
  memmove(field, text, n);
  field[n] = 0;
  return node != nullptr;
}

void ReadRecordTexts(DescriptionIndex& index, const char* prifix, LanguageEntry& entry) {
  bool all = true;
  all &= Text(index, entry.wndtitle, "", {prifix, "message", "wndtitle"});
  all &= Text(index, entry.intoro, "", {prifix, "message", "intoro"});
  all &= Text(index, entry.success, "", {prifix, "message", "success"});
  all &= Text(index, entry.error_version, "", {prifix, "message", "error_version"});
  all &= Text(index, entry.error_inst, "", {prifix, "message", "error_inst"});
  all &= Text(index, entry.error_copy, "", {prifix, "message", "error_copy"});
  entry.messages_complete = all;
  Text(index, entry.sellang, "", {prifix, "message_sys", "sellang"});
  Text(index, entry.copying, "", {prifix, "message_sys", "copying"});
  Text(index, entry.error_language, "", {prifix, "message_error", "language"});
  Text(index, entry.error_boot, "", {prifix, "message_error", "boot"});
  Text(index, entry.error_title, "", {prifix, "message_error", "title"});
  RewriteLineFeeds(entry.wndtitle);
  RewriteLineFeeds(entry.intoro);
  RewriteLineFeeds(entry.success);
  RewriteLineFeeds(entry.error_version);
  RewriteLineFeeds(entry.error_inst);
}

}  // namespace

bool ReadDescription(tqXml& xml, UpdateInfo& info) {
  try {
    DescriptionIndex index(xml);
    Text(index, info.brand, "", {"brand"});
    Text(index, info.app, "", {"app"});
    Text(index, info.instpath, "", {"instpath"});
    Text(index, info.mutex, "", {"mutex"});
    Text(index, info.confmutex, "", {"confmutex"});
    Text(index, info.version_major, "", {"version", "major"});
    Text(index, info.version_minor, "", {"version", "minor"});
    Text(index, info.default_language, "jp", {"language", "default"});

    LanguageEntry entry;
    memset(&entry, 0, sizeof entry);
    for (unsigned number = 0;; ++number) {
      char section[32];
      snprintf(section, sizeof section, "lang%02u", number);
      const tqXmlNode* code = index.Find({"language", section, "code"});
      if (!code || (uint16_t)tqNumber(code->value.c_str()) == 65535) break;
      if (number == kMaxLanguageRecords) {
        DebugPrint("updateinfo.xml : only the first %u language records are read",
                   kMaxLanguageRecords);
        break;
      }
      entry.code = (uint16_t)tqNumber(code->value.c_str());
      char prifix[64];
      Text(index, prifix, "", {"language", section, "prifix"});
      Text(index, entry.lang, "", {"language", section, "lang"});
      ReadRecordTexts(index, prifix, entry);
      info.languages.emplace(prifix, entry);  // a key already present keeps its first record
      memset(&entry, 0, sizeof entry);
    }
  } catch (...) {
    // Only memory can run out here.
    return false;
  }
  return true;
}

bool LoadDescription(UpdateInfo& info, Refusal* why) {
  auto refuse = [why](Refusal::Kind kind) {
    if (why) why->Set(kind, "updateinfo.xml");
    return false;
  };
  char* text;
  uint32_t size;
  uint32_t attributes = tqp::GetAttributes("updateinfo.xml");
  if (attributes != tqp::ATTR_INVALID && (attributes & tqp::ATTR_DEVICE))
    return refuse(Refusal::SPECIAL_FILE);
  if (!ReadWholeFile("updateinfo.xml", &text, &size, kMaxDescriptionBytes)) {
    tqFile file;
    bool large = file.Open("updateinfo.xml", TQFILE_READ | TQFILE_EXISTING) &&
                 (uint32_t)file.GetSize() > kMaxDescriptionBytes;
    return refuse(large ? Refusal::TOO_LARGE : Refusal::UNREADABLE);
  }
  tqXml xml;
  int opened = size ? xml.OpenMem(text, size) : 0;
  FreeWholeFile(text);
  if (!opened) return refuse(Refusal::UNREADABLE);
  // A cut file parses, but what it would have said after the cut is lost.
  if (!xml.Parser() || !xml.Parser()->RootClosed()) return refuse(Refusal::DESCRIPTION_CUT);
  if (!ReadDescription(xml, info)) return refuse(Refusal::OUT_OF_MEMORY);
  uint32_t word;
  if (!RequiredVersion(info.version_major, info.version_minor, &word))
    return refuse(Refusal::VERSION_RANGE);
  return true;
}

bool ChooseLanguage(UpdateInfo& info, uint16_t uiLanguage) {
  if (info.languages.empty()) return false;
  if (info.languages.size() == 1) {
    info.current = info.languages.begin()->second;
    return true;
  }
  for (const auto& [key, entry] : info.languages) {
    if (entry.code == uiLanguage) {
      info.current = entry;
      return true;
    }
  }
  auto it = info.languages.find(info.default_language);
  info.current = (it != info.languages.end() ? it : info.languages.begin())->second;
  return true;
}

bool ChooseLanguage(UpdateInfo& info, Refusal* why) {
  if (!ChooseLanguage(info, tqp::UserDefaultUILanguage())) return false;
  if (info.current.messages_complete) return true;
  if (why) why->Set(Refusal::MISSING_MESSAGES, "updateinfo.xml");
  return false;
}
