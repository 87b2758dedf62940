// Parsing of the XML dialect: reader, tokens, declaration check, comment
// removal, tag and element parse, and the parser's tree.
//
// One pass does what the dialect describes as stages. Tokens are runs of the
// reader's buffer: "<" starts one, ">" ends one, and neither byte is ever the
// trail byte of a double-byte character, so the scan goes byte by byte. TAB,
// LF and a CR LF pair (the LF it folds to) read as a space wherever they
// count: as word separators in tags, and when text is added to a value. A
// comment is skipped from its "<!--" token to the first token ending in
// "-->", which is the first "-->" in the buffer from there on. The element
// parse keeps its open elements on a stack of its own, so nesting depth is
// bounded by memory, never by the call stack.
#include "xml/tqXmlParser.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "file/tqFile.h"
#include "util/tqUtil.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  if (length) memcpy(data_, src, length);
  memset(data_ + length, 0, 8);
  size_ = static_cast<uint32_t>(length);
  return true;
}

void tqXmlReader::Release() {
  if (data_) PrivateFree(data_);
  data_ = nullptr;
  size_ = 0;
}

// ------------------------------------------------------------------ tree

tqXmlParser::tqXmlParser() { tree_ = NewNode(); }

tqXmlParser::~tqXmlParser() {
  tqXmlDestroyList(parsed_);
  ReleaseTree();
}

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
  Materialise();
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
  Materialise();
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

tqXmlNodeList* tqXmlParser::TakeParsed() {
  tqXmlNodeList* parsed = parsed_;
  parsed_ = nullptr;
  lent_ = parsed;
  return parsed;
}

void tqXmlParser::Materialise() {
  const tqXmlNodeList* source = parsed_ ? parsed_ : lent_;
  lent_ = nullptr;
  if (source && tree_) MaterialiseFrom(*source);
  tqXmlDestroyList(parsed_);
  parsed_ = nullptr;
}

// The tree a parse links up holds siblings and attributes in the order of
// the model's sequences (each new node went in front): link each sequence
// from its end, in front, to get that order back.
void tqXmlParser::MaterialiseFrom(const tqXmlNodeList& list) {
  struct Work {
    const tqXmlNodeList* list;
    tqXmlTreeNode* parent;
  };
  std::vector<Work> pending{{&list, tree_}};
  while (!pending.empty()) {
    Work work = pending.back();
    pending.pop_back();
    for (size_t i = work.list->size(); i-- > 0;) {
      const tqXmlNode& node = (*work.list)[i];
      tqXmlTreeNode* element = NewNode();
      tqXmlTreeNode* attributes = element ? NewNode() : nullptr;
      if (!attributes) return;
      element->attributes = attributes;
      attributes->parent = element;
      element->parent = work.parent;
      element->next = work.parent->firstChild;
      if (element->next) element->next->prev = element;
      work.parent->firstChild = element;
      element->name = node.name;
      element->value = node.value;
      if (node.attributes) {
        for (size_t k = node.attributes->size(); k-- > 0;) {
          tqXmlTreeNode* attribute = NewNode();
          if (!attribute) return;
          attribute->parent = attributes;
          attribute->next = attributes->firstChild;
          if (attribute->next) attribute->next->prev = attribute;
          attributes->firstChild = attribute;
          attribute->name = (*node.attributes)[k].name;
          attribute->value = (*node.attributes)[k].value;
        }
      }
      if (node.children) pending.push_back({node.children, element});
    }
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

// The classes of bytes the parse cares about, for the 64 bytes from p (fewer
// at the end): bit i of a mask stands for byte i.
struct ByteMasks {
  uint64_t delimiters = 0;  // "<" and ">"
  uint64_t controls = 0;    // TAB, LF and CR: text to fold, or separators
  uint64_t spaces = 0;      // separators
};

ByteMasks MasksOf(const char* p, size_t available) {
  ByteMasks masks;
#if defined(__SSE2__)
  if (available >= 64) {
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (int i = 0; i < 4; ++i) {
      __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
      uint64_t delimiters = static_cast<uint32_t>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lt), _mm_cmpeq_epi8(bytes, gt))));
      __m128i control =
          _mm_or_si128(_mm_cmpeq_epi8(bytes, tab),
                       _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)));
      uint64_t controls = static_cast<uint32_t>(_mm_movemask_epi8(control));
      uint64_t spaces = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, space)));
      masks.delimiters |= delimiters << (16 * i);
      masks.controls |= controls << (16 * i);
      masks.spaces |= spaces << (16 * i);
    }
    return masks;
  }
