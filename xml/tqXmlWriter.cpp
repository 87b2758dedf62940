// Writing the XML dialect: the document model becomes a fresh parser tree,
// which is rendered as text (fixed declaration, two spaces per level, CR LF,
// nothing escaped) and written in one piece.
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "file/tqFile.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

namespace {

// Case-insensitive key of an attribute name: ASCII letters outside
// double-byte characters are folded, double-byte characters kept whole.
std::string FoldedName(const std::string& name) {
  std::string key(name);
  for (size_t i = 0; i < key.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (tqIsLeadByte(c) && i + 1 < key.size() &&
        tqIsTrailByte(static_cast<unsigned char>(key[i + 1]))) {
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      key[i] = static_cast<char>(c + 32);
    }
  }
  return key;
}

bool SameNameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && FoldedName(a) == FoldedName(b);
}

// Attributes of one element beyond this count are matched through a map, so
// that a hostile element with very many attributes stays linear.
constexpr size_t kLinearAttributes = 16;

// Puts pieces of text at a running position; bytes beyond the capacity (or
// all of them, without a buffer) are only counted.
struct TextSink {
  char* buffer;
  uint64_t capacity;
  uint64_t position = 0;

  void Put(const char* text, size_t length) {
    if (buffer && capacity) {
      size_t n = length < capacity ? length : static_cast<size_t>(capacity);
      memcpy(buffer + position, text, n);
      capacity -= n;
    }
    position += length;
  }
  void Put(const std::string& text) { Put(text.data(), text.size()); }
  void Put(const char* text) { Put(text, strlen(text)); }
  void Spaces(uint64_t count) {
    if (buffer && capacity) {
      size_t n = count < capacity ? static_cast<size_t>(count) : static_cast<size_t>(capacity);
      memset(buffer + position, ' ', n);
      capacity -= n;
    }
    position += count;
  }
};

// Largest text SaveFile writes: the file interface counts in 32-bit ints.
constexpr uint64_t kMaxText = 0x7FFFFFFFu;

}  // namespace

bool tqXmlParser::BuildTree(const std::vector<tqXmlNode>& top) {
  Materialise();
  if (!tree_) return false;
  struct Work {
    const tqXmlNodeList* list;
    tqXmlTreeNode* parent;
  };
  std::vector<Work> pending{{&top, tree_}};
  std::unordered_map<std::string, tqXmlTreeNode*> byName;
  while (!pending.empty()) {
    Work work = pending.back();
    pending.pop_back();
    for (const tqXmlNode& node : *work.list) {
      tqXmlTreeNode* element = AddElement(work.parent);
      if (!element) return false;
      element->name = node.name;
      if (!node.children) element->value = node.value;
      if (node.attributes) {
        const bool mapped = node.attributes->size() > kLinearAttributes;
        byName.clear();
        for (const tqXmlAttribute& a : *node.attributes) {
          tqXmlTreeNode* found = nullptr;
          if (mapped) {
            auto it = byName.find(FoldedName(a.name));
            if (it != byName.end()) found = it->second;
          } else {
            for (tqXmlTreeNode* b = element->attributes->firstChild; b; b = b->next) {
              if (SameNameNoCase(b->name, a.name)) {
                found = b;
                break;
              }
            }
          }
          if (!found) {
            found = AddAttribute(element);
            if (!found) return false;
            if (mapped) byName.emplace(FoldedName(a.name), found);
          }
          found->name = a.name;
          found->value = a.value;
        }
      }
      if (node.children) pending.push_back({node.children, element});
    }
  }
  return true;
}

int tqXmlParser::WriteText(char* buffer, uint64_t* size) {
  Materialise();
  if (!tree_ || !tree_->firstChild) return Fail(XML_NOTHING_TO_SAVE, "保存情報がありません。");
  TextSink sink{buffer, buffer && size ? *size : 0};
  sink.Put("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n");

  // Depth-first in sibling order; elements whose children are being written
  // wait on a stack of our own for their end tags.
  std::vector<tqXmlTreeNode*> open;
  tqXmlTreeNode* node = tree_->firstChild;
  for (;;) {
    if (node) {
      const uint64_t depth = open.size();
      sink.Spaces(depth * 2);
      sink.Put("<", 1);
      sink.Put(node->name);
      for (tqXmlTreeNode* a = node->attributes ? node->attributes->firstChild : nullptr; a;
           a = a->next) {
        sink.Put(" ", 1);
        sink.Put(a->name);
        sink.Put("=\"", 2);
        sink.Put(a->value);
        sink.Put("\"", 1);
      }
      sink.Put(">", 1);
      if (node->firstChild) {
        sink.Put("\r\n", 2);
        open.push_back(node);
        node = node->firstChild;
        continue;
      }
      sink.Put(node->value);
      sink.Put("</", 2);
      sink.Put(node->name);
      sink.Put(">\r\n", 3);
      node = node->next;
      continue;
    }
    if (open.empty()) break;
    tqXmlTreeNode* done = open.back();
    open.pop_back();
    sink.Spaces(open.size() * 2);
    sink.Put("</", 2);
    sink.Put(done->name);
    sink.Put(">\r\n", 3);
    node = done->next;
  }
  if (size) *size = sink.position;
  error_ = XML_OK;
  return XML_OK;
}

int tqXmlParser::SaveFile(const char* path) {
  if (!path) path = "";
  uint64_t size = 0;
  int code = WriteText(nullptr, &size);
  if (code != XML_OK) return code;
  // A text the file interface cannot take in one write (or that memory cannot
  // hold) is refused before the file is touched.
  char* buffer = size <= kMaxText ? static_cast<char*>(malloc(static_cast<size_t>(size))) : nullptr;
  if (!buffer) return Fail(XML_WRITE_FAILED, "ファイル書き込み[%s]に失敗しました。", path);
  uint64_t filled = size;
  code = WriteText(buffer, &filled);
  if (code != XML_OK) {
    free(buffer);
    return code;
  }
  tqFile file;
  if (!file.Open(path, TQFILE_WRITE | TQFILE_CREATE)) {
    free(buffer);
    return Fail(XML_WRITE_OPEN_FAILED, "書き込み先ファイル[%s]のオープンに失敗しました。", path);
  }
  int written = file.Write(buffer, static_cast<uint32_t>(size));
  free(buffer);
  if (written < 0 || static_cast<uint64_t>(written) != size) {
    return Fail(XML_WRITE_FAILED, "ファイル書き込み[%s]に失敗しました。", path);
  }
  file.Close();
  error_ = XML_OK;
  return XML_OK;
}
