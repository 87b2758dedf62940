// Readers of the text files behind the POSIX system information: profile (INI)
// files and /proc/cpuinfo. Both take untrusted bytes and never read past size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tqp {

// The value of key in [section] of an INI text (names compared without regard
// to the case of ASCII letters, a double-byte character kept whole; blanks
// around names and values dropped, one pair of enclosing quotes removed).
// Writes at most outSize - 1 bytes and a NUL; returns the bytes written.
uint32_t ProfileValueFromText(const char* text, size_t size, const char* section, const char* key,
                              char* out, size_t outSize);

// The first "model name" and "cpu MHz" of a /proc/cpuinfo text.
void CpuInfoFromText(const char* text, size_t size, char* name, size_t nameSize,
                     uint32_t* megahertz);

}  // namespace tqp
