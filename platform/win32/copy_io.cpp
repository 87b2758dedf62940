// Win32 side of the copy engine's services.
#include <windows.h>

#include "platform/tqCopyIo.h"

namespace tqp {

void* VirtualReserve(size_t size) {
  if (size == 0) return nullptr;
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void VirtualRelease(void* block, size_t) {
  if (block) VirtualFree(block, 0, MEM_RELEASE);
}

// Unbuffered transfers on Windows need whole sectors of the volume, which the
// caller already asked for.
uint32_t FileDirectIoAlignment(FileHandle) { return 0; }

}  // namespace tqp
