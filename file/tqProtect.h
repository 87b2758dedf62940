// The library's keyed 64-bit block transform: Blowfish (16 rounds, standard
// initial tables and key schedule) in electronic-codebook fashion, with each
// 8-byte block read as two little-endian 32-bit halves. Archives store their
// enciphered entries in this byte order.
#pragma once

#include <cstdint>

#include "tqClassBase/tqClassBase.h"

class tqProtect : public tqClassBase {
 public:
  tqProtect() = default;
  ~tqProtect();
  tqProtect(const tqProtect&) = delete;
  tqProtect& operator=(const tqProtect&) = delete;

  // Runs the key schedule (the state is created on first use; a later call
  // re-keys it). Keys longer than 72 bytes contribute their first 72 bytes.
  // 1 on success, 0 for no key, an empty key or no memory.
  int SetKey(const void* key, uint32_t length);
  // Both work block by block, in place when destination == source. The result
  // is size, or 0 (nothing written) without a key, for null pointers, for a
  // size of 0, and for a size that is not a multiple of 8 (which also writes a
  // debug line).
  int Encrypt(void* destination, const void* source, uint32_t size);
  int Decrypt(void* destination, const void* source, uint32_t size);

  bool HasKey() const { return state_ != nullptr; }

  // One block, halves as numbers (left = bytes 0..3, right = bytes 4..7).
  void EncipherBlock(uint32_t& left, uint32_t& right) const;
  void DecipherBlock(uint32_t& left, uint32_t& right) const;

 private:
  struct State;
  bool Check(const void* destination, const void* source, uint32_t size) const;

  State* state_ = nullptr;
};
