// POSIX side of the copy engine's services: anonymous mappings for buffers and
// the direct-I/O alignment the kernel reports for a file.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/tqCopyIo.h"

namespace tqp {

void* VirtualReserve(size_t size) {
  if (size == 0) return nullptr;
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void VirtualRelease(void* block, size_t size) {
  if (block) munmap(block, size);
}

uint32_t FileDirectIoAlignment(FileHandle h) {
#if defined(STATX_DIOALIGN)
  struct statx sx = {};
  if (statx((int)h, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 && (sx.stx_mask & STATX_DIOALIGN))
    return std::max(sx.stx_dio_offset_align, sx.stx_dio_mem_align);
#else
  (void)h;
#endif
  return 0;
}

}  // namespace tqp
