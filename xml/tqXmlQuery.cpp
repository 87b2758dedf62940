// Path queries and updates on the document model, and child iteration.
// Reads backtrack among same-named siblings; updates take the first match
// and append what is missing.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "util/tqUtil.h"
#include "xml/tqXml.h"

namespace {

std::vector<std::string> NamesFromArgs(int count, va_list args) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    const char* name = va_arg(args, const char*);
    names.emplace_back(name ? name : "");
  }
  return names;
}

// Length of the longest prefix of text (length bytes) that fits in limit
// bytes without cutting a double-byte character.
size_t FittingLength(const char* text, size_t length, size_t limit) {
  if (length <= limit) return length;
  size_t i = 0;
  while (i < length) {
    size_t step = (tqIsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < length &&
                   tqIsTrailByte(static_cast<unsigned char>(text[i + 1])))
                      ? 2
                      : 1;
    if (i + step > limit) break;
    i += step;
  }
  return i;
}

// Copies text into dst (capacity bytes), cut to fit, always terminated.
void CopyCut(char* dst, size_t capacity, const char* text, size_t length) {
  if (!dst || capacity == 0) return;
  size_t n = FittingLength(text, length, capacity - 1);
  memmove(dst, text, n);
  dst[n] = 0;
}

}  // namespace

std::vector<std::string> tqXml::SplitPath(const char* text) {
  std::vector<std::string> names;
  if (!text) return names;
  std::string current;
  for (size_t i = 0; text[i];) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (tqIsLeadByte(c) && tqIsTrailByte(static_cast<unsigned char>(text[i + 1]))) {
      current.append(text + i, 2);
      i += 2;
    } else if (c == '/') {
      names.push_back(std::move(current));
      current.clear();
      ++i;
    } else {
      current.push_back(static_cast<char>(c));
      ++i;
    }
  }
  if (!current.empty()) names.push_back(std::move(current));
  return names;
}

// Depth-first over the sequences with a stack of our own: a path may be as
// long as its caller likes without deepening the call stack.
const tqXmlNode* tqXml::FindNode(const tqXmlNodeList* sequence,
                                 const std::vector<std::string>& path, size_t depth) {
  if (!sequence || depth >= path.size()) return nullptr;
  struct Frame {
    const tqXmlNodeList* list;
    size_t index;
  };
  std::vector<Frame> stack{{sequence, 0}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const size_t at = depth + stack.size() - 1;
    if (frame.index >= frame.list->size()) {
      stack.pop_back();
      continue;
    }
    const tqXmlNode& node = (*frame.list)[frame.index++];
    const std::string& name = path[at];
    if (name.empty() || node.name != name) continue;
    if (at + 1 == path.size()) return &node;
    if (node.children) stack.push_back({node.children, 0});
  }
  return nullptr;
}

// Reads start below a lone top-level "document" element, else at the top.
const tqXmlNodeList* tqXml::StartOfReads() const {
  if (!top_) return nullptr;
  if (top_->size() == 1 && (*top_)[0].name == "document") return (*top_)[0].children;
  return top_;
}

// ------------------------------------------------------------------ reads

int tqXml::GetIntNames(int def, const std::vector<std::string>& names) {
  if (!top_) return def;
  const tqXmlNode* node = FindNode(StartOfReads(), names, 0);
  return node ? tqNumber(node->value.c_str()) : def;
}

int tqXml::GetInt(int def, int count, ...) {
  va_list args;
  va_start(args, count);
  std::vector<std::string> names = NamesFromArgs(count, args);
  va_end(args);
  return GetIntNames(def, names);
}

int tqXml::GetIntPath(int def, const std::vector<std::string>& names) {
  return GetIntNames(def, names);
}

int tqXml::GetStrNames(char* dst, size_t capacity, const char* def,
                       const std::vector<std::string>& names) {
  if (!def) def = "";
  CopyCut(dst, capacity, def, strlen(def));
  if (!top_) return 0;
  const tqXmlNode* node = FindNode(StartOfReads(), names, 0);
  if (!node) return 0;
  CopyCut(dst, capacity, node->value.data(), node->value.size());
  return 1;
}

int tqXml::GetStr(char* dst, size_t capacity, const char* def, int count, ...) {
  va_list args;
  va_start(args, count);
  std::vector<std::string> names = NamesFromArgs(count, args);
  va_end(args);
  return GetStrNames(dst, capacity, def, names);
}

