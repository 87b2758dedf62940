// Bounds-checked little-endian reads over an encoded buffer, shared by the
// format readers of this folder.
#pragma once

#include <cstdint>
#include <cstring>

struct tqByteView {
  const uint8_t* data = nullptr;
  uint64_t size = 0;

  // True when n bytes from offset lie inside the buffer.
  bool has(uint64_t offset, uint64_t n) const { return offset <= size && n <= size - offset; }
  uint32_t u32(uint64_t offset) const {
    uint32_t v;
    memcpy(&v, data + offset, 4);
    return v;
  }
  uint16_t u16(uint64_t offset) const {
    uint16_t v;
    memcpy(&v, data + offset, 2);
    return v;
  }
  int16_t s16(uint64_t offset) const { return (int16_t)u16(offset); }
  int32_t s32(uint64_t offset) const { return (int32_t)u32(offset); }
};

inline void tqPut32(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }
inline void tqPut16(uint8_t* p, uint16_t v) { memcpy(p, &v, 2); }
