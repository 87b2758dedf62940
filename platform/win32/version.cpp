// Win32 backend: file version resources through the system's version API.
#include <algorithm>
#include <cstring>

#include "platform/win32/win32.h"

namespace tqp {

namespace {

// version.dll is not among the libraries the loader always takes from the
// system folder: imported, a version.dll planted beside the program (the
// updater runs elevated from a downloaded folder) would be loaded instead.
// So it is loaded by its full path in the system folder.
struct VersionApi {
  decltype(&::GetFileVersionInfoSizeA) size = nullptr;
  decltype(&::GetFileVersionInfoA) info = nullptr;
  decltype(&::VerQueryValueA) query = nullptr;
};

template <typename T>
void Resolve(HMODULE module, const char* name, T* out) {
  *out = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const VersionApi& Api() {
  static const VersionApi api = [] {
    VersionApi a;
    static const char kName[] = "\\version.dll";
    char path[MAX_PATH];
    UINT n = ::GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + sizeof kName > MAX_PATH) return a;
    memcpy(path + n, kName, sizeof kName);
    HMODULE module = ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) return a;
    Resolve(module, "GetFileVersionInfoSizeA", &a.size);
    Resolve(module, "GetFileVersionInfoA", &a.info);
    Resolve(module, "VerQueryValueA", &a.query);
    if (!a.size || !a.info || !a.query) a = VersionApi{};
    return a;
  }();
  return api;
}

}  // namespace

bool VersionResource::Load(const char* file) {
  block_.clear();
  const VersionApi& api = Api();
  if (!file || !api.size) return false;
  DWORD ignored = 0;
  DWORD size = api.size(file, &ignored);
  if (size == 0) return false;
  block_.resize(size);
  if (!api.info(file, 0, size, block_.data())) {
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
  if (!Api().query || !Api().query(scratch.data(), subBlock, &pointer, &units) || !pointer)
    return false;
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
