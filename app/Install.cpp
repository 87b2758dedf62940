// Installation lookup and installed version, read as plain text: only the
// first occurrences of fixed tags matter.
#include "app/Install.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "file/tqFile.h"
#include "util/tqUtil.h"

char* TheInstallFolder() {
  static char folder[260];
  return folder;
}

bool ReadWholeFile(const char* path, char** buffer, uint32_t* size, uint32_t maxSize) {
  *buffer = nullptr;
  *size = 0;
  tqFile file;
  if (!file.Open(path, TQFILE_READ | TQFILE_EXISTING)) return false;
  int length = file.GetSize();
  if (length < 0 || (uint32_t)length > maxSize) {
    DebugPrint("%s : %d bytes, more than the %u the updater reads", path, length, maxSize);
    return false;
  }
  char* data = static_cast<char*>(calloc((size_t)length + 8, 1));
  if (!data) return false;
  int got = length ? file.Read(data, (uint32_t)length) : 0;
  if (got != length) {
    free(data);
    return false;
  }
  *buffer = data;
  *size = (uint32_t)length;
  return true;
}

void FreeWholeFile(char* buffer) { free(buffer); }

namespace {

// Copies the text between the first open and the first close tag into out
// (capacity bytes, zero-filled first). False when a tag is missing or the
// text does not fit; a close tag before the text leaves out empty.
enum class Between { Missing, TooLong, Ok };

Between TextBetween(const char* text, const char* open, const char* close, char* out,
                    size_t capacity) {
  int start = tqStrIndex(text, open);
  int end = tqStrIndex(text, close);
  if (start < 0 || end < 0) return Between::Missing;
  memset(out, 0, capacity);
  int from = start + (int)strlen(open);
  if (end <= from) return Between::Ok;
  size_t length = (size_t)(end - from);
  if (length >= capacity) return Between::TooLong;
  memcpy(out, text + from, length);
  return Between::Ok;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The version texts of startup.xml as 16-bit fields; false when one is out of
// range. A missing tag counts as 0.
bool TagField(const char* text, const char* open, const char* close, uint16_t* field) {
  char value[260];
  *field = 0;
  int start = tqStrIndex(text, open);
  int end = tqStrIndex(text, close);
  if (start < 0 || end < 0) return true;
  memset(value, 0, sizeof value);
  int from = start + (int)strlen(open);
  if (end > from) {
    // Only the leading number counts, so a longer text is cut to the buffer;
    // a number cut there still has more digits than any field holds.
    size_t length = (size_t)(end - from);
    memcpy(value, text + from, length < sizeof value - 1 ? length : sizeof value - 1);
  }
  return ParseVersionField(value, field);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool ExtractInstallFolder(const char* text, char* folder) {
  char found[260];
  if (TextBetween(text, "<path>", "</path>", found, sizeof found) != Between::Ok) return false;
  memcpy(folder, found, sizeof found);
  return true;
}

bool ParseVersionField(const char* text, uint16_t* field) {
  *field = 0;
  if (!text) return true;
  size_t i = 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  uint32_t value = 0;
  bool over = false;
  if (text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    for (i += 2; HexDigit(text[i]) >= 0; ++i) {
      value = value * 16 + (uint32_t)HexDigit(text[i]);
      if (value > 0xFFFF) over = true, value = 0x10000;
    }
  } else {
    // The number parser's other texts read as 0: no digit first, or "12.".
    if (text[i] < '0' || text[i] > '9') return true;
    for (; text[i] >= '0' && text[i] <= '9'; ++i) {
      value = value * 10 + (uint32_t)(text[i] - '0');
      if (value > 0xFFFF) over = true, value = 0x10000;
    }
    if (text[i] == '.') return true;
  }
  if (over || (negative && value != 0)) return false;
  *field = (uint16_t)value;
  return true;
}

bool NormaliseInstallFolder(char* folder, Refusal* why) {
  const std::string original = folder;
  auto refuse = [&](Refusal::Kind kind) {
    if (why) why->Set(kind, original);
    return false;
  };
  unsigned char letter = (unsigned char)(folder[0] | 0x20);
  if (letter < 'a' || letter > 'z' || folder[1] != ':' || !IsSeparator(folder[2]))
    return refuse(Refusal::NOT_ABSOLUTE);
  // The parts after "X:\", split at separators that are not trail bytes.
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 3;; ++i) {
    if (folder[i] && tqIsDoubleByte(folder, i)) {
      part.append(folder + i, 2);
      ++i;
      continue;
    }
    if (folder[i] && !IsSeparator(folder[i])) {
      part += folder[i];
      continue;
    }
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
    if (!folder[i]) break;
  }
  std::string out(folder, 2);
  out += '\\';
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
  if (out.size() >= 260) return refuse(Refusal::PATH_TOO_LONG);
  memset(folder, 0, 260);
  memcpy(folder, out.c_str(), out.size());
  return true;
}

bool LookupInstallation(const char* brand, const char* app, char* folder, Refusal* why) {
  char path[1024];
  if (!InstallRecordPath(brand, app, path, sizeof path)) return false;
  char* text;
  uint32_t size;
  if (!ReadWholeFile(path, &text, &size)) return false;
  char found[260];
  bool ok = ExtractInstallFolder(text, found);
  FreeWholeFile(text);
  if (!ok || !NormaliseInstallFolder(found, why)) return false;
  uint32_t attributes = tqp::GetAttributes(found);
  if (attributes == tqp::ATTR_INVALID || !(attributes & tqp::ATTR_DIRECTORY)) {
    if (why) why->Set(Refusal::NOT_A_FOLDER, found);
    return false;
  }
  memcpy(folder, found, sizeof found);
  return true;
}

uint32_t VersionWordFromText(const char* text) {
  uint16_t major, minor;
  if (!TagField(text, "<major>", "</major>", &major) || !TagField(text, "<minor>", "</minor>", &minor))
    return 0;
  return VersionWord(major, minor);
}

bool RequiredVersion(const char* major, const char* minor, uint32_t* word) {
  uint16_t a, b;
  *word = 0xFFFFFFFFu;
  if (!ParseVersionField(major, &a) || !ParseVersionField(minor, &b)) return false;
  *word = VersionWord(a, b);
  return true;
}

uint32_t RequiredVersion(const char* major, const char* minor) {
  uint32_t word;
  RequiredVersion(major, minor, &word);
  return word;
}

uint32_t ReadInstalledVersion(const char* folder) {
  char config[1024], path[1024];
  if (!tqPathJoinSized(config, sizeof config, folder, "config") ||
      !tqPathJoinSized(path, sizeof path, config, "startup.xml"))
    return 0;
  char* text;
  uint32_t size;
  if (!ReadWholeFile(path, &text, &size)) return 0;
  uint32_t word = VersionWordFromText(text);
  FreeWholeFile(text);
  return word;
}

bool InstallRecordPath(const char* brand, const char* app, char* path, uint32_t capacity) {
  char shared[260];
  if (!tqShellFolder(8, shared)) return false;
  char name[300];
  snprintf(name, sizeof name, "%s.xml", app ? app : "");
  char brandFolder[1024];
  return tqPathJoinSized(brandFolder, sizeof brandFolder, shared, brand ? brand : "") &&
         tqPathJoinSized(path, capacity, brandFolder, name);
}
