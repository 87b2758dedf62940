// The message framing of the POSIX DDE service, kept apart so that its
// readers of bytes from other processes can be fuzzed on their own.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tqp {
namespace ddewire {

// Larger messages are refused: items are small records.
constexpr uint32_t MAX_PAYLOAD = 16u << 20;

inline uint32_t Get32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Takes one whole message off the front of a receive buffer. -1: malformed.
inline int TakeMessage(std::vector<uint8_t>& in, uint8_t* type, std::vector<uint8_t>& payload) {
  if (in.size() < 5) return 0;
  uint32_t length = Get32(in.data());
  if (length > MAX_PAYLOAD) return -1;
  if (in.size() - 5 < length) return 0;
  *type = in[4];
  payload.assign(in.begin() + 5, in.begin() + 5 + length);
  in.erase(in.begin(), in.begin() + 5 + length);
  return 1;
}

// A NUL-terminated text at offset *pos of a payload; false when unterminated.
inline bool TakeText(const std::vector<uint8_t>& p, size_t* pos, std::string& out) {
  if (*pos >= p.size()) return false;
  const void* nul = memchr(p.data() + *pos, 0, p.size() - *pos);
  if (!nul) return false;
  size_t end = (size_t)(static_cast<const uint8_t*>(nul) - p.data());
  out.assign(reinterpret_cast<const char*>(p.data()) + *pos, end - *pos);
  *pos = end + 1;
  return true;
}

// Connect: topic NUL service NUL.
inline bool ParseConnect(const std::vector<uint8_t>& p, std::string& topic, std::string& service) {
  size_t pos = 0;
  return TakeText(p, &pos, topic) && TakeText(p, &pos, service);
}

// Request: id, format, item NUL.
inline bool ParseRequest(const std::vector<uint8_t>& p, uint32_t* id, uint32_t* format,
                         std::string& item) {
  if (p.size() < 8) return false;
  *id = Get32(p.data());
  *format = Get32(p.data() + 4);
  size_t pos = 8;
  return TakeText(p, &pos, item);
}

// Data reply: id, ok byte, the item's bytes.
inline bool ParseData(const std::vector<uint8_t>& p, uint32_t* id, bool* ok,
                      std::vector<uint8_t>& data) {
  if (p.size() < 5) return false;
  *id = Get32(p.data());
  *ok = p[4] == 1;
  data.assign(p.begin() + 5, p.end());
  return true;
}

}  // namespace ddewire
}  // namespace tqp
