// Loads arbitrary bytes, changes the document through the updates, renders it
// and loads the text again: the reloaded model must equal the changed one
// whenever the document holds nothing the dialect cannot write back.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tqClassBase/tqClassBase.h"
#include "xml/tqXml.h"

namespace {

bool heapReady = CreatePrivateHeap(10485760) != 0;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool HasAny(const std::string& text, const char* bytes) {
  return text.find_first_of(bytes) != std::string::npos;
}

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// What the writer cannot carry: markup bytes in names and texts, separators
// in names and attribute values, "=" in attribute names, double quotes in
// attribute values, names that would read as end tags or comments,
// attribute names equal but for case (also across double-byte characters,
// which the plain folding here treats conservatively).
bool Writable(const tqXmlNodeList* top) {
  std::vector<const tqXmlNodeList*> pending{top};
  while (!pending.empty()) {
    const tqXmlNodeList* list = pending.back();
    pending.pop_back();
    for (const tqXmlNode& node : *list) {
      if (node.name.empty() || HasAny(node.name, "<> \t\n") || node.name[0] == '/' ||
          node.name.compare(0, 3, "!--") == 0) {
        return false;
      }
      if (!node.children && HasAny(node.value, "<>")) return false;
      if (node.attributes) {
        const tqXmlAttributeList& attributes = *node.attributes;
        for (size_t i = 0; i < attributes.size(); ++i) {
          if (HasAny(attributes[i].name, "<> \t\n=") || HasAny(attributes[i].value, "<> \t\n\"")) {
            return false;
          }
          for (size_t j = 0; j < i; ++j) {
            if (SameNoCase(attributes[i].name, attributes[j].name)) return false;
          }
        }
      }
      if (node.children) pending.push_back(node.children);
    }
  }
  return true;
}

// Same names, attributes and order everywhere; texts of elements without
// children (the text between children is not written).
bool SameFields(const tqXmlNode& m, const tqXmlNode& n) {
  if (m.name != n.name) return false;
  if (!m.children && m.value != n.value) return false;
  if ((m.children != nullptr) != (n.children != nullptr)) return false;
  const size_t ma = m.attributes ? m.attributes->size() : 0;
  const size_t na = n.attributes ? n.attributes->size() : 0;
  if (ma != na) return false;
  for (size_t k = 0; k < ma; ++k) {
    if ((*m.attributes)[k].name != (*n.attributes)[k].name ||
        (*m.attributes)[k].value != (*n.attributes)[k].value) {
      return false;
    }
  }
  return true;
}

bool SameTree(const tqXmlNode& a, const tqXmlNode& b) {
  std::vector<std::pair<const tqXmlNode*, const tqXmlNode*>> pending{{&a, &b}};
  while (!pending.empty()) {
    auto [m, n] = pending.back();
    pending.pop_back();
    if (!SameFields(*m, *n)) return false;
    if (!m->children) continue;
    if (m->children->size() != n->children->size()) return false;
    for (size_t i = 0; i < m->children->size(); ++i) {
      pending.push_back({&(*m->children)[i], &(*n->children)[i]});
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(heapReady);
  if (size == 0) return 0;
  // The first byte picks the change; the rest is the document.
  const uint8_t choice = data[0];
  // A terminated copy: a length of 0 makes OpenMem measure the text.
  std::vector<char> input(data + 1, data + size);
  input.push_back(0);
  tqXml xml;
  if (!xml.OpenMem(input.data(), size - 1)) {
    if (choice & 1) xml.Create();
  }
  // Change it: a value below the first child of the top element, a value at
  // a fixed path, or nothing.
  tqXmlChildIterator it;
  std::string first;
  if (xml.GetChildren(&it, 0) && xml.NextChild(&it, first)) {
    if (choice & 2) xml.SetStrPath("fuzz", {first, "set"});
  }
  if (choice & 4) xml.SetInt(-123, 2, "A", "B");
  const bool writable = xml.Top() && Writable(xml.Top());

  tqXmlParser writer;
  if (!xml.Top()) return 0;
  Check(writer.BuildTree(*xml.Top()));
  uint64_t length = 0;
  const int code = writer.WriteText(nullptr, &length);
  if (xml.Top()->empty()) {
    Check(code == 7);
    return 0;
  }
  Check(code == 0);
  if (length > (64u << 20)) return 0;  // deep nesting renders quadratically
  std::vector<char> text((size_t)length);
  uint64_t filled = length;
  Check(writer.WriteText(text.data(), &filled) == 0 && filled == length);
  Check(memcmp(text.data(), "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n", 44) == 0);

  tqXml again;
  const int reopened = again.OpenMem(text.data(), text.size());
  Check(reopened == 1 || !writable);
  if (writable) {
    // Only the first element of the file is read back: the one the sequence
    // holds last.
    Check(again.Top()->size() == 1);
    Check(SameTree(xml.Top()->back(), again.Top()->front()));
  }
  return 0;
}