int tqXml::GetStrPath(char* dst, size_t capacity, const char* def,
                      const std::vector<std::string>& names) {
  return GetStrNames(dst, capacity, def, names);
}

int tqXml::GetStrPath(std::string& dst, const char* def, const std::vector<std::string>& names) {
  dst = def ? def : "";
  if (!top_) return 0;
  const tqXmlNode* node = FindNode(StartOfReads(), names, 0);
  if (!node) return 0;
  dst = node->value;
  return 1;
}

// ------------------------------------------------------------------ updates

// No backtracking here: at each depth the first node of that name is taken,
// and a missing one is appended at the end of its sequence.
int tqXml::SetNames(const char* text, const std::vector<std::string>& names) {
  if (!top_) return 0;
  // The parser's tree stands for the model as it was read: make it before
  // the model changes.
  if (parser_) parser_->Materialise();
  std::vector<std::string> path;
  path.reserve(names.size() + 1);
  path.emplace_back("document");
  path.insert(path.end(), names.begin(), names.end());

  tqXmlNodeList* list = top_;
  for (size_t depth = 0;; ++depth) {
    tqXmlNode* node = nullptr;
    for (tqXmlNode& candidate : *list) {
      if (candidate.name == path[depth]) {
        node = &candidate;
        break;
      }
    }
    if (!node) node = &list->emplace_back(path[depth]);
    if (depth + 1 == path.size()) {
      node->value = text ? text : "";
      return 1;
    }
    if (!node->children) {
      node->children = new tqXmlNodeList;
      node->children->emplace_back(path[depth + 1]);
    }
    list = node->children;
  }
}

int tqXml::SetInt(int value, int count, ...) {
  va_list args;
  va_start(args, count);
  std::vector<std::string> names = NamesFromArgs(count, args);
  va_end(args);
  char text[16];
  snprintf(text, sizeof text, "%d", value);
  return SetNames(text, names);
}

int tqXml::SetStr(const char* value, int count, ...) {
  va_list args;
  va_start(args, count);
  std::vector<std::string> names = NamesFromArgs(count, args);
  va_end(args);
  return SetNames(value, names);
}

int tqXml::SetIntPath(int value, const std::vector<std::string>& names) {
  char text[16];
  snprintf(text, sizeof text, "%d", value);
  return SetNames(text, names);
}

int tqXml::SetStrPath(const char* value, const std::vector<std::string>& names) {
  return SetNames(value, names);
}

// ------------------------------------------------------------------ children

int tqXml::ChildrenNames(tqXmlChildIterator* iterator, bool all,
                         const std::vector<std::string>& names) {
  if (!iterator) return 0;
  iterator->list = nullptr;
  iterator->position = 0;
  if (!top_) return 0;
  if (all) {
    if (top_->empty()) return 0;
    iterator->list = (*top_)[0].children;
    return 1;
  }
  std::vector<std::string> path{"document"};
  for (const std::string& name : names) {
    std::vector<std::string> parts = SplitPath(name.c_str());
    path.insert(path.end(), parts.begin(), parts.end());
  }
  const tqXmlNode* node = FindNode(top_, path, 0);
  if (!node || !node->children || node->children->empty()) return 0;
  iterator->list = node->children;
  return 1;
}

int tqXml::GetChildren(tqXmlChildIterator* iterator, int count, ...) {
  va_list args;
  va_start(args, count);
  std::vector<std::string> names = NamesFromArgs(count, args);
  va_end(args);
  return ChildrenNames(iterator, count <= 0, names);
}

int tqXml::GetChildrenPath(tqXmlChildIterator* iterator, const std::vector<std::string>& names) {
  return ChildrenNames(iterator, names.empty(), names);
}

int tqXml::NextChild(tqXmlChildIterator* iterator, char* name, size_t capacity) {
  if (!top_ || !iterator || !iterator->list || iterator->position >= iterator->list->size())
    return 0;
  const std::string& child = (*iterator->list)[iterator->position++].name;
  CopyCut(name, capacity, child.data(), child.size());
  return 1;
}

int tqXml::NextChild(tqXmlChildIterator* iterator, std::string& name) {
  if (!top_ || !iterator || !iterator->list || iterator->position >= iterator->list->size())
    return 0;
  name = (*iterator->list)[iterator->position++].name;
  return 1;
}
