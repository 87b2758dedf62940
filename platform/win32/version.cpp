// Win32 backend: file version resources through the system's version API.
#include <algorithm>
#include <cstring>

#include "platform/win32/win32.h"

namespace tqp {

bool VersionResource::Load(const char* file) {
  block_.clear();
  if (!file) return false;
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeA(file, &ignored);
  if (size == 0) return false;
  block_.resize(size);
  if (!::GetFileVersionInfoA(file, 0, size, block_.data())) {
    block_.clear();
    return false;
  }
  return true;
}

namespace {

// VerQueryValueA converts texts into the spare room of the block it is given,
// so every query works on its own copy and the kept block stays as loaded.
bool Query(const std::vector<uint8_t>& block, std::vector<uint8_t>& scratch, const char* subBlock,
           const uint8_t** value, size_t* length) {
  if (block.empty() || !subBlock) return false;
  scratch = block;
  void* pointer = nullptr;
  UINT units = 0;
  if (!::VerQueryValueA(scratch.data(), subBlock, &pointer, &units) || !pointer) return false;
  auto* start = static_cast<const uint8_t*>(pointer);
  // The answer must lie inside the block we handed over.
  if (start < scratch.data() || start > scratch.data() + scratch.size()) return false;
  *value = start;
  *length = std::min<size_t>(units, scratch.data() + scratch.size() - start);
  return true;
}

}  // namespace

bool VersionResource::FirstTranslation(uint32_t* pair) const {
  std::vector<uint8_t> scratch;
  const uint8_t* value = nullptr;
  size_t length = 0;
  if (!Query(block_, scratch, "\\VarFileInfo\\Translation", &value, &length) || length < 4)
    return false;
  uint16_t language = (uint16_t)(value[0] | value[1] << 8);
  uint16_t codePage = (uint16_t)(value[2] | value[3] << 8);
  if (pair) *pair = (uint32_t)language << 16 | codePage;
  return true;
}

bool VersionResource::QueryString(const char* subBlock, std::string& value) const {
  value.clear();
  std::vector<uint8_t> scratch;
  const uint8_t* text = nullptr;
  size_t length = 0;
  if (!Query(block_, scratch, subBlock, &text, &length)) return false;
  // length counts characters with the NUL for texts; stop at the NUL or the
  // end of the block, whichever comes first.
  size_t room = scratch.data() + scratch.size() - text;
  value.assign(reinterpret_cast<const char*>(text), strnlen(reinterpret_cast<const char*>(text), room));
  return true;
}

}  // namespace tqp
