// Parsing of the XML dialect: reader, tokeniser, declaration check, comment
// removal, tag and element parse, and the parser's tree.
//
// Tokens are kept as ranges of the reader's buffer: the tokeniser turns TAB
// and LF into spaces in place, so every token is a contiguous run of it. The
// element parse keeps its open elements on a stack of its own, so nesting
// depth is bounded by memory, never by the call stack.
#include "xml/tqXmlParser.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "file/tqFile.h"
#include "util/tqUtil.h"

namespace {

// Largest input a reader takes: token ranges are 32-bit.
constexpr size_t kMaxInput = 0xFFFFFF00u;

inline unsigned char AsciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Case-insensitive comparison of n bytes where b is plain ASCII (delimiters
// and the declaration's words).
bool EqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (AsciiLower((unsigned char)a[i]) != AsciiLower((unsigned char)b[i])) return false;
  }
  return true;
}

bool EqualNoCase(const char* a, size_t aLength, const char* b) {
  size_t bLength = strlen(b);
  return aLength == bLength && EqualNoCase(a, b, aLength);
}

}  // namespace

// ------------------------------------------------------------------ reader

bool tqXmlReader::Load(const void* data, size_t length) {
  Release();
  const char* src = static_cast<const char*>(data);
  // The content ends at the first zero byte.
  const void* zero = length ? memchr(src, 0, length) : nullptr;
  if (zero) length = static_cast<size_t>(static_cast<const char*>(zero) - src);
  if (length > kMaxInput) return false;
  data_ = static_cast<char*>(PrivateAlloc(0, length + 8));
  if (!data_) return false;
  // Copy, folding every CR LF pair into LF (a lone CR stays).
  char* out = data_;
  const char* p = src;
  const char* end = src + length;
  while (p < end) {
    const char* cr = static_cast<const char*>(memchr(p, '\r', static_cast<size_t>(end - p)));
    if (!cr) {
      memcpy(out, p, static_cast<size_t>(end - p));
      out += end - p;
      break;
    }
    size_t run = static_cast<size_t>(cr - p);
    memcpy(out, p, run);
    out += run;
    if (cr + 1 < end && cr[1] == '\n') {
      *out++ = '\n';
      p = cr + 2;
    } else {
      *out++ = '\r';
      p = cr + 1;
    }
  }
  size_ = static_cast<uint32_t>(out - data_);
  memset(out, 0, 8);
  return true;
}

void tqXmlReader::Release() {
  if (data_) PrivateFree(data_);
  data_ = nullptr;
  size_ = 0;
}

// ------------------------------------------------------------------ tree

tqXmlParser::tqXmlParser() { tree_ = NewNode(); }

tqXmlParser::~tqXmlParser() { ReleaseTree(); }

tqXmlTreeNode* tqXmlParser::NewNode() {
  tqXmlTreeNode* node = new tqXmlTreeNode;
  if (!node) return nullptr;
  node->allocPrev_ = allocLast_;
  if (allocLast_) {
    allocLast_->allocNext_ = node;
  } else {
    allocFirst_ = node;
  }
  allocLast_ = node;
  return node;
}

void tqXmlParser::FreeNode(tqXmlTreeNode* node) {
  if (node->allocPrev_) {
    node->allocPrev_->allocNext_ = node->allocNext_;
  } else {
    allocFirst_ = node->allocNext_;
  }
  if (node->allocNext_) {
    node->allocNext_->allocPrev_ = node->allocPrev_;
  } else {
    allocLast_ = node->allocPrev_;
  }
  delete node;
}

// Oldest first: the tracked list keeps blocks in allocation order and is
// searched from its front, so this order keeps every release short.
void tqXmlParser::ReleaseTree() {
  tqXmlTreeNode* node = allocFirst_;
  while (node) {
    tqXmlTreeNode* next = node->allocNext_;
    delete node;
    node = next;
  }
  allocFirst_ = allocLast_ = nullptr;
  tree_ = nullptr;
}

