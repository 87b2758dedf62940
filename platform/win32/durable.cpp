// Durable renames, flushes, free space and the locked-file probe on Windows:
// the system's own calls, which keep these promises directly.
#include "platform/tqDurable.h"
#include "platform/win32/win32.h"

namespace tqp {

bool FlushFileByName(const char* path) {
  if (!path) return false;
  HANDLE h = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BOOL ok = ::FlushFileBuffers(h);
  DWORD error = ::GetLastError();
  ::CloseHandle(h);
  if (!ok) ::SetLastError(error);
  return ok != 0;
}

// The system writes behind on its own; FlushFileBuffers waits for the rest.
void StartWriteback(const char*) {}

bool FlushFolder(const char* path) {
  DWORD attributes = path ? ::GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MoveReplace(const char* from, const char* to) {
  return from && to &&
         ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool VolumeFreeBytes(const char* path, uint64_t* bytes) {
  ULARGE_INTEGER available;
  if (!path || !bytes || !::GetDiskFreeSpaceExA(path, &available, nullptr, nullptr)) return false;
  *bytes = available.QuadPart;
  return true;
}

uint32_t ProbeExclusiveWrite(const char* path) {
  if (!path) return ERROR_INVALID_PARAMETER;
  // No sharing: any other open handle (a running launcher, an overlay, a
  // scanner) makes this fail with a sharing violation.
  HANDLE h = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
  ::CloseHandle(h);
  return ERROR_SUCCESS;
}

void KillSelfForTests() {
  ::TerminateProcess(::GetCurrentProcess(), 9);
  ::ExitProcess(9);
}

void StopSelfForTests() {}

}  // namespace tqp
