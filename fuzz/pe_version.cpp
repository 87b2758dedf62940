// Fuzz target for the version-resource readers: every input is tried both as
// a PE image and as a raw VS_VERSIONINFO block, and queried like the library
// queries real files.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/tqPlatform.h"

namespace {

void Query(const std::vector<uint8_t>& block) {
  uint32_t pair = 0;
  std::string value;
  if (tqp::VersionBlockTranslation(block, &pair)) {
    char path[64];
    snprintf(path, sizeof path, "\\StringFileInfo\\%08x\\CompanyName", (unsigned)pair);
    tqp::VersionBlockString(block, path, value);
  }
  static const char* const kPaths[] = {
      "\\", "\\StringFileInfo\\041103a4\\FileVersion", "\\StringFileInfo\\040904b0\\CompanyName",
      "VarFileInfo\\Translation", "\\StringFileInfo\\\x95\x5C\x8E\xA6",
  };
  for (const char* path : kPaths) tqp::VersionBlockString(block, path, value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> block;
  if (tqp::VersionBlockFromPe(data, size, block)) Query(block);
  Query(std::vector<uint8_t>(data, data + size));
  return 0;
}
