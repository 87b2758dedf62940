// The XML dialect's parser: bytes to a linked tree of tqXmlTreeNode, and the
// tree back to text. The dialect is small and not standard XML; its quirks
// (tokens cut at "<" and ">", siblings linked in front, no escaping) are what
// the settings files rely on.
//
// Loading is one pass over the bytes that builds the document model directly;
// the tree of tracked nodes is made from that result when it is first asked
// for (Tree(), RootElement(), WriteText, a second parse), so loading a
// document costs no tracked block per element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tqClassBase/tqClassBase.h"
#include "xml/tqXmlNode.h"

// One node of the parser's tree. Element nodes carry a nameless attribute
// root whose children are the attributes (name and value each). A node owns
// its children and its attribute root; the parser owns the whole tree.
class tqXmlTreeNode : public tqClassBase {
 public:
  tqXmlTreeNode* parent = nullptr;
  tqXmlTreeNode* firstChild = nullptr;
  tqXmlTreeNode* prev = nullptr;
  tqXmlTreeNode* next = nullptr;
  std::string name;
  std::string value;
  tqXmlTreeNode* attributes = nullptr;  // element nodes only

 private:
  friend class tqXmlParser;
  // Every node of a parser in allocation order, so that the tree can be
  // released without recursion and in the order the tracked list keeps.
  tqXmlTreeNode* allocPrev_ = nullptr;
  tqXmlTreeNode* allocNext_ = nullptr;
};

// The document's character source: a private-heap copy of the input up to its
// first zero byte, followed by 8 zero bytes. (The parser reads a CR LF pair
// as the one LF it stands for.)
class tqXmlReader {
 public:
  tqXmlReader() = default;
  ~tqXmlReader() { Release(); }
  tqXmlReader(const tqXmlReader&) = delete;
  tqXmlReader& operator=(const tqXmlReader&) = delete;

  // False when the private heap cannot supply the copy.
  bool Load(const void* data, size_t length);
  void Release();
  char* Data() const { return data_; }
  uint32_t Size() const { return size_; }

 private:
  char* data_ = nullptr;
  uint32_t size_ = 0;
};

class tqXmlParser : public tqClassBase {
 public:
  static constexpr size_t MESSAGE_SIZE = 512;

  // Load and save codes, kept in Error().
  enum : int {
    XML_OK = 0,
    XML_OPEN_FAILED = 1,
    XML_READ_FAILED = 2,
    XML_NO_BUFFER = 3,
    XML_BAD_FORMAT = 4,
    XML_BAD_TAG = 5,
    XML_BAD_END_TAG = 6,
    XML_NOTHING_TO_SAVE = 7,
    XML_WRITE_OPEN_FAILED = 9,
    XML_WRITE_FAILED = 10,
  };

  tqXmlParser();
  ~tqXmlParser();
  tqXmlParser(const tqXmlParser&) = delete;
  tqXmlParser& operator=(const tqXmlParser&) = delete;

  // Reads the whole file (mode 0x0101) and parses it; returns the code.
  int ParseFile(const char* path);
  // Parses length bytes; returns the code. A zero byte ends the document.
  // The tree is not cleared first: the new root element goes in front.
  int ParseMem(const void* data, size_t length);

  // Hands the elements of the last successful parse to the document model
  // (front first, in model order) and keeps standing for them: the tree is
  // made from that sequence when it is asked for, so the caller must call
  // Materialise() before it changes the sequence. None when nothing waits.
  tqXmlNodeList* TakeParsed();
  // Makes the tree nodes of what the last parse found, if not done yet.
  void Materialise();

  // Renders the tree as text. *size is the buffer's capacity on entry
  // (ignored without a buffer) and the length of the whole text on success;
  // without a buffer the text is only measured. Nothing is terminated.
  int WriteText(char* buffer, uint64_t* size);
  // Renders the tree and writes it to path (mode 0x0402); returns the code.
  int SaveFile(const char* path);

  int Error() const { return error_; }
  // True when the last parse met the end tag of its root element. Elements
  // left open at the end of the input are still accepted (code 0); callers
  // that must not act on a cut document ask here.
  bool RootClosed() const { return rootClosed_; }
  // The last message; an attribute problem leaves one even with code 0.
  const char* Message() const { return message_; }

  // The nameless tree root (none only when memory ran out); its children are
  // the top-level elements, the root element first.
  tqXmlTreeNode* Tree() {
    Materialise();
    return tree_;
  }
  tqXmlTreeNode* RootElement() {
    Materialise();
    return tree_ ? tree_->firstChild : nullptr;
  }

  // A new node linked in front of parent's children (the tree root when
  // parent is none). Elements get an empty attribute root. None when memory
  // ran out.
  tqXmlTreeNode* AddNode(tqXmlTreeNode* parent);
  tqXmlTreeNode* AddElement(tqXmlTreeNode* parent);
  // A new attribute node in front of element's attributes.
  tqXmlTreeNode* AddAttribute(tqXmlTreeNode* element);
  // Removes node with its children and attributes; the tree root stays.
  void RemoveNode(tqXmlTreeNode* node);

  // Replaces the tree's top-level elements with the document model's
  // sequence (see tqXml::Save).
  bool BuildTree(const std::vector<tqXmlNode>& top);

  // Sets the code and the message (cut to 511 bytes); returns the code.
  int Fail(int code, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void SetMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  struct TagAttribute {
    const char* name;
    size_t nameLength;
    const char* value;
    size_t valueLength;
  };
  struct Tag {
    const char* name = nullptr;
    size_t nameLength = 0;
    std::vector<TagAttribute> attributes;
  };

  tqXmlTreeNode* NewNode();
  void FreeNode(tqXmlTreeNode* node);
  void ReleaseTree();
  void MaterialiseFrom(const tqXmlNodeList& list);
  bool CheckDeclaration(const char* token, size_t length);
  bool ParseTag(const char* token, size_t length, const char* open, size_t openLength,
                const char* close, size_t closeLength, Tag& tag);
  int ParseElements(const char* text, const char* end, const char* start);
  void Fill(tqXmlNode& node, const Tag& tag);

  tqXmlTreeNode* tree_ = nullptr;
  int error_ = 0;
  bool rootClosed_ = false;
  char message_[MESSAGE_SIZE] = {};
  Tag tag_;  // scratch of the tag parse, kept between tags to save allocations
  tqXmlTreeNode* allocFirst_ = nullptr;
  tqXmlTreeNode* allocLast_ = nullptr;
  // Elements found by the last parse whose tree nodes are not made yet:
  // owned until TakeParsed, then the document model's sequence.
  tqXmlNodeList* parsed_ = nullptr;
  const tqXmlNodeList* lent_ = nullptr;
};
