// The update description (updateinfo.xml) and the automatic language choice.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "app/Refusal.h"

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
  // Every text of the record's "message" group (wndtitle, intoro, success,
  // error_version, error_inst, error_copy) was present in the description.
  bool messages_complete;
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

// The description is refused rather than read above this size, and at most
// this many language records are read (lang00 to lang63).
constexpr uint32_t kMaxDescriptionBytes = 4u << 20;
constexpr unsigned kMaxLanguageRecords = 64;

// Reads updateinfo.xml from the current folder; false when it cannot be opened
// (FIFOs and devices do not open), is larger than kMaxDescriptionBytes, does
// not parse, was cut before its root element's end tag, or holds a required
// version number outside 0 to 65535. The reason goes to *why when given.
bool LoadDescription(UpdateInfo& info, Refusal* why = nullptr);
// Fills info from an opened document; the language records are found through
// an index, so the time grows with the document's size, not its square.
// False only when memory ran out.
bool ReadDescription(tqXml& xml, UpdateInfo& info);
// Turns each backslash-n of text into a line feed, in place.
void RewriteLineFeeds(char* text);
// Copies the chosen entry into current; false when there is no language.
bool ChooseLanguage(UpdateInfo& info, uint16_t uiLanguage);
// The choice for the user's language, as the updater makes it: also false
// (with current set, so its error_language can be shown) when the chosen
// record lacks any text of its "message" group, which the flow's boxes need.
bool ChooseLanguage(UpdateInfo& info, Refusal* why = nullptr);
