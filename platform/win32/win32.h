// Private header of the Win32 backend: our declarations first, then the
// system's, minus the A/W macros that would rename our functions.
#pragma once

#include "platform/tqPlatform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// On x86_64 winnt.h defines ReadTimeStampCounter() as a macro for __rdtsc(),
// which would rename our own function of that name.
#undef ReadTimeStampCounter

#undef CreateDirectory
#undef CreateEvent
#undef DeleteFile
#undef GetCurrentDirectory
#undef GetModuleFileName
#undef GetTempPath
#undef GetWindowsDirectory
#undef MessageBox
#undef MoveFile
#undef RemoveDirectory
#undef SetCurrentDirectory

namespace tqp::win32 {

inline HANDLE ToHandle(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

// FILETIME <-> the 64-bit count the library keeps.
inline uint64_t FromFileTime(const FILETIME& ft) {
  return (uint64_t)ft.dwHighDateTime << 32 | ft.dwLowDateTime;
}
inline FILETIME ToFileTime(uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)value;
  ft.dwHighDateTime = (DWORD)(value >> 32);
  return ft;
}

// Copies a NUL-terminated text into a caller's buffer; false when it does not
// fit (the buffer then holds an empty text).
bool CopyOut(const char* text, char* out, size_t size);

// Registry of handles opened with FILE_FLAG_NO_BUFFERING (see FileIsUnbuffered).
void RememberUnbuffered(HANDLE h);
void ForgetUnbuffered(HANDLE h);
bool IsUnbuffered(HANDLE h);

}  // namespace tqp::win32