tqXmlTreeNode* tqXmlParser::AddNode(tqXmlTreeNode* parent) {
  if (!parent) parent = tree_;
  if (!parent) return nullptr;
  tqXmlTreeNode* node = NewNode();
  if (!node) return nullptr;
  node->parent = parent;
  node->next = parent->firstChild;
  if (node->next) node->next->prev = node;
  parent->firstChild = node;
  return node;
}

tqXmlTreeNode* tqXmlParser::AddElement(tqXmlTreeNode* parent) {
  tqXmlTreeNode* node = AddNode(parent);
  if (!node) return nullptr;
  node->attributes = NewNode();
  if (!node->attributes) return nullptr;
  node->attributes->parent = node;
  return node;
}

tqXmlTreeNode* tqXmlParser::AddAttribute(tqXmlTreeNode* element) {
  if (!element || !element->attributes) return nullptr;
  return AddNode(element->attributes);
}

void tqXmlParser::RemoveNode(tqXmlTreeNode* node) {
  if (!node || node == tree_) return;
  // Unlink from the siblings first; then release the subtree without
  // recursion (children and attribute roots go on a stack of our own).
  if (node->prev) {
    node->prev->next = node->next;
  } else if (node->parent && node->parent->firstChild == node) {
    node->parent->firstChild = node->next;
  }
  if (node->next) node->next->prev = node->prev;
  node->parent = node->prev = node->next = nullptr;

  std::vector<tqXmlTreeNode*> pending{node};
  while (!pending.empty()) {
    tqXmlTreeNode* current = pending.back();
    pending.pop_back();
    for (tqXmlTreeNode* child = current->firstChild; child; child = child->next) {
      pending.push_back(child);
    }
    if (current->attributes) pending.push_back(current->attributes);
    FreeNode(current);
  }
}

// ------------------------------------------------------------------ messages

void tqXmlParser::SetMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(message_, sizeof message_, format, args);
  va_end(args);
}

int tqXmlParser::Fail(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(message_, sizeof message_, format, args);
  va_end(args);
  error_ = code;
  return code;
}

namespace {
// An argument of a message: the first bytes of a range, enough to fill the
// 511 bytes of the field.
std::string MessageArgument(const char* text, size_t length) {
  return std::string(text, length < tqXmlParser::MESSAGE_SIZE ? length : tqXmlParser::MESSAGE_SIZE);
}
}  // namespace

// ------------------------------------------------------------------ loading

int tqXmlParser::ParseFile(const char* path) {
  tokens_.clear();
  tqFile file;
  if (!path || !file.Open(path, TQFILE_READ | TQFILE_EXISTING)) {
    return Fail(XML_OPEN_FAILED, "ファイル %s のオープンに失敗しました。", path ? path : "");
  }
  int size = file.GetSize();
  char* buffer = size >= 0 ? static_cast<char*>(malloc(static_cast<size_t>(size) + 1)) : nullptr;
  int code;
  if (!buffer) {
    code = Fail(XML_READ_FAILED, "ファイル %s の読み込みに失敗しました。", path);
  } else {
    int got = size ? file.Read(buffer, static_cast<uint32_t>(size)) : 0;
    if (got != size) {
      code = Fail(XML_READ_FAILED, "ファイル %s の読み込みに失敗しました。", path);
    } else {
      code = ParseMem(buffer, static_cast<size_t>(size));
    }
  }
  free(buffer);
  return code;
}

int tqXmlParser::ParseMem(const void* data, size_t length) {
  tokens_.clear();
  if (!data) return Fail(XML_NO_BUFFER, "読み込みバッファが無効です。");
  tqXmlReader reader;
  // A copy the private heap cannot supply (or a missing tree root) fails the
  // load as a missing buffer would.
  if (!tree_ || !reader.Load(data, length)) return Fail(XML_NO_BUFFER, "読み込みバッファが無効です。");
  Tokenise(reader);
  const char* text = reader.Data();
  if (!CheckDeclaration(text)) {
    tokens_.clear();
    return Fail(XML_BAD_FORMAT, "読み込みできない形式のファイルです。");
  }
  RemoveComments(text);
  int code = XML_OK;
  for (size_t i = 1; i < tokens_.size(); ++i) {
    if (tokens_[i].length && text[tokens_[i].begin] == '<') {
      code = ParseElements(text, i);
      break;
    }
  }
  tokens_.clear();
  error_ = code;
  return code;
}

