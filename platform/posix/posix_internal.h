// Shared pieces of the POSIX backend.
#pragma once

#include <cstdint>
#include <string>

namespace tqp::posix {

// errno to the Win32 error number callers test for; also stores it.
uint32_t SetErrorFromErrno(int err);
// Seconds and nanoseconds since the Unix epoch to FILETIME and back.
uint64_t FileTimeFromUnix(int64_t seconds, long nanoseconds);
void UnixFromFileTime(uint64_t fileTime, int64_t* seconds, long* nanoseconds);
// Converts between two iconv charsets; false when a character cannot be mapped.
bool Convert(const char* from, const char* to, const char* in, size_t inBytes, std::string& out);
// DOS attribute bits kept in an extended attribute (hidden, system, archive).
uint32_t ReadDosBits(const std::string& systemPath);
void WriteDosBits(const std::string& systemPath, uint32_t bits);
// Attributes of a system path as lstat sees it: links carry
// ATTR_REPARSE_POINT, special files ATTR_DEVICE; ATTR_INVALID when missing.
uint32_t AttributesNoFollow(const std::string& systemPath, uint64_t* size, uint64_t* creation,
                            uint64_t* access, uint64_t* write);
// Attributes of a system path from stat; ATTR_INVALID when missing.
uint32_t AttributesOf(const std::string& systemPath, uint64_t* size, uint64_t* creation,
                      uint64_t* access, uint64_t* write);

}  // namespace tqp::posix