#endif
  const size_t n = available < 64 ? available : 64;
  for (size_t i = 0; i < n; ++i) {
    const char c = p[i];
    if (c == '<' || c == '>') masks.delimiters |= uint64_t{1} << i;
    if (c == '\t' || c == '\n' || c == '\r') masks.controls |= uint64_t{1} << i;
    if (c == ' ') masks.spaces |= uint64_t{1} << i;
  }
  return masks;
}

// Finds the delimiters of a text front to back, 64 bytes per look: tokens
// are short, so most are found in the masks already at hand, which also tell
// whether a token holds any blank at all.
class DelimiterScanner {
 public:
  DelimiterScanner(const char* text, size_t size) : text_(text), size_(size) {}
  // Offset of the first "<" or ">" at or after offset at, or the size. Most
  // calls find it in the masks at hand; the rest look further out of line.
  inline size_t Next(size_t at) {
    const size_t offset = at - base_;  // wraps when at lies before the block
    if (offset < 64) {
      const uint64_t bits = masks_.delimiters & (~uint64_t{0} << offset);
      if (bits) return base_ + static_cast<size_t>(__builtin_ctzll(bits));
    }
    return NextFar(at);
  }
  // True when the bytes [from, to) are known to be spaces only.
  bool AllSpaces(size_t from, size_t to) const {
    if (from >= to) return true;
    if (from < base_ || to - base_ > 64) return false;
    const size_t n = to - from;
    const uint64_t range = n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
    return ((masks_.spaces >> (from - base_)) & range) == range;
  }
  // False when the bytes [from, to) hold no TAB, LF or CR (no space either,
  // with spaces set); true when they may.
  bool MayHoldBlanks(size_t from, size_t to, bool spaces) const {
    if (from >= to) return false;
    if (from < base_ || to - base_ > 64) return true;
    const size_t n = to - from;
    const uint64_t range = n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
    const uint64_t blanks = spaces ? masks_.controls | masks_.spaces : masks_.controls;
    return ((blanks >> (from - base_)) & range) != 0;
  }

 private:
  __attribute__((noinline)) size_t NextFar(size_t at) {
    while (at < size_) {
      if (at < base_ || at - base_ >= 64) {
        base_ = at;
        masks_ = MasksOf(text_ + at, size_ - at);
      }
      const uint64_t bits = masks_.delimiters & (~uint64_t{0} << (at - base_));
      if (bits) return base_ + static_cast<size_t>(__builtin_ctzll(bits));
      at = base_ + 64;
    }
    return size_;
  }

  const char* text_;
  size_t size_;
  size_t base_ = SIZE_MAX;  // no block looked at yet
  ByteMasks masks_;
};

// The "-->" of the first token at or after a comment's "<!--" (at begin)
// that ends with it, or none. Its ">" ends a token, and the token holds all
// three bytes, so the first "-->" from begin + 2 on is that end.
const char* FindCommentEnd(const char* begin, const char* end) {
  const char* p = begin + 4;
  while (p < end) {
    const char* gt = static_cast<const char*>(memchr(p, '>', static_cast<size_t>(end - p)));
    if (!gt) return nullptr;
    if (gt[-1] == '-' && gt[-2] == '-') return gt - 2;
    p = gt + 1;
  }
  return nullptr;
}

// True when the bytes hold a word separator of a tag (space, TAB, LF, or a
// CR before an LF).
bool HasSeparator(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (c <= ' ' &&
        (c == ' ' || c == '\t' || c == '\n' || (c == '\r' && i + 1 < n && p[i + 1] == '\n'))) {
      return true;
    }
  }
  return false;
}