// TAB and LF become spaces; "<" starts a token and ">" ends one (neither
// when it is the first character); text after the last ">" is no token.
// Trail bytes of double-byte characters never take the values of "<", ">",
// TAB or LF, so the scan can go byte by byte.
void tqXmlParser::Tokenise(tqXmlReader& reader) {
  char* text = reader.Data();
  const uint32_t size = reader.Size();
  tokens_.reserve(size / 16 + 4);
  uint32_t start = 0;
  for (uint32_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c > '>') continue;
    switch (c) {
      case '\t':
      case '\n':
        text[i] = ' ';
        break;
      case '<':
        if (i) tokens_.push_back({start, i - start});
        start = i;
        break;
      case '>':
        if (i) tokens_.push_back({start, i + 1 - start});
        start = i + 1;
        break;
      default:
        break;
    }
  }
}

bool tqXmlParser::CheckDeclaration(const char* text) {
  if (tokens_.empty()) return false;
  const Token& first = tokens_[0];
  if (!ParseTag(text + first.begin, first.length, "<?", "?>", tag_)) return false;
  if (tag_.nameLength != 3 || memcmp(tag_.name, "xml", 3) != 0) return false;
  for (const TagAttribute& a : tag_.attributes) {
    if (EqualNoCase(a.name, a.nameLength, "version") && EqualNoCase(a.value, a.valueLength, "1.0")) {
      return true;
    }
  }
  return false;
}

// A comment runs from a token starting with "<!--" to the first token from
// there on that ends with "-->" (3 bytes at least). When no such end exists
// from one beginning on, none exists from any later one either, so the scan
// for ends stops there and the pass stays linear.
void tqXmlParser::RemoveComments(const char* text) {
  size_t out = 0;
  size_t count = tokens_.size();
  bool endsRemain = true;
  for (size_t i = 0; i < count;) {
    const Token t = tokens_[i];
    if (endsRemain && t.length >= 4 && memcmp(text + t.begin, "<!--", 4) == 0) {
      size_t j = i;
      for (; j < count; ++j) {
        const Token& e = tokens_[j];
        if (e.length >= 3 && memcmp(text + e.begin + e.length - 3, "-->", 3) == 0) break;
      }
      if (j < count) {
        i = j + 1;
        continue;
      }
      endsRemain = false;
    }
    tokens_[out++] = t;
    ++i;
  }
  tokens_.resize(out);
}

