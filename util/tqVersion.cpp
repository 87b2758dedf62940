// Version information of a program file: the twelve strings and the file
// version numbers parsed from the FileVersion text.
#include <cstdio>
#include <cstring>

#include "util/tqUtil.h"

namespace {

const char* const kNames[12] = {
    "Comments",        "CompanyName",      "FileDescription", "FileVersion",
    "InternalName",    "LegalCopyright",   "LegalTrademarks", "OriginalFilename",
    "ProductName",     "ProductVersion",   "PrivateBuild",    "SpecialBuild",
};

char* Field(tqVersionInfo* info, int i) { return reinterpret_cast<char*>(info) + 256 * i; }

}  // namespace

void tqParseFileVersion(const char* text, tqVersionInfo* info) {
  if (!info) return;
  memset(info->version, 0, sizeof info->version);
  if (!text) return;
  const char* rest = text;
  for (int piece = 0; piece < 4; ++piece) {
    const char* end;
    if (piece < 3) {
      const char* comma = strchr(rest, ',');
      end = comma ? comma : strchr(rest, '.');
      if (!end) break;
    } else {
      end = rest + strlen(rest);
    }
    char buffer[64];
    size_t n = (size_t)(end - rest);
    if (n > sizeof buffer - 1) n = sizeof buffer - 1;
    memcpy(buffer, rest, n);
    buffer[n] = 0;
    const char* p = buffer;
    while (*p == ' ' || *p == '\t') ++p;
    int value = 0, stop = 0;
    if (!tqNumberEnd(p, &value, &stop)) value = 0;
    info->version[3 - piece] = (uint16_t)value;
    if (piece < 3) rest = end + 1;
  }
}

bool tqReadVersionInfo(const char* file, tqVersionInfo* info) {
  if (!info) return false;
  memset(info, 0, sizeof *info);
  if (!file) return false;
  tqp::VersionResource resource;
  if (!resource.Load(file)) return false;
  uint32_t pair = 0;
  if (resource.FirstTranslation(&pair)) {
    for (int i = 0; i < 12; ++i) {
      char subBlock[96];
      snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%08x\\%s", (unsigned)pair, kNames[i]);
      std::string value;
      if (!resource.QueryString(subBlock, value)) continue;
      size_t n = value.size() < 255 ? value.size() : 255;
      memcpy(Field(info, i), value.data(), n);
      Field(info, i)[n] = 0;
    }
  }
  DebugPrint("version : %s", info->fileVersion);
  tqParseFileVersion(info->fileVersion, info);
  return true;
}