// Byte comparison for the short names of end tags.
bool SameBytes(const char* a, const char* b, size_t n) {
  if (n > 32) return memcmp(a, b, n) == 0;
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Folds the text of value from offset from on as the dialect reads it: TAB,
// LF and a CR LF pair each become one space; a lone CR stays.
void FoldText(std::string& value, size_t from) {
  char* p = value.data() + from;
  char* const stop = value.data() + value.size();
  // Most text needs no change past its first TAB, LF or CR.
  while (p < stop && *p != '\t' && *p != '\n' && *p != '\r') ++p;
  if (p == stop) return;
  char* out = p;
  for (; p < stop; ++p) {
    char c = *p;
    if (c == '\t' || c == '\n') {
      c = ' ';
    } else if (c == '\r' && p + 1 < stop && p[1] == '\n') {
      c = ' ';
      ++p;
    }
    *out++ = c;
  }
  value.resize(static_cast<size_t>(out - value.data()));
}

// Adds text to a value, folded.
void AppendText(std::string& value, const char* text, size_t length) {
  // Parents gather many short pieces: grow in bigger steps from the start.
  if (value.size() + length > value.capacity())
    value.reserve(std::max<size_t>(2 * value.capacity(), 128));
  // The line break and indentation between elements: all spaces once folded.
  if (length >= 2 && text[0] == '\r' && text[1] == '\n') {
    size_t i = 2;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == length) {
      value.append(length - 1, ' ');
      return;
    }
  }
  const size_t old = value.size();
  value.append(text, length);
  FoldText(value, old);
}

}  // namespace

// ------------------------------------------------------------------ loading

int tqXmlParser::ParseFile(const char* path) {
  rootClosed_ = false;
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
  rootClosed_ = false;
  if (!data) return Fail(XML_NO_BUFFER, "読み込みバッファが無効です。");
  // What an earlier parse found joins the tree first: this parse's root
  // element goes in front of it.
  Materialise();
  tqXmlReader reader;
  // A copy the private heap cannot supply (or a missing tree root) fails the
  // load as a missing buffer would.
  if (!tree_ || !reader.Load(data, length))
    return Fail(XML_NO_BUFFER, "読み込みバッファが無効です。");
  const char* text = reader.Data();
  const char* end = text + reader.Size();

  // The declaration must be the first token, which a first byte other than
  // "<" rules out (text, or a dropped ">" followed by another token).
  const char* declarationEnd = nullptr;
  if (text < end && *text == '<') {
    const char* d = text + DelimiterScanner(text, reader.Size()).Next(1);
    if (d < end) declarationEnd = *d == '>' ? d + 1 : d;
  }
  if (!declarationEnd || !CheckDeclaration(text, static_cast<size_t>(declarationEnd - text))) {
    return Fail(XML_BAD_FORMAT, "読み込みできない形式のファイルです。");
  }
  parsed_ = new tqXmlNodeList;
  error_ = ParseElements(text, end, declarationEnd);
  return error_;
}

bool tqXmlParser::CheckDeclaration(const char* token, size_t length) {
  if (!ParseTag(token, length, "<?", 2, "?>", 2, tag_)) return false;
  if (tag_.nameLength != 3 || memcmp(tag_.name, "xml", 3) != 0) return false;
  for (const TagAttribute& a : tag_.attributes) {
    if (EqualNoCase(a.name, a.nameLength, "version") &&
        EqualNoCase(a.value, a.valueLength, "1.0")) {
      return true;
    }
  }
  return false;
}

