// The update description (updateinfo.xml) and the automatic language choice.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class tqXml;

// One language's identifier, display name and texts. Every text is cut to its
// field and terminated when the description holds a longer one.
struct LanguageEntry {
  uint16_t code;
  char lang[128];
  char wndtitle[256];
  char intoro[512];
  char success[512];
  char error_version[512];
  char error_inst[512];
  char error_copy[512];
  char sellang[512];
  char copying[512];
  char error_language[512];
  char error_boot[512];
  char error_title[512];
};

struct UpdateInfo {
  char brand[260];
  char app[260];
  char instpath[260];
  char mutex[260];
  char confmutex[260];
  char version_major[256];
  char version_minor[256];
  char default_language[64];
  // Keyed by the record's prifix, in byte order; the first record of a key wins.
  std::map<std::string, LanguageEntry> languages;
  LanguageEntry current;

  // Back to the zero-filled state of process start.
  void Clear();
};

// The process-wide description of the running updater.
UpdateInfo& TheUpdateInfo();

// Reads updateinfo.xml from the current folder; false when it cannot be opened
// or parsed.
bool LoadDescription(UpdateInfo& info);
// Fills info from an opened document.
void ReadDescription(tqXml& xml, UpdateInfo& info);
// Turns each backslash-n of text into a line feed, in place.
void RewriteLineFeeds(char* text);
// Copies the chosen entry into current; false when there is no language.
bool ChooseLanguage(UpdateInfo& info, uint16_t uiLanguage);
bool ChooseLanguage(UpdateInfo& info);
