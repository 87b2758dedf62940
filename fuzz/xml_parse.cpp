// Loads arbitrary bytes as an XML document, holds the result against a
// literal reading of the dialect's stages, and walks everything the queries
// can reach.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/xml_reference.h"
#include "tqClassBase/tqClassBase.h"
#include "xml/tqXml.h"

namespace {

bool heapReady = CreatePrivateHeap(10485760) != 0;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The parser's tree against the reference's: same nodes in the same order.
bool SameTree(const tqXmlTreeNode* first, const std::vector<std::unique_ptr<xmlref::Node>>& nodes) {
  const tqXmlTreeNode* n = first;
  for (const auto& want : nodes) {
    if (!n || n->name != want->name || n->value != want->value) return false;
    const tqXmlTreeNode* a = n->attributes ? n->attributes->firstChild : nullptr;
    for (const auto& attribute : want->attributes) {
      if (!a || a->name != attribute.first || a->value != attribute.second) return false;
      a = a->next;
    }
    if (a || !SameTree(n->firstChild, want->children)) return false;
    n = n->next;
  }
  return n == nullptr;
}

// The model against the reference's tree: sequences copy the tree's order.
bool SameModel(const tqXmlNodeList* list, const std::vector<std::unique_ptr<xmlref::Node>>& nodes) {
  const size_t count = list ? list->size() : 0;
  if (count != nodes.size()) return false;
  for (size_t i = 0; i < count; ++i) {
    const tqXmlNode& n = (*list)[i];
    const xmlref::Node& want = *nodes[i];
    if (n.name != want.name || n.value != want.value) return false;
    const size_t attributes = n.attributes ? n.attributes->size() : 0;
    if (attributes != want.attributes.size()) return false;
    for (size_t k = 0; k < attributes; ++k) {
      if ((*n.attributes)[k].name != want.attributes[k].first ||
          (*n.attributes)[k].value != want.attributes[k].second) {
        return false;
      }
    }
    if (n.children && n.children->empty()) return false;
    if (!SameModel(n.children, want.children)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(heapReady);
  // A terminated copy: a length of 0 makes OpenMem measure the text.
  std::vector<char> text(data, data + size);
  text.push_back(0);
  tqXml xml;
  int opened = xml.OpenMem(text.data(), size);
  Check(xml.Parser() != nullptr);
  const int code = xml.Parser()->Error();
  Check((opened == 1) == (code == 0));
  Check(code == 0 || (code >= 3 && code <= 6));
  Check(strlen(xml.Parser()->Message()) < tqXmlParser::MESSAGE_SIZE);
  Check(xml.Top() != nullptr);
  if (size <= 65536) {
    xmlref::Parser reference;
    reference.Parse(text.data(), size);
    Check(code == reference.result.code);
    Check(reference.result.message == xml.Parser()->Message());
    if (opened) Check(SameModel(xml.Top(), reference.result.top));
    Check(SameTree(xml.Parser()->RootElement(), reference.result.top));
  }
  if (!opened) {
    Check(xml.Top()->empty());
    return 0;
  }
  Check(xml.Top()->size() <= 1);

  // Every node: sequences built from a file are never empty; every element
  // is reachable by the path of its names (backtracking finds some node of
  // that path, whose name is the last one).
  struct Frame {
    const tqXmlNodeList* list;
    size_t index;
  };
  std::vector<Frame> stack{{xml.Top(), 0}};
  std::vector<std::string> path;
  size_t visited = 0;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.index >= frame.list->size()) {
      stack.pop_back();
      if (!path.empty()) path.pop_back();
      continue;
    }
    const tqXmlNode& node = (*frame.list)[frame.index++];
    Check(!node.name.empty());
    Check(!node.attributes || !node.attributes->empty());
    Check(!node.children || !node.children->empty());
    path.push_back(node.name);
    if (++visited <= 64) {
      const tqXmlNode* found = tqXml::FindNode(xml.Top(), path, 0);
      Check(found && found->name == node.name);
      char small[8];
      xml.GetStrPath(small, sizeof small, "", path);
      Check(strlen(small) < sizeof small);
      xml.GetIntPath(0, path);
      tqXmlChildIterator it;
      std::vector<std::string> below(path.begin() + 1, path.end());
      if (path[0] == "document" && xml.GetChildrenPath(&it, below)) {
        std::string name;
        while (xml.NextChild(&it, name)) Check(!name.empty());
      }
    }
    if (node.children) {
      stack.push_back({node.children, 0});
    } else {
      path.pop_back();
    }
  }
  return 0;
}
