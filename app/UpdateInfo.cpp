// Loading the update description and choosing the language of the run.
#include "app/UpdateInfo.h"

#include <cstdio>
#include <cstring>

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

template <size_t N>
void Text(tqXml& xml, char (&field)[N], const char* def, const char* a, const char* b = nullptr,
          const char* c = nullptr) {
  if (c)
    xml.GetStr(field, N, def, 3, a, b, c);
  else if (b)
    xml.GetStr(field, N, def, 2, a, b);
  else
    xml.GetStr(field, N, def, 1, a);
}

}  // namespace

void ReadDescription(tqXml& xml, UpdateInfo& info) {
  Text(xml, info.brand, "", "brand");
  Text(xml, info.app, "", "app");
  Text(xml, info.instpath, "", "instpath");
  Text(xml, info.mutex, "", "mutex");
  Text(xml, info.confmutex, "", "confmutex");
  Text(xml, info.version_major, "", "version", "major");
  Text(xml, info.version_minor, "", "version", "minor");
  Text(xml, info.default_language, "jp", "language", "default");

  LanguageEntry entry;
  memset(&entry, 0, sizeof entry);
  for (unsigned index = 0;; ++index) {
    char section[32];
    snprintf(section, sizeof section, "lang%02u", index);
    entry.code = (uint16_t)xml.GetInt(65535, 3, "language", section, "code");
    if (entry.code == 65535) break;
    char prifix[64];
    Text(xml, prifix, "", "language", section, "prifix");
    Text(xml, entry.lang, "", "language", section, "lang");
    Text(xml, entry.wndtitle, "", prifix, "message", "wndtitle");
    Text(xml, entry.intoro, "", prifix, "message", "intoro");
    Text(xml, entry.success, "", prifix, "message", "success");
    Text(xml, entry.error_version, "", prifix, "message", "error_version");
    Text(xml, entry.error_inst, "", prifix, "message", "error_inst");
    Text(xml, entry.error_copy, "", prifix, "message", "error_copy");
    Text(xml, entry.sellang, "", prifix, "message_sys", "sellang");
    Text(xml, entry.copying, "", prifix, "message_sys", "copying");
    Text(xml, entry.error_language, "", prifix, "message_error", "language");
    Text(xml, entry.error_boot, "", prifix, "message_error", "boot");
    Text(xml, entry.error_title, "", prifix, "message_error", "title");
    RewriteLineFeeds(entry.wndtitle);
    RewriteLineFeeds(entry.intoro);
    RewriteLineFeeds(entry.success);
    RewriteLineFeeds(entry.error_version);
    RewriteLineFeeds(entry.error_inst);
    info.languages.emplace(prifix, entry);  // a key already present keeps its first record
    memset(&entry, 0, sizeof entry);
  }
}

bool LoadDescription(UpdateInfo& info) {
  tqXml xml;
  if (!xml.Open("updateinfo.xml")) return false;
  ReadDescription(xml, info);
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

bool ChooseLanguage(UpdateInfo& info) { return ChooseLanguage(info, tqp::UserDefaultUILanguage()); }
