// File version resources without the system's help: the way from a PE image
// to its RT_VERSION data, and queries on the VS_VERSIONINFO tree. Both read
// untrusted bytes, so every offset and length is checked before it is used.
#include <algorithm>
#include <cstring>

#include "platform/tqPlatform.h"

namespace tqp {

namespace {

// Little-endian reads over one byte range. A read outside the range yields 0
// and sets a sticky flag that the caller checks once per group of reads.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Has(uint64_t offset, uint64_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }
  uint16_t U16(uint64_t offset) {
    if (!Has(offset, 2)) return Fail();
    return (uint16_t)(data_[offset] | data_[offset + 1] << 8);
  }
  uint32_t U32(uint64_t offset) {
    if (!Has(offset, 4)) return Fail();
    return (uint32_t)data_[offset] | (uint32_t)data_[offset + 1] << 8 |
           (uint32_t)data_[offset + 2] << 16 | (uint32_t)data_[offset + 3] << 24;
  }
  bool Failed() const { return failed_; }
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  uint16_t Fail() {
    failed_ = true;
    return 0;
  }

  const uint8_t* data_;
  size_t size_;
  bool failed_ = false;
};

// ------------------------------------------------------------ PE image

constexpr uint16_t kDosMagic = 0x5A4D;          // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kResourceTypeVersion = 16;   // RT_VERSION
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr size_t kSectionHeaderSize = 40;

class PeImage {
 public:
  PeImage(const uint8_t* data, size_t size) : in_(data, size) {}

  // Reads the headers as far as the resource directory.
  bool Open() {
    if (!in_.Has(0, 64) || in_.U16(0) != kDosMagic) return false;
    uint64_t pe = in_.U32(0x3C);
    if (in_.U32(pe) != kPeSignature || in_.Failed()) return false;
    uint64_t coff = pe + 4;
    sectionCount_ = in_.U16(coff + 2);
    uint16_t optionalSize = in_.U16(coff + 16);
    uint64_t optional = coff + 20;
    uint16_t magic = in_.U16(optional);
    if (in_.Failed()) return false;
    // Offsets of NumberOfRvaAndSizes and of the data directories.
    uint32_t countAt, directoriesAt;
    if (magic == kPe32Magic) {
      countAt = 92;
      directoriesAt = 96;
    } else if (magic == kPe32PlusMagic) {
      countAt = 108;
      directoriesAt = 112;
    } else {
      return false;
    }
    uint64_t resourceEntry = directoriesAt + 8 * kResourceDirectoryIndex;
    if (optionalSize < resourceEntry + 8) return false;
    if (in_.U32(optional + countAt) <= kResourceDirectoryIndex) return false;
    resourceRva_ = in_.U32(optional + resourceEntry);
    uint32_t resourceSize = in_.U32(optional + resourceEntry + 4);
    sectionTable_ = optional + optionalSize;
    if (in_.Failed() || resourceRva_ == 0 || resourceSize == 0) return false;
    return in_.Has(sectionTable_, (uint64_t)sectionCount_ * kSectionHeaderSize);
  }

  // File offset of length bytes at an RVA; they must lie in one section's
  // raw data and in the file.
  bool Map(uint64_t rva, uint64_t length, uint64_t* offset) {
    for (uint32_t i = 0; i < sectionCount_; ++i) {
      uint64_t header = sectionTable_ + (uint64_t)i * kSectionHeaderSize;
      uint64_t virtualAddress = in_.U32(header + 12);
      uint64_t rawSize = in_.U32(header + 16);
      uint64_t rawOffset = in_.U32(header + 20);
      if (in_.Failed()) return false;
      if (rva < virtualAddress || rva - virtualAddress >= rawSize) continue;
      uint64_t within = rva - virtualAddress;
      if (length > rawSize - within) return false;
      if (!in_.Has(rawOffset + within, length)) return false;
      *offset = rawOffset + within;
      return true;
    }
    return false;
  }

  // The resource tree: type, name, language, then the data entry.
  bool VersionData(std::vector<uint8_t>& block) {
    uint32_t entry;
    if (!FindEntry(resourceRva_, true, kResourceTypeVersion, &entry) || !(entry & kSubdirectoryBit))
      return false;
    if (!FindEntry(resourceRva_ + (uint64_t)(entry & ~kSubdirectoryBit), false, 0, &entry) ||
        !(entry & kSubdirectoryBit))
      return false;
    if (!FindEntry(resourceRva_ + (uint64_t)(entry & ~kSubdirectoryBit), false, 0, &entry) ||
        (entry & kSubdirectoryBit))
      return false;
    uint64_t dataEntry;
    if (!Map(resourceRva_ + (uint64_t)entry, 16, &dataEntry)) return false;
    uint32_t dataRva = in_.U32(dataEntry);
    uint32_t dataSize = in_.U32(dataEntry + 4);
    uint64_t data;
    if (in_.Failed() || dataSize < 6 || !Map(dataRva, dataSize, &data)) return false;
    block.assign(in_.Data() + data, in_.Data() + data + dataSize);
    return true;
  }

 private:
  // In the directory at an RVA, the entry with a numeric identifier (byId) or
  // simply the first entry; delivers its data field.
  bool FindEntry(uint64_t directoryRva, bool byId, uint32_t id, uint32_t* value) {
    uint64_t directory;
    if (directoryRva > 0xFFFFFFFFu || !Map(directoryRva, 16, &directory)) return false;
    uint32_t named = in_.U16(directory + 12);
    uint32_t numbered = in_.U16(directory + 14);
    uint32_t total = named + numbered;
    uint64_t entries;
    if (in_.Failed() || total == 0 || !Map(directoryRva + 16, (uint64_t)total * 8, &entries))
      return false;
    if (!byId) {
      *value = in_.U32(entries + 4);
      return !in_.Failed();
    }
    // Named entries come first; numbered ones follow.
    for (uint32_t i = named; i < total; ++i) {
      uint32_t name = in_.U32(entries + (uint64_t)i * 8);
      if (!(name & kSubdirectoryBit) && name == id) {
        *value = in_.U32(entries + (uint64_t)i * 8 + 4);
        return !in_.Failed();
      }
    }
    return false;
  }

