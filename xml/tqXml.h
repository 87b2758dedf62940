// tqXml: a settings document in the library's XML dialect. Open or OpenMem
// parse it into the document model (nested sequences of tqXmlNode), the path
// queries read and update that model, and Save writes it back.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "xml/tqXmlNode.h"
#include "xml/tqXmlParser.h"

// Walks the names of one element's children, in sequence order. Valid until
// the document is opened, created or destroyed again.
struct tqXmlChildIterator {
  const tqXmlNodeList* list = nullptr;
  size_t position = 0;
};

class tqXml : public tqClassBase {
 public:
  tqXml() = default;
  ~tqXml();
  tqXml(const tqXml&) = delete;
  tqXml& operator=(const tqXml&) = delete;

  // 1 on success, 0 on failure (code and message in Parser()).
  int Open(const char* path);
  // length 0 with data: data is a zero-terminated text whose length is taken.
  int OpenMem(const void* data, size_t length);
  // An empty document: one element "document".
  int Create();
  // Always 1; the outcome is Parser()->Error() (0, or 7 to 10).
  int Save(const char* path);

  // ---- reads: the path starts below a lone top-level "document" element.
  // The element's text as a number, or def when it is missing.
  int GetInt(int def, int count, ...);
  int GetIntPath(int def, const std::vector<std::string>& names);
  // Copies def, then the element's text when it is found (1) into dst, which
  // holds capacity bytes. A longer text is cut: at most capacity - 1 bytes are
  // copied, never half of a double-byte character, and the terminator always
  // follows (the result is still 1). With no dst or a capacity of 0 nothing
  // is written. dst may be def's own buffer.
  int GetStr(char* dst, size_t capacity, const char* def, int count, ...);
  int GetStrPath(char* dst, size_t capacity, const char* def,
                 const std::vector<std::string>& names);
  // The whole text, however long.
  int GetStrPath(std::string& dst, const char* def, const std::vector<std::string>& names);

  // ---- updates: "document" is put in front of the names; missing elements
  // are appended along the path. 1, or 0 when there is no document model.
  int SetInt(int value, int count, ...);
  int SetStr(const char* value, int count, ...);
  int SetIntPath(int value, const std::vector<std::string>& names);
  int SetStrPath(const char* value, const std::vector<std::string>& names);

  // ---- children: "document" is put in front and every name is split at "/".
  // 1 when the element has children (the iterator then walks them); count 0
  // walks the children of the first top-level element.
  int GetChildren(tqXmlChildIterator* iterator, int count, ...);
  int GetChildrenPath(tqXmlChildIterator* iterator, const std::vector<std::string>& names);
  // 1 and the next child's name (cut like GetStr), or 0 at the end.
  int NextChild(tqXmlChildIterator* iterator, char* name, size_t capacity);
  int NextChild(tqXmlChildIterator* iterator, std::string& name);

  // Splits at every single-byte "/" (double-byte characters stay whole); an
  // empty name is kept except at the end.
  static std::vector<std::string> SplitPath(const char* text);
  // Searches sequence for path[depth..], backtracking among same-named
  // siblings; none when nothing matches. An empty name matches nothing.
  static const tqXmlNode* FindNode(const tqXmlNodeList* sequence,
                                   const std::vector<std::string>& path, size_t depth);

  tqXmlParser* Parser() const { return parser_; }
  // The top-level sequence, or none before the first Open, OpenMem or Create.
  const tqXmlNodeList* Top() const { return top_; }

 private:
  void Reset();
  bool NewParser();
  void BuildModel();
  const tqXmlNodeList* StartOfReads() const;
  int GetIntNames(int def, const std::vector<std::string>& names);
  int GetStrNames(char* dst, size_t capacity, const char* def,
                  const std::vector<std::string>& names);
  int SetNames(const char* text, const std::vector<std::string>& names);
  int ChildrenNames(tqXmlChildIterator* iterator, bool all, const std::vector<std::string>& names);

  tqXmlParser* parser_ = nullptr;
  tqXmlNodeList* top_ = nullptr;
};
