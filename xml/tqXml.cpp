// The document: loading into the model, creating, saving, and the model's
// own storage (released without recursion, however deep it is).
#include "xml/tqXml.h"

#include <cstring>

#include "tqClassBase/tqDebug.h"

// ------------------------------------------------------------------ model

tqXmlNode::tqXmlNode(tqXmlNode&& other) noexcept
    : name(std::move(other.name)),
      value(std::move(other.value)),
      attributes(other.attributes),
      children(other.children) {
  other.attributes = nullptr;
  other.children = nullptr;
}

tqXmlNode& tqXmlNode::operator=(tqXmlNode&& other) noexcept {
  if (this != &other) {
    delete attributes;
    tqXmlDestroyList(children);
    name = std::move(other.name);
    value = std::move(other.value);
    attributes = other.attributes;
    children = other.children;
    other.attributes = nullptr;
    other.children = nullptr;
  }
  return *this;
}

void tqXmlNode::Release() {
  delete attributes;
  attributes = nullptr;
  tqXmlDestroyList(children);
  children = nullptr;
}

// Every sequence below `list` is detached from its node before that node is
// destroyed, so no destructor ever descends.
void tqXmlDestroyList(tqXmlNodeList* list) {
  if (!list) return;
  std::vector<tqXmlNodeList*> pending{list};
  while (!pending.empty()) {
    tqXmlNodeList* current = pending.back();
    pending.pop_back();
    for (tqXmlNode& node : *current) {
      if (node.children) {
        pending.push_back(node.children);
        node.children = nullptr;
      }
    }
    delete current;
  }
}

// ------------------------------------------------------------------ document

tqXml::~tqXml() { Reset(); }

void tqXml::Reset() {
  delete parser_;
  parser_ = nullptr;
  tqXmlDestroyList(top_);
  top_ = nullptr;
}

bool tqXml::NewParser() {
  delete parser_;
  parser_ = new tqXmlParser;
  return parser_ != nullptr;
}

int tqXml::Open(const char* path) {
  if (!path) path = "";
  DebugPrint("xml open %s", path);
  Reset();
  if (!NewParser()) return 0;
  top_ = new tqXmlNodeList;
  if (parser_->ParseFile(path) != 0) {
    DebugPrint("tqXml : File open error %s", path);
    return 0;
  }
  BuildModel();
  DebugPrint("xml open exit");
  return 1;
}

int tqXml::OpenMem(const void* data, size_t length) {
  Reset();
  if (!NewParser()) return 0;
  top_ = new tqXmlNodeList;
  if (data && length == 0) length = strlen(static_cast<const char*>(data));
  if (parser_->ParseMem(data, length) != 0) {
    DebugPrint("tqXml : OpenMem error.");
    return 0;
  }
  BuildModel();
  return 1;
}

int tqXml::Create() {
  Reset();
  NewParser();
  top_ = new tqXmlNodeList;
  top_->emplace_back("document");
  return parser_ ? 1 : 0;
}

int tqXml::Save(const char* path) {
  if (!path) path = "";
  if (!NewParser()) return 1;
  // With no model there is nothing to write; the code says so rather than
  // leaving the new parser's 0 as if the file had been written.
  if (!top_) {
    parser_->Fail(tqXmlParser::XML_NOTHING_TO_SAVE, "保存情報がありません。");
    return 1;
  }
  if (!parser_->BuildTree(*top_)) {
    parser_->Fail(tqXmlParser::XML_WRITE_FAILED, "ファイル書き込み[%s]に失敗しました。", path);
    return 1;
  }
  parser_->SaveFile(path);
  return 1;
}

// The parse has built the model's sequences already (the last child first);
// the document takes them over, and the parser makes its tree from them when
// it is asked for it.
void tqXml::BuildModel() {
  tqXmlNodeList* parsed = parser_ ? parser_->TakeParsed() : nullptr;
  if (!parsed) return;
  tqXmlDestroyList(top_);
  top_ = parsed;
}
