// Scanning the data folder and keeping install.log sorted and unique.
#include "app/FileList.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/Install.h"
#include "file/tqFile.h"
#include "util/tqUtil.h"

FileList& TheFileList() {
  static FileList* list = new FileList;
  return *list;
}

namespace {
constexpr size_t kPathBuffer = 1024;

bool JoinBounded(char* out, const char* relative, const char* name) {
  if (!*relative) {
    if (strlen(name) >= kPathBuffer) return false;
    strcpy(out, name);
    return true;
  }
  if (strlen(relative) + 1 + strlen(name) >= kPathBuffer) return false;
  tqPathJoin(out, 2, relative, name);
  return true;
}
}  // namespace

void ScanFolder(const char* relative, FileList& list) { ScanFolder("", relative, list); }

void ScanFolder(const char* base, const char* relative, FileList& list) {
  char local[kPathBuffer], pattern[kPathBuffer];
  if (!JoinBounded(local, relative, "*.*") ||
      (*base ? !tqPathJoinSized(pattern, sizeof pattern, base, local) : !JoinBounded(pattern, "", local))) {
    DebugPrint("scan : path too long : %s", relative);
    return;
  }
  tqp::FindData data;
  tqp::FindHandle search = tqp::FindFirst(pattern, data);
  if (!search) return;
  do {
    bool folder = data.attributes & tqp::ATTR_DIRECTORY;
    if (folder && (!strcmp(data.name, ".") || !strcmp(data.name, ".."))) continue;
    char child[kPathBuffer];
    if (!JoinBounded(child, relative, data.name)) {
      DebugPrint("scan : path too long : %s\\%s", relative, data.name);
      continue;
    }
    if (folder)
      ScanFolder(base, child, list);
    else
      list.emplace_back(child);
  } while (tqp::FindNext(search, data));
  tqp::FindClose(search);
}

int CompareNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int x = (unsigned char)*a, y = (unsigned char)*b;
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y || !x) return x - y;
  }
}

LogList::~LogList() {
  for (Node* n = head_; n;) {
    Node* next = n->next;
    delete n;
    n = next;
  }
}

void LogList::Add(const char* line) {
  size_t length = strlen(line);
  if (length >= sizeof(Node::line)) {
    DebugPrint("install.log : line too long, skipped (%d bytes)", (int)length);
    return;
  }
  Node* node = new Node;
  memcpy(node->line, line, length + 1);
  node->next = nullptr;
  node->prev = tail_;
  if (tail_)
    tail_->next = node;
  else
    head_ = node;
  tail_ = node;
  ++count_;
}

void LogList::LoadText(const char* text) {
  // A line that does not fit is read whole and then refused by Add.
  std::string line;
  size_t pos = 0;
  size_t length = strlen(text);
  line.resize(length + 1);
  for (;;) {
    int used = tqReadLine(text, pos, line.data());
    if (!used) break;
    Add(line.c_str());
    pos += (size_t)used;
  }
}

bool LogList::Load(const char* path) {
  char* text;
  uint32_t size;
  if (!ReadWholeFile(path, &text, &size)) return false;
  LoadText(text);
  FreeWholeFile(text);
  return true;
}

LogList::Node* LogList::MergeSort(Node* head, size_t count) {
  if (count <= 1) {
    if (head) head->next = nullptr;
    return head;
  }
  size_t half = count / 2;
  Node* middle = head;
  for (size_t i = 0; i < half; ++i) middle = middle->next;
  Node* left = MergeSort(head, half);
  Node* right = MergeSort(middle, count - half);
  Node dummy;
  Node* tail = &dummy;
  while (left && right) {
    // Equal lines keep their order: the left one goes first.
    if (CompareNoCase(right->line, left->line) < 0) {
      tail->next = right;
      right = right->next;
    } else {
      tail->next = left;
      left = left->next;
    }
    tail = tail->next;
  }
  tail->next = left ? left : right;
  return dummy.next;
}

void LogList::SortUnique() {
  head_ = MergeSort(head_, count_);
  Node* prev = nullptr;
  for (Node* n = head_; n;) {
    if (prev && CompareNoCase(prev->line, n->line) == 0) {
      Node* next = n->next;
      prev->next = next;
      delete n;
      --count_;
      n = next;
      continue;
    }
    n->prev = prev;
    prev = n;
    n = n->next;
  }
  tail_ = prev;
}

bool LogList::Write(const char* path) const {
  tqFile file;
  if (!file.Open(path, TQFILE_WRITE | TQFILE_CREATE)) return false;
  std::string text;
  for (Node* n = head_; n; n = n->next) {
    text += n->line;
    text += "\r\n";
  }
  bool ok = text.empty() || file.Write(text.data(), (uint32_t)text.size()) == (int)text.size();
  file.Close();
  return ok;
}

std::vector<std::string> LogList::Lines() const {
  std::vector<std::string> lines;
  for (Node* n = head_; n; n = n->next) lines.emplace_back(n->line);
  return lines;
}

void UpdateInstallLog(const char* installFolder, const FileList& files) {
  char path[1024];
  if (strlen(installFolder) + 16 > sizeof path) return;
  tqPathJoin(path, 2, installFolder, "install.log");
  LogList log;
  log.Load(path);
  for (const std::string& file : files) {
    std::string quoted = "\"" + file + "\"";
    log.Add(quoted.c_str());
  }
  log.SortUnique();
  log.Write(path);
}
