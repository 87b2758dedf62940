// The one home of the Shift_JIS lead-byte tests; every layer above the
// platform reaches them through here (util re-exports the narrow one as
// tqIsLeadByte).
#pragma once

namespace tqp {

// The range the system defines for its own strings: 0x81-0x9F and 0xE0-0xEF.
// Paths, archive names and texts of the library are split by this test.
inline bool IsSjisLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF); }

// The full code page 932 range, 0x81-0x9F and 0xE0-0xFC: bytes produced by
// the system's conversion, which uses the extension rows 0xF0-0xFC for some
// characters.
inline bool IsCp932LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

}  // namespace tqp