// Parses one tag token between its delimiters into tag: the first word is
// the name, then words with "=" are attributes until the first word that is
// not one or whose value is invalid (that case leaves a message, no code).
bool tqXmlParser::ParseTag(const char* token, size_t length, const char* open, const char* close,
                           Tag& tag) {
  tag.name = nullptr;
  tag.nameLength = 0;
  tag.attributes.clear();
  const size_t openLength = strlen(open);
  const size_t closeLength = strlen(close);
  if (length < openLength || !EqualNoCase(token, open, openLength)) {
    SetMessage("タグではありません。");
    return false;
  }
  if (length >= closeLength && !EqualNoCase(token + length - closeLength, close, closeLength)) {
    SetMessage("タグ定義に誤りがあります。");
    return false;
  }
  // The text between the delimiters; overlapping delimiters leave none.
  const char* p = token + openLength;
  const char* end = token + (length >= closeLength ? length - closeLength : length);
  if (end < p) end = p;

  // A word is a run of bytes up to the next single-byte space: trail bytes
  // are never 0x20, so a double-byte character cannot be cut by this.
  auto nextWord = [&](const char*& wordBegin, const char*& wordEnd) {
    while (p < end && *p == ' ') ++p;
    if (p == end) return false;
    wordBegin = p;
    while (p < end && *p != ' ') ++p;
    wordEnd = p;
    return true;
  };

  const char* wordBegin;
  const char* wordEnd;
  if (!nextWord(wordBegin, wordEnd)) {
    SetMessage("不正なタグです。");
    return false;
  }
  tag.name = wordBegin;
  tag.nameLength = static_cast<size_t>(wordEnd - wordBegin);

  while (nextWord(wordBegin, wordEnd)) {
    const size_t wordLength = static_cast<size_t>(wordEnd - wordBegin);
    const char* equals = static_cast<const char*>(memchr(wordBegin, '=', wordLength));
    if (!equals) break;
    const size_t nameLength = static_cast<size_t>(equals - wordBegin);
    const char* quote = equals + 1;
    if (quote == wordEnd || (*quote != '"' && *quote != '\'')) {
      SetMessage("属性(%s)の値が不正です。", MessageArgument(wordBegin, nameLength).c_str());
      break;
    }
    // Quotes are never trail bytes either: the closing quote is the next byte
    // equal to the opening one. It must end the word; a missing one is taken
    // as running to the end of the word.
    const char* valueBegin = quote + 1;
    const char* valueEnd = static_cast<const char*>(
        memchr(valueBegin, *quote, static_cast<size_t>(wordEnd - valueBegin)));
    if (valueEnd) {
      if (valueEnd + 1 != wordEnd) {
        SetMessage("属性(%s)の値が不正です。", MessageArgument(wordBegin, nameLength).c_str());
        break;
      }
    } else {
      valueEnd = wordEnd;
    }
    tag.attributes.push_back(
        {wordBegin, nameLength, valueBegin, static_cast<size_t>(valueEnd - valueBegin)});
  }
  return true;
}

bool tqXmlParser::FillElement(tqXmlTreeNode* element, const Tag& tag) {
  element->name.assign(tag.name, tag.nameLength);
  for (const TagAttribute& a : tag.attributes) {
    tqXmlTreeNode* attribute = AddAttribute(element);
    if (!attribute) return false;
    attribute->name.assign(a.name, a.nameLength);
    attribute->value.assign(a.value, a.valueLength);
  }
  return true;
}

// The root element starts at token `position`. Text tokens go to the open
// element's value, start tags open a child, an end tag must name the open
// element and closes it; the end of the tokens closes every open element.
int tqXmlParser::ParseElements(const char* text, size_t position) {
  std::vector<tqXmlTreeNode*> open;
  {
    tqXmlTreeNode* root = AddElement(tree_);
    if (!root) return Fail(XML_NO_BUFFER, "読み込みバッファが無効です。");
    const Token& t = tokens_[position];
    if (!ParseTag(text + t.begin, t.length, "<", ">", tag_)) return XML_BAD_TAG;
    if (!FillElement(root, tag_)) return Fail(XML_NO_BUFFER, "読み込みバッファが無効です。");
    open.push_back(root);
  }
  const size_t count = tokens_.size();
  for (++position; position < count; ++position) {
    const Token& t = tokens_[position];
    const char* token = text + t.begin;
    tqXmlTreeNode* current = open.back();
    if (!t.length || token[0] != '<') {
      current->value.append(token, t.length);
      continue;
    }
    if (!ParseTag(token, t.length, "<", ">", tag_)) return XML_BAD_TAG;
    if (tag_.name[0] != '/') {
      tqXmlTreeNode* child = AddElement(current);
      if (!child || !FillElement(child, tag_)) return Fail(XML_NO_BUFFER, "読み込みバッファが無効です。");
      open.push_back(child);
      continue;
    }
    if (tag_.nameLength - 1 != current->name.size() ||
        memcmp(tag_.name + 1, current->name.data(), tag_.nameLength - 1) != 0) {
      return Fail(XML_BAD_END_TAG, "タグ終端<%s>が不正です。",
                  MessageArgument(tag_.name, tag_.nameLength).c_str());
    }
    open.pop_back();
    if (open.empty()) break;  // tokens after the root's end tag are ignored
  }
  return XML_OK;
}
