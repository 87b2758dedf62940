// Fuzzes the readers of bytes that the probe and DDE take from outside: INI
// profiles, /proc/cpuinfo, version blocks of system libraries, and the
// messages of the DDE service. The first byte picks the reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "caps/tqCaps.h"
#include "platform/posix/dde_wire.h"
#include "platform/tqSysInfoText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t pick = data[0] % 4;
  const char* text = reinterpret_cast<const char*>(data + 1);
  const size_t n = size - 1;
  switch (pick) {
    case 0: {
      char out[256];
      tqp::ProfileValueFromText(text, n, "General", "Manufacturer", out, sizeof out);
      tqp::ProfileValueFromText(text, n, "general", "model", out, 5);
      break;
    }
    case 1: {
      char name[256];
      uint32_t mhz = 0;
      tqp::CpuInfoFromText(text, n, name, sizeof name, &mhz);
      break;
    }
    case 2: {
      uint64_t version = 0;
      tqCapsFixedFileVersion(data + 1, n, &version);
      break;
    }
    default: {
      std::vector<uint8_t> in(data + 1, data + size);
      uint8_t type = 0;
      std::vector<uint8_t> payload, bytes;
      std::string a, b;
      uint32_t id = 0, format = 0;
      bool ok = false;
      while (tqp::ddewire::TakeMessage(in, &type, payload) == 1) {
        tqp::ddewire::ParseConnect(payload, a, b);
        tqp::ddewire::ParseRequest(payload, &id, &format, a);
        tqp::ddewire::ParseData(payload, &id, &ok, bytes);
      }
      break;
    }
  }
  return 0;
}
