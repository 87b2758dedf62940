// Win32 backend: special folders, the temporary and Windows folders, and the
// per-user "Shell Folders" registry values.
#include <cstring>

#include "platform/win32/win32.h"

// After windows.h: the shell headers need its types.
#include <shlobj.h>
#undef CreateDirectory

namespace tqp {

bool GetSpecialFolder(int csidl, char* out, size_t size) {
  if (!out || size == 0) return false;
  char path[MAX_PATH] = {};
  // The folder-path query with the current user's token and the current path
  // first; the older special-folder query when that fails.
  bool found = SUCCEEDED(::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path));
  if (!found) {
    path[0] = 0;
    found = ::SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE) != 0;
  }
  if (found) {
    path[MAX_PATH - 1] = 0;
    return win32::CopyOut(path, out, size);
  }
  out[0] = 0;
  return false;
}

bool GetTempPath(char* out, size_t size) {
  if (!out || size == 0) return false;
  DWORD n = ::GetTempPathA((DWORD)size, out);
  if (n == 0 || n >= size) {
    out[0] = 0;
    return false;
  }
  return true;
}

bool GetWindowsDirectory(char* out, size_t size) {
  if (!out || size == 0) return false;
  UINT n = ::GetWindowsDirectoryA(out, (UINT)size);
  if (n == 0 || n >= size) {
    out[0] = 0;
    return false;
  }
  return true;
}

bool GetShellFolderValue(const char* valueName, char* out, size_t size) {
  if (!valueName || !out || size == 0) return false;
  out[0] = 0;
  HKEY key;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  // At most 260 bytes, and the stored text need not end with a NUL.
  char value[MAX_PATH + 1] = {};
  DWORD type = 0, length = MAX_PATH;
  LONG status = ::RegQueryValueExA(key, valueName, nullptr, &type,
                                   reinterpret_cast<BYTE*>(value), &length);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  value[length < MAX_PATH ? length : MAX_PATH] = 0;
  return win32::CopyOut(value, out, size);
}

}  // namespace tqp
