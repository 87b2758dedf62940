// The document model of the XML dialect: nested sequences of elements, each
// with a name, its text, and optional attributes and children.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct tqXmlAttribute {
  std::string name;
  std::string value;
};

class tqXmlNode;
using tqXmlNodeList = std::vector<tqXmlNode>;
using tqXmlAttributeList = std::vector<tqXmlAttribute>;

// One element of the document model. Sequences built from a parsed file hold
// their entries in reverse document order (the last child first); a children
// or attribute sequence built from a file is never empty (none instead).
class tqXmlNode {
 public:
  std::string name;
  std::string value;
  tqXmlAttributeList* attributes = nullptr;  // owned, or none
  tqXmlNodeList* children = nullptr;         // owned, or none

  tqXmlNode() = default;
  explicit tqXmlNode(std::string nodeName) : name(std::move(nodeName)) {}
  // An element with a name and a text and nothing else, made from byte runs.
  tqXmlNode(const char* nodeName, size_t nameLength, const char* text, size_t textLength)
      : name(nodeName, nameLength), value(text, textLength) {}
  tqXmlNode(tqXmlNode&& other) noexcept;
  tqXmlNode& operator=(tqXmlNode&& other) noexcept;
  tqXmlNode(const tqXmlNode&) = delete;
  tqXmlNode& operator=(const tqXmlNode&) = delete;
  // Releases the whole subtree without recursion, however deep it is.
  ~tqXmlNode() {
    if (attributes || children) Release();
  }

  friend void swap(tqXmlNode& a, tqXmlNode& b) noexcept {
    a.name.swap(b.name);
    a.value.swap(b.value);
    std::swap(a.attributes, b.attributes);
    std::swap(a.children, b.children);
  }

 private:
  void Release();
};

// Releases a sequence and everything below it without recursion.
void tqXmlDestroyList(tqXmlNodeList* list);
