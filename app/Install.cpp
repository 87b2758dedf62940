// Installation lookup and installed version, read as plain text: only the
// first occurrences of fixed tags matter.
#include "app/Install.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "file/tqFile.h"
#include "util/tqUtil.h"

char* TheInstallFolder() {
  static char folder[260];
  return folder;
}

bool ReadWholeFile(const char* path, char** buffer, uint32_t* size) {
  *buffer = nullptr;
  *size = 0;
  tqFile file;
  if (!file.Open(path, TQFILE_READ | TQFILE_EXISTING)) return false;
  int length = file.GetSize();
  if (length < 0) return false;
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

int TagNumber(const char* text, const char* open, const char* close) {
  char value[260];
  int start = tqStrIndex(text, open);
  int end = tqStrIndex(text, close);
  if (start < 0 || end < 0) return 0;
  memset(value, 0, sizeof value);
  int from = start + (int)strlen(open);
  if (end > from) {
    // Only the leading number counts, so a longer text is cut to the buffer.
    size_t length = (size_t)(end - from);
    memcpy(value, text + from, length < sizeof value - 1 ? length : sizeof value - 1);
  }
  return tqNumber(value);
}

}  // namespace

bool ExtractInstallFolder(const char* text, char* folder) {
  char found[260];
  if (TextBetween(text, "<path>", "</path>", found, sizeof found) != Between::Ok) return false;
  memcpy(folder, found, sizeof found);
  return true;
}

bool LookupInstallation(const char* brand, const char* app, char* folder) {
  char path[1024];
  if (!InstallRecordPath(brand, app, path, sizeof path)) return false;
  char* text;
  uint32_t size;
  if (!ReadWholeFile(path, &text, &size)) return false;
  bool ok = ExtractInstallFolder(text, folder);
  FreeWholeFile(text);
  return ok;
}

uint32_t VersionWord(int major, int minor) { return (uint32_t)major << 16 | (uint32_t)minor; }

uint32_t VersionWordFromText(const char* text) {
  return VersionWord(TagNumber(text, "<major>", "</major>"), TagNumber(text, "<minor>", "</minor>"));
}

uint32_t RequiredVersion(const char* major, const char* minor) {
  return VersionWord(tqNumber(major), tqNumber(minor));
}

uint32_t ReadInstalledVersion(const char* folder) {
  char path[1024];
  if (strlen(folder) + 32 > sizeof path) return 0;
  tqPathJoin(path, 3, folder, "config", "startup.xml");
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