  Bytes in_;
  uint32_t sectionCount_ = 0;
  uint64_t sectionTable_ = 0;
  uint32_t resourceRva_ = 0;
};

// ------------------------------------------------------------ VS_VERSIONINFO

// One node: wLength, wValueLength, wType, a UTF-16 key with its NUL, padding
// to 4 bytes, the value, padding, then child nodes up to wLength. Offsets are
// from the start of the block.
struct Node {
  size_t start = 0, end = 0;
  size_t key = 0, keyUnits = 0;
  size_t value = 0, valueBytes = 0;
  size_t children = 0;
};

size_t Align4(size_t offset) { return (offset + 3) & ~(size_t)3; }

bool ReadNode(Bytes& in, size_t start, size_t limit, Node& node) {
  if (start > limit || limit - start < 6) return false;
  size_t length = in.U16(start);
  uint16_t valueLength = in.U16(start + 2);
  uint16_t type = in.U16(start + 4);
  if (in.Failed() || length < 6 || length > limit - start) return false;
  node.start = start;
  node.end = start + length;
  node.key = start + 6;
  size_t at = node.key;
  while (true) {
    if (node.end - at < 2) return false;  // the key has no NUL inside the node
    if (in.U16(at) == 0) break;
    at += 2;
  }
  node.keyUnits = (at - node.key) / 2;
  node.value = std::min(Align4(at + 2), node.end);
  // Texts (type 1) count UTF-16 units, binary values bytes. Some writers
  // count text in bytes too; the node's end bounds either reading.
  size_t valueBytes = type == 1 ? (size_t)valueLength * 2 : valueLength;
  node.valueBytes = std::min(valueBytes, node.end - node.value);
  node.children = std::min(Align4(node.value + node.valueBytes), node.end);
  return true;
}

bool IsAsciiLetterPair(uint16_t unit, uint8_t byte) {
  auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  return lower(unit) == lower(byte);
}

// Keys compare without regard to the case of ASCII letters.
bool KeyEquals(Bytes& in, const Node& node, const char* name, size_t nameLength) {
  bool ascii = true;
  for (size_t i = 0; i < nameLength; ++i) ascii = ascii && (uint8_t)name[i] < 0x80;
  if (ascii) {
    if (node.keyUnits != nameLength) return false;
    for (size_t i = 0; i < nameLength; ++i)
      if (!IsAsciiLetterPair(in.U16(node.key + 2 * i), (uint8_t)name[i])) return false;
    return true;
  }
  std::vector<uint16_t> units(node.keyUnits);
  for (size_t i = 0; i < node.keyUnits; ++i) units[i] = in.U16(node.key + 2 * i);
  std::string key;
  if (!NarrowFromUtf16(units.data(), units.size(), key) || key.size() != nameLength) return false;
  for (size_t i = 0; i < nameLength; ++i)
    if (!IsAsciiLetterPair((uint8_t)key[i], (uint8_t)name[i])) return false;
  return true;
}

// Follows a path such as "\StringFileInfo\041103a4\CompanyName" from the
// root node; "\" alone is the root.
bool FindNode(Bytes& in, const char* path, Node& found) {
  if (!path) return false;
  Node node;
  if (!ReadNode(in, 0, in.Size(), node)) return false;
  const char* at = path;
  while (*at) {
    if (*at == '\\') {
      ++at;
      continue;
    }
    size_t length = strcspn(at, "\\");
    bool matched = false;
    Node child;
    for (size_t p = node.children; p < node.end; p = Align4(child.end)) {
      if (!ReadNode(in, p, node.end, child)) return false;
      if (KeyEquals(in, child, at, length)) {
        matched = true;
        break;
      }
    }
    if (!matched) return false;
    node = child;
    at += length;
  }
  found = node;
  return !in.Failed();
}

}  // namespace

bool VersionBlockFromPe(const uint8_t* data, size_t size, std::vector<uint8_t>& block) {
  block.clear();
  if (!data) return false;
  PeImage image(data, size);
  if (!image.Open() || !image.VersionData(block)) {
    block.clear();
    return false;
  }
  return true;
}

bool VersionBlockTranslation(const std::vector<uint8_t>& block, uint32_t* pair) {
  Bytes in(block.data(), block.size());
  Node node;
  if (!FindNode(in, "\\VarFileInfo\\Translation", node) || node.valueBytes < 4) return false;
  uint32_t language = in.U16(node.value);
  uint32_t codePage = in.U16(node.value + 2);
  if (in.Failed()) return false;
  if (pair) *pair = language << 16 | codePage;
  return true;
}

bool VersionBlockString(const std::vector<uint8_t>& block, const char* subBlock,
                        std::string& value) {
  value.clear();
  Bytes in(block.data(), block.size());
  Node node;
  if (!FindNode(in, subBlock, node)) return false;
  std::vector<uint16_t> units;
  for (size_t i = 0; i + 1 < node.valueBytes; i += 2) {
    uint16_t unit = in.U16(node.value + i);
    if (unit == 0) break;
    units.push_back(unit);
  }
  if (in.Failed()) return false;
  if (units.empty()) return true;
  return NarrowFromUtf16(units.data(), units.size(), value);
}

}  // namespace tqp
