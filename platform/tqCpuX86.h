// Processor identification shared by both backends (GCC on x86): CPUID,
// EFLAGS toggles and the time-stamp counter. Included by platform sources only.
#pragma once

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace tqp {
namespace cpu {

inline bool CanToggleFlag(unsigned bit) {
#if defined(__x86_64__)
  // Every 64-bit processor has both the alignment-check and the ID flag.
  (void)bit;
  return true;
#elif defined(__i386__)
  uint32_t before, after;
  const uint32_t mask = 1u << bit;
  __asm__ __volatile__(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl %2, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl\n\t"
      : "=&r"(before), "=&r"(after)
      : "r"(mask)
      : "cc", "memory");
  return ((before ^ after) & mask) != 0;
#else
  (void)bit;
  return false;
#endif
}

inline void Cpuid(uint32_t leaf, uint32_t regs[4]) {
#if defined(__i386__) || defined(__x86_64__)
  __cpuid(leaf, regs[0], regs[1], regs[2], regs[3]);
#else
  regs[0] = regs[1] = regs[2] = regs[3] = 0;
  (void)leaf;
#endif
}

inline uint64_t ReadTsc() {
#if defined(__i386__) || defined(__x86_64__)
  uint32_t r[4];
  Cpuid(0, r);
  return __rdtsc();
#else
  return 0;
#endif
}

}  // namespace cpu
}  // namespace tqp
