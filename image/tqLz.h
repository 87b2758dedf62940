// TQLZ, the dictionary coder of TQF pictures: greedy LZ77 over a window of
// 2^(13 - mode) positions with matches of 3 to 2^(3 + mode) + 2 bytes.
//
// Stream (little-endian): "TQLZ", mode, raw length, flag byte count F, data
// byte count D, flag offset (28), data offset (28 + F), then the flag bytes
// (one bit per token from bit 0: 1 a match, 0 a literal) and the data bytes
// (a literal byte, or a 16-bit word ((distance - 1) << length bits) |
// (count - 3) for a match).
#pragma once

#include <cstdint>

using tqLzProgress = void (*)(uint32_t done, uint32_t total, void* user);

// Stream length (28 + F + D), the stream written to output when given; 0
// when the mode is not 0 to 4 or the working memory cannot be had.
uint32_t tqLzCompress(const uint8_t* input, uint32_t length, uint8_t* output, int mode,
                      tqLzProgress progress = nullptr, void* user = nullptr);

// Raw length of the stream, the bytes written to output when given (output
// holds the raw length); 0 when the stream is not TQLZ or is broken: too
// short for its counts, a match reaching before the start of the output, or
// fewer tokens than the raw length needs. Matches that run past the raw
// length are cut there.
uint32_t tqLzDecompress(const uint8_t* stream, uint32_t streamLength, uint8_t* output,
                        tqLzProgress progress = nullptr, void* user = nullptr);

// The largest raw length a stream of F flag bytes can describe in a mode:
// every token a longest match.
uint64_t tqLzMostRaw(uint32_t flagBytes, int mode);
