// A literal, slow reading of the XML dialect in its documented stages (reader,
// token list, declaration check, comment removal, recursive element parse,
// tree linked in front, model copied front to back), for the fuzz target to
// hold the one-pass parser against. Small inputs only: it recurses.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace xmlref {

struct Node {
  std::string name, value;
  std::vector<std::pair<std::string, std::string>> attributes;  // tree order
  std::vector<std::unique_ptr<Node>> children;                  // tree order
  void LinkAttribute(std::string n, std::string v) {
    attributes.insert(attributes.begin(), {n, v});
  }
};

struct Result {
  int code = 0;
  std::string message;
  std::vector<std::unique_ptr<Node>> top;  // tree root's children, tree order
};

inline bool Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF); }
inline bool Trail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

class Parser {
 public:
  Result result;

  void Parse(const char* data, size_t length) {
    // Reader: copy, 8 zero bytes, CR LF -> LF, content up to the first zero.
    std::string copy(data, length);
    copy.append(8, '\0');
    std::string folded;
    for (size_t i = 0; i < copy.size(); ++i) {
      if (copy[i] == '\r' && i + 1 < copy.size() && copy[i + 1] == '\n') {
        folded += '\n';
        ++i;
      } else {
        folded += copy[i];
      }
    }
    text_ = std::string(folded.c_str());
    Tokenise();
    Tag declaration;
    bool ok = !tokens_.empty() && ParseTag(tokens_[0], "<?", "?>", declaration) &&
              declaration.name == "xml";
    bool version = false;
    for (auto& a : declaration.attributes) {
      if (NoCase(a.first, "version") && NoCase(a.second, "1.0")) version = true;
    }
    if (!ok || !version) {
      Fail(4, "読み込みできない形式のファイルです。");
      return;
    }
    RemoveComments();
    for (size_t i = 1; i < tokens_.size(); ++i) {
      if (!tokens_[i].empty() && tokens_[i][0] == '<') {
        size_t position = i;
        result.code = Element(result.top, position);
        return;
      }
    }
    result.code = 0;
  }

 private:
  struct Tag {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;  // parse order
  };
  std::string text_;
  std::vector<std::string> tokens_;

  void Fail(int code, const std::string& message) {
    result.code = code;
    SetMessage(message);
  }
  void SetMessage(const std::string& message) { result.message = message.substr(0, 511); }

  static bool NoCase(const std::string& a, const char* b) {
    if (a.size() != strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      unsigned char x = a[i], y = b[i];
      if (x >= 'A' && x <= 'Z') x += 32;
      if (y >= 'A' && y <= 'Z') y += 32;
      if (x != y) return false;
    }
    return true;
  }

  // Characters as the reader gives them: a double-byte pair or one byte.
  size_t CharLength(const std::string& s, size_t p) const {
    return p + 1 < s.size() && Lead(s[p]) && Trail(s[p + 1]) ? 2 : 1;
  }

  void Tokenise() {
    std::string work;
    for (size_t p = 0; p < text_.size();) {
      size_t n = CharLength(text_, p);
      std::string c = text_.substr(p, n);
      if (c == "\t" || c == "\n") {
        work += ' ';
      } else if (c == "<") {
        if (p != 0) tokens_.push_back(work);
        work = "<";
      } else if (c == ">") {
        if (p != 0) {
          work += '>';
          tokens_.push_back(work);
        }
        work.clear();
      } else {
        work += c;
      }
      p += n;
    }
  }

  void RemoveComments() {
    std::vector<std::string> kept;
    for (size_t i = 0; i < tokens_.size();) {
      if (tokens_[i].compare(0, 4, "<!--") == 0) {
        size_t j = i;
        for (; j < tokens_.size(); ++j) {
          const std::string& t = tokens_[j];
          if (t.size() >= 3 && t.compare(t.size() - 3, 3, "-->") == 0) break;
        }
        if (j < tokens_.size()) {
          i = j + 1;
          continue;
        }
      }
      kept.push_back(tokens_[i]);
      ++i;
    }
    tokens_.swap(kept);
  }

  bool NextWord(const std::string& s, size_t& p, std::string& word) {
    while (p < s.size() && s[p] == ' ') ++p;
    if (p >= s.size()) return false;
    size_t begin = p;
    p += CharLength(s, p);
    while (p < s.size() && s[p] != ' ') p += CharLength(s, p);
    word = s.substr(begin, p - begin);
    return true;
  }

  bool ParseTag(const std::string& token, const char* open, const char* close, Tag& tag) {
    tag = Tag();
    size_t o = strlen(open), c = strlen(close);
    if (token.size() < o || !NoCase(token.substr(0, o), open)) {
      SetMessage("タグではありません。");
      return false;
    }
    if (token.size() >= c && !NoCase(token.substr(token.size() - c), close)) {
      SetMessage("タグ定義に誤りがあります。");
      return false;
    }
    size_t end = token.size() >= c ? token.size() - c : token.size();
    std::string inner = end > o ? token.substr(o, end - o) : std::string();
    size_t p = 0;
    std::string word;
    if (!NextWord(inner, p, word)) {
      SetMessage("不正なタグです。");
      return false;
    }
    tag.name = word;
    while (NextWord(inner, p, word)) {
      size_t equals = word.find('=');
      if (equals == std::string::npos) break;
      std::string name = word.substr(0, equals);
      if (equals + 1 >= word.size() || (word[equals + 1] != '"' && word[equals + 1] != '\'')) {
        SetMessage("属性(" + name + ")の値が不正です。");
        break;
      }
      char quote = word[equals + 1];
      size_t q = equals + 2;
      std::string value;
      bool closed = false;
      while (q < word.size()) {
        size_t n = CharLength(word, q);
        if (n == 1 && word[q] == quote) {
          closed = true;
          break;
        }
        value += word.substr(q, n);
        q += n;
      }
      if (closed && q + 1 != word.size()) {
        SetMessage("属性(" + name + ")の値が不正です。");
        break;
      }
      tag.attributes.push_back({name, value});
    }
    return true;
  }

  // Returns the code; position ends after the element's end tag (or at the
  // end of the tokens).
  int Element(std::vector<std::unique_ptr<Node>>& siblings, size_t& position) {
    siblings.insert(siblings.begin(), std::make_unique<Node>());
    Node* node = siblings.front().get();
    Tag tag;
    if (!ParseTag(tokens_[position], "<", ">", tag)) return 5;
    node->name = tag.name;
    for (auto& a : tag.attributes) node->LinkAttribute(a.first, a.second);
    ++position;
    while (position < tokens_.size()) {
      const std::string& t = tokens_[position];
      if (t.empty() || t[0] != '<') {
        node->value += t;
        ++position;
        continue;
      }
      Tag temporary;
      if (!ParseTag(t, "<", ">", temporary)) return 5;
      if (temporary.name[0] != '/') {
        int code = Element(node->children, position);
        if (code) return code;
        continue;
      }
      if (temporary.name.substr(1) != node->name) {
        Fail(6, "タグ終端<" + temporary.name + ">が不正です。");
        return 6;
      }
      ++position;
      return 0;
    }
    return 0;
  }
};

}  // namespace xmlref
