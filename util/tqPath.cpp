// Joining and taking apart paths, folder trees and special folders.
#include <cstdarg>
#include <cstring>

#include "util/tqUtil.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Index of the last "\" or "/" that is not a trail byte, or -1.
int LastSeparator(const char* path) {
  int last = -1;
  for (int i = 0; path[i]; ++i) {
    if (tqIsLeadByte((unsigned char)path[i]) && path[i + 1]) {
      ++i;
      continue;
    }
    if (IsSeparator(path[i])) last = i;
  }
  return last;
}

// True when text[0..len) ends with a backslash that is not a trail byte.
bool EndsWithBackslash(const char* text, size_t len) {
  if (!len || text[len - 1] != '\\') return false;
  size_t i = 0;
  while (i < len - 1) i += tqIsLeadByte((unsigned char)text[i]) ? 2 : 1;
  return i == len - 1;
}

}  // namespace

int tqPathJoin(char* out, int n, ...) {
  if (!out) return 0;
  out[0] = 0;
  if (n <= 0) return 0;
  va_list args;
  va_start(args, n);
  const char* first = va_arg(args, const char*);
  if (!first) first = "";
  size_t len = strlen(first);
  memcpy(out, first, len + 1);
  if (EndsWithBackslash(out, len)) {
    bool driveRoot = len == 3 && out[1] == ':';
    bool doubleRoot = len == 2 && out[0] == '\\';
    if (driveRoot || doubleRoot) {
      while (EndsWithBackslash(out, len)) out[--len] = 0;
    } else {
      out[--len] = 0;
    }
  }
  for (int i = 1; i < n; ++i) {
    const char* part = va_arg(args, const char*);
    if (!part) part = "";
    out[len++] = '\\';
    size_t plen = strlen(part);
    memcpy(out + len, part, plen + 1);
    len += plen;
    if (EndsWithBackslash(out, len)) out[--len] = 0;
  }
  va_end(args);
  return (int)len;
}

bool tqPathJoinSized(char* out, size_t outSize, const char* a, const char* b) {
  if (!out || !outSize) return false;
  if (!a) a = "";
  if (!b) b = "";
  const size_t whole = strlen(a);
  size_t first = whole;
  // tqPathJoin copies the first part whole before it trims it; the trimmed
  // part, a separator, the second part and the terminator must fit too (the
  // second part's trailing backslash only ever shortens the result).
  if (EndsWithBackslash(a, first)) {
    bool root = (first == 3 && a[1] == ':') || (first == 2 && a[0] == '\\');
    if (root)
      while (EndsWithBackslash(a, first)) --first;
    else
      --first;
  }
  size_t second = strlen(b);
  if (whole >= outSize || second >= outSize - first || outSize - first - second < 2) {
    out[0] = 0;
    return false;
  }
  tqPathJoin(out, 2, a, b);
  return true;
}

void tqChangeExtension(char* path, const char* ext) {
  if (!path) return;
  char* dot = const_cast<char*>(tqExtensionOf(path));
  if (dot > path && dot[-1] == '.') dot[-1] = 0;
  if (ext) {
    strcat(path, ".");
    strcat(path, ext);
  }
}

const char* tqExtensionOf(const char* path) {
  if (!path) return nullptr;
  int sep = LastSeparator(path);
  const char* dot = nullptr;
  for (const char* p = path + sep + 1; *p; ++p) {
    if (tqIsLeadByte((unsigned char)*p) && p[1]) {
      ++p;
      continue;
    }
    if (*p == '.') dot = p;
  }
  return dot ? dot + 1 : path + strlen(path);
}

bool tqHasExtension(const char* path) {
  if (!path) return false;
  const char* ext = tqExtensionOf(path);
  return ext > path && ext[-1] == '.';
}

void tqFileNameOf(const char* path, char* out) {
  if (!path || !out) return;
  int sep = LastSeparator(path);
  strcpy(out, sep <= 0 ? path : path + sep + 1);
}

bool tqParentFolderOf(const char* path, char* out) {
  if (!out) return false;
  out[0] = 0;
  if (!path) return false;
  int sep = LastSeparator(path);
  if (sep <= 0) return false;
  memcpy(out, path, (size_t)sep);
  out[sep] = 0;
  return true;
}

int tqExists(const char* path) {
  if (!path) return 0;
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst(path, data);
  if (!h) return 0;
  tqp::FindClose(h);
  return (data.attributes & tqp::ATTR_DIRECTORY) ? 2 : 1;
}

bool tqCreateFolderTree(const char* path, bool isFile) {
  if (!path) return false;
  char target[260];
  if (isFile) {
    if (!tqParentFolderOf(path, target)) return false;
  } else {
    if (strlen(path) >= sizeof target) return false;
    strcpy(target, path);
  }
  if (strlen(target) == 2 && target[1] == ':') return true;
  // The folder as it stands, without a trailing separator.
  size_t len = strlen(target);
  while (len > 1 && EndsWithBackslash(target, len)) target[--len] = 0;
  if (strlen(target) == 2 && target[1] == ':') return true;
  uint32_t attributes = tqp::GetAttributes(target);
  if (attributes != tqp::ATTR_INVALID) return (attributes & tqp::ATTR_DIRECTORY) != 0;
  char parent[260];
  if (tqParentFolderOf(target, parent) && !tqCreateFolderTree(parent, false)) return false;
  return tqp::CreateDirectory(target);
}

bool tqShellFolder(int index, char* out) {
  if (!out) return false;
  struct Row {
    int csidl;
    const char* valueName;
  };
  static const Row rows[] = {
      {16, "Desktop"}, {25, nullptr},  {11, "Start Menu"}, {2, "Programs"},
      {23, nullptr},   {5, "Personal"}, {-1, nullptr},     {-2, nullptr},
      {35, "AppData"}, {26, "AppData"}, {38, nullptr},     {39, "My Pictures"},
  };
  if (index < 0 || index >= (int)(sizeof rows / sizeof rows[0])) return false;
  const Row& row = rows[index];
  if (row.csidl == -1) return tqp::GetTempPath(out, 260);
  if (row.csidl == -2) return tqp::GetWindowsDirectory(out, 260);
  if (tqp::GetSpecialFolder(row.csidl, out, 260)) return true;
  return row.valueName && tqp::GetShellFolderValue(row.valueName, out, 260);
}
