// Services of the copy engine beyond tqPlatform.h: page-aligned buffers from
// the system's virtual memory, and the alignment that unbuffered transfers of
// an open file really need.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/tqPlatform.h"

namespace tqp {

// Reserves and commits size bytes, read-write, page-aligned; null on failure.
void* VirtualReserve(size_t size);
// Releases a block of VirtualReserve (size as reserved).
void VirtualRelease(void* block, size_t size);

// Offset and length alignment that unbuffered reads of this handle need, 0
// when the system does not say (the volume's sector size then rules).
uint32_t FileDirectIoAlignment(FileHandle h);

}  // namespace tqp