// Parses one tag token between its delimiters into tag: the first word is
// the name, then words with "=" are attributes until the first word that is
// not one or whose value is invalid (that case leaves a message, no code).
bool tqXmlParser::ParseTag(const char* token, size_t length, const char* open, size_t openLength,
                           const char* close, size_t closeLength, Tag& tag) {
  tag.name = nullptr;
  tag.nameLength = 0;
  tag.attributes.clear();
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

  // Words are separated by spaces, TABs and LFs (a CR LF pair counts as its
  // LF). No trail byte takes any of these values, so a double-byte character
  // is never cut.
  auto separator = [end](const char* q) {
    const char c = *q;
    return c == ' ' || c == '\t' || c == '\n' || (c == '\r' && q + 1 < end && q[1] == '\n');
  };
  auto nextWord = [&](const char*& wordBegin, const char*& wordEnd) {
    while (p < end && separator(p)) ++p;
    if (p == end) return false;
    wordBegin = p;
    while (p < end && !separator(p)) ++p;
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

// Name and attributes; the attributes in the model's order, the last first.
void tqXmlParser::Fill(tqXmlNode& node, const Tag& tag) {
  node.name.assign(tag.name, tag.nameLength);
  const size_t count = tag.attributes.size();
  if (!count) return;
  node.attributes = new tqXmlAttributeList(count);
  for (size_t i = 0; i < count; ++i) {
    const TagAttribute& a = tag.attributes[i];
    tqXmlAttribute& target = (*node.attributes)[count - 1 - i];
    target.name.assign(a.name, a.nameLength);
    target.value.assign(a.value, a.valueLength);
  }
}

// Elements under construction live on a stack of their own: an open element,
// then its finished children, then its open child, and so on. Closing an
// element builds its children sequence from its finished children (they
// stand right above it), last first, which is the model's order. The usual
// element, a name and a text only, waits there as the two byte runs and is
// made once, in its place in the sequence; every other element is a node of
// its own from the start (kept in nodes_, in the same stack order).
namespace {

class ElementStack {
 public:
  ElementStack() {
    entries_.reserve(64);
    nodes_.reserve(16);
  }
  bool Empty() const { return open_.empty(); }
  tqXmlNode& Current() { return nodes_[entries_[open_.back()].node]; }
  tqXmlNode& Open() {
    open_.push_back(entries_.size());
    entries_.push_back({nullptr, 0, nullptr, 0, static_cast<uint32_t>(nodes_.size()), false});
    return nodes_.emplace_back();
  }
  // A finished element of name and text (fold: the text may need folding).
  void AddPlain(const char* name, size_t nameLength, const char* text, size_t textLength,
                bool fold) {
    entries_.push_back({name, static_cast<uint32_t>(nameLength), text,
                        static_cast<uint32_t>(textLength), kPlain, fold});
  }
  void Close() {
    const size_t at = open_.back();
    open_.pop_back();
    const size_t count = entries_.size() - at - 1;
    if (!count) return;
    const uint32_t node = entries_[at].node;
    tqXmlNodeList* children = new tqXmlNodeList;
    children->reserve(count);
    for (size_t i = entries_.size(); i-- > at + 1;) {
      const Entry& entry = entries_[i];
      if (entry.node == kPlain) {
        tqXmlNode& child =
            children->emplace_back(entry.name, entry.nameLength, entry.text, entry.textLength);
        if (entry.fold) FoldText(child.value, 0);
      } else {
        children->push_back(std::move(nodes_[entry.node]));
      }
    }
    entries_.resize(at + 1);
    nodes_.resize(node + 1);
    nodes_[node].children = children;
  }
  // The root element, once every element is closed.
  tqXmlNode TakeRoot() { return std::move(nodes_[0]); }
  bool HasRoot() const { return !entries_.empty(); }

 private:
  static constexpr uint32_t kPlain = UINT32_MAX;
  struct Entry {
    const char* name;  // plain elements: the byte runs
    uint32_t nameLength;
    const char* text;
    uint32_t textLength;
    uint32_t node;  // index in nodes_, or kPlain
    bool fold;
  };
  std::vector<Entry> entries_;
  std::vector<tqXmlNode> nodes_;
  std::vector<size_t> open_;  // indexes in entries_
};

}  // namespace

// From the token after the declaration: text before the root element and
// after its end is ignored; inside it, text tokens go to the open element's
// value, start tags open a child, an end tag must name the open element and
// closes it, and the end of the input closes every open element.
int tqXmlParser::ParseElements(const char* text, const char* end, const char* p) {
  const size_t size = static_cast<size_t>(end - text);
  DelimiterScanner scanner(text, size);
  ElementStack elements;
  bool commentEndsRemain = true;
  int code = XML_OK;
  while (p < end) {
    const char* begin = p;
    const char* d = text + scanner.Next(static_cast<size_t>(p - text) + (*p == '<' ? 1 : 0));
    if (d == end) break;  // text after the last ">" is no token
    p = *d == '>' ? d + 1 : d;
    const size_t length = static_cast<size_t>(p - begin);
    if (length == 0) continue;
    if (*begin != '<') {
      if (!elements.Empty()) {
        const size_t from = static_cast<size_t>(begin - text);
        if (length >= 2 && begin[0] == '\r' && begin[1] == '\n' &&
            scanner.AllSpaces(from + 2, from + length)) {
          // A line break and indentation: spaces once folded.
          std::string& value = elements.Current().value;
          if (value.size() + length > value.capacity())
            value.reserve(std::max<size_t>(2 * value.capacity(), 128));
          value.append(length - 1, ' ');
        } else if (scanner.MayHoldBlanks(from, from + length, false)) {
          AppendText(elements.Current().value, begin, length);
        } else {
          elements.Current().value.append(begin, length);
        }
      }
      continue;
    }
    if (commentEndsRemain && length >= 4 && begin[1] == '!' && begin[2] == '-' && begin[3] == '-') {
      const char* commentEnd = FindCommentEnd(begin, end);
      if (commentEnd) {
        p = commentEnd + 3;
        continue;
      }
      // No comment begun from here on can end either.
      commentEndsRemain = false;
    }
    if (!elements.HasRoot()) {
      // The root element; a start tag that fails leaves it nameless.
      tqXmlNode& root = elements.Open();
      if (!ParseTag(begin, length, "<", 1, ">", 1, tag_)) {
        code = XML_BAD_TAG;
        break;
      }
      Fill(root, tag_);
      continue;
    }
    // A tag that is one plain word ("<name>", "</name>") parses to that word
    // alone; anything else takes the full tag parse.
    const size_t from = static_cast<size_t>(begin - text) + 1;
    if (begin[length - 1] == '>' && length > 2 &&
        (!scanner.MayHoldBlanks(from, from + length - 2, true) ||
         !HasSeparator(begin + 1, length - 2))) {
      tag_.name = begin + 1;
      tag_.nameLength = length - 2;
      tag_.attributes.clear();
    } else if (!ParseTag(begin, length, "<", 1, ">", 1, tag_)) {
      code = XML_BAD_TAG;
      break;
    }
    if (tag_.name[0] != '/') {
      // The usual element holds text and then its own plain end tag: take
      // the two tokens at once.
      const size_t textEnd = scanner.Next(static_cast<size_t>(p - text));
      if (textEnd < size && text[textEnd] == '<' && text[textEnd + 1] == '/') {
        const size_t tagEnd = scanner.Next(textEnd + 1);
        if (tagEnd < size && text[tagEnd] == '>' && tagEnd - textEnd - 2 == tag_.nameLength &&
            SameBytes(text + textEnd + 2, tag_.name, tag_.nameLength)) {
          const size_t from = static_cast<size_t>(p - text);
          const bool fold = scanner.MayHoldBlanks(from, textEnd, false);
          if (tag_.attributes.empty()) {
            elements.AddPlain(tag_.name, tag_.nameLength, p, textEnd - from, fold);
          } else {
            tqXmlNode& element = elements.Open();
            Fill(element, tag_);
            element.value.assign(p, textEnd - from);
            if (fold) FoldText(element.value, 0);
            elements.Close();
          }
          p = text + tagEnd + 1;
          continue;
        }
      }
      Fill(elements.Open(), tag_);
      continue;
    }
    const std::string& name = elements.Current().name;
    if (tag_.nameLength - 1 != name.size() || !SameBytes(tag_.name + 1, name.data(), name.size())) {
      code = Fail(XML_BAD_END_TAG, "タグ終端<%s>が不正です。",
                  MessageArgument(tag_.name, tag_.nameLength).c_str());
      break;
    }
    elements.Close();
    if (elements.Empty()) {
      rootClosed_ = true;
      break;  // tokens after the root's end tag are ignored
    }
  }
  // Elements left open (at the end of the input, or by a failure) are
  // complete as they stand.
  while (!elements.Empty()) elements.Close();
  if (elements.HasRoot()) parsed_->push_back(elements.TakeRoot());
  return code;
}
