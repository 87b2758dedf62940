// Scanning the data folder and keeping install.log sorted and unique.
#include "app/FileList.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

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
  return tqPathJoinSized(out, kPathBuffer, relative, name);
}

bool Refuse(Refusal* why, Refusal::Kind kind, const std::string& path) {
  if (why) why->Set(kind, path);
  return false;
}

// The reason a search that found nothing more ended: a clean end, or a
// folder the scan cannot trust to be complete.
bool SearchEnded(Refusal* why, const char* relative, const tqp::FindData& data) {
  uint32_t error = tqp::LastError();
  if (error == tqp::ERR_NO_MORE_FILES || error == tqp::ERR_FILE_NOT_FOUND ||
      error == tqp::ERR_SUCCESS)
    return true;
  if (error != tqp::ERR_NO_UNICODE_TRANSLATION)
    return Refuse(why, Refusal::UNREADABLE, *relative ? relative : ".");
  // The platform shows the name with '?' where it has no form.
  std::string name = *relative ? std::string(relative) + "\\" : std::string();
  return Refuse(why, Refusal::NAME_NOT_IN_CODE_PAGE, name + data.name);
}

// One entry of the scan: false when it refuses the package.
bool TakeEntry(const char* relative, const tqp::FindData& data, FileList& list, Refusal* why,
               std::string* folder) {
  char child[kPathBuffer];
  if (!JoinBounded(child, relative, data.name))
    return Refuse(why, Refusal::PATH_TOO_LONG, std::string(relative) + "\\" + data.name);
  if (data.attributes & tqp::ATTR_REPARSE_POINT) return Refuse(why, Refusal::LINK, child);
  if (data.attributes & tqp::ATTR_DEVICE) return Refuse(why, Refusal::SPECIAL_FILE, child);
  // A name the code page cannot hold comes back from the A functions with
  // '?' in its place, which no file name may contain.
  if (strchr(data.name, '?')) return Refuse(why, Refusal::NAME_NOT_IN_CODE_PAGE, child);
  try {
    if (data.attributes & tqp::ATTR_DIRECTORY)
      folder->assign(child);
    else
      list.emplace_back(child);
  } catch (...) {
    return Refuse(why, Refusal::OUT_OF_MEMORY, child);
  }
  return true;
}

}  // namespace

// Depth first with a stack of open searches rather than recursion: a deep
// tree must not run the main thread out of stack.
bool ScanFolder(const char* relative, FileList& list, Refusal* why) {
  return ScanFolder("", relative, list, why);
}

bool ScanFolder(const char* base, const char* relative, FileList& list, Refusal* why) {
  if (!base) base = "";
  struct Frame {
    tqp::FindHandle search;
    std::string relative;
  };
  std::vector<Frame> stack;
  bool ok = true;
  std::string next = relative ? relative : "";
  for (bool descend = true; ok;) {
    tqp::FindData data;
    if (descend) {
      descend = false;
      char local[kPathBuffer], pattern[kPathBuffer];
      if (!JoinBounded(local, next.c_str(), "*.*") ||
          (*base ? !tqPathJoinSized(pattern, sizeof pattern, base, local) : !JoinBounded(pattern, "", local))) {
        ok = Refuse(why, Refusal::PATH_TOO_LONG, next);
        break;
      }
      tqp::SetLastError(tqp::ERR_SUCCESS);
      tqp::FindHandle search = tqp::FindFirst(pattern, data);
      if (!search) {
        // A folder that vanished since it was listed is as good as empty.
        if (tqp::LastError() != tqp::ERR_PATH_NOT_FOUND) ok = SearchEnded(why, next.c_str(), data);
        if (stack.empty()) break;
        continue;
      }
      try {
        stack.push_back({search, next});
      } catch (...) {
        tqp::FindClose(search);
        ok = Refuse(why, Refusal::OUT_OF_MEMORY, next);
        break;
      }
    } else if (stack.empty()) {
      break;
    } else if (!tqp::FindNext(stack.back().search, data)) {
      ok = SearchEnded(why, stack.back().relative.c_str(), data);
      tqp::FindClose(stack.back().search);
      stack.pop_back();
      continue;
    }
    bool folder = data.attributes & tqp::ATTR_DIRECTORY;
    bool link = data.attributes & tqp::ATTR_REPARSE_POINT;
    if (folder && !link && (!strcmp(data.name, ".") || !strcmp(data.name, ".."))) continue;
    next.clear();
    ok = TakeEntry(stack.back().relative.c_str(), data, list, why, &next);
    descend = ok && !next.empty();
  }
  for (Frame& frame : stack) tqp::FindClose(frame.search);
  return ok;
}

bool CheckDestinations(const char* installFolder, const FileList& files, Refusal* why) {
  // Each folder on the way is looked at once, however many files lie below.
  std::unordered_set<std::string> seen;
  auto check = [&](const std::string& relative) -> bool {
    char path[kPathBuffer];
    if (!tqPathJoinSized(path, sizeof path, installFolder, relative.c_str()))
      return Refuse(why, Refusal::PATH_TOO_LONG, relative);
    uint32_t attributes = tqp::GetAttributesNoFollow(path);
    if (attributes == tqp::ATTR_INVALID) return true;  // made by the copy
    if (attributes & tqp::ATTR_REPARSE_POINT) return Refuse(why, Refusal::LINK, path);
    if (attributes & tqp::ATTR_DEVICE) return Refuse(why, Refusal::SPECIAL_FILE, path);
    return true;
  };
  try {
    if (!check("install.log")) return false;
    for (const std::string& file : files) {
      // Every prefix of the relative path that ends at a separator, then the
      // file itself; a trail byte 0x5C is no separator.
      for (size_t i = 0; i < file.size(); ++i) {
        if (tqIsDoubleByte(file.c_str(), i)) {
          ++i;
          continue;
        }
        if (file[i] != '\\') continue;
        std::string folder = file.substr(0, i);
        if (!seen.insert(folder).second) continue;
        if (!check(folder)) return false;
      }
      if (!check(file)) return false;
    }
  } catch (...) {
    return Refuse(why, Refusal::OUT_OF_MEMORY, installFolder);
  }
  return true;
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
  for (Block* b = blocks_; b;) {
    Block* next = b->next;
    free(b);
    b = next;
  }
  free(lines_);
}

bool LogList::Reserve(size_t lines) {
  if (lines <= capacity_) return true;
  size_t capacity = capacity_ ? capacity_ : 1024;
  while (capacity < lines) {
    if (capacity > SIZE_MAX / 2 / sizeof(char*)) return false;
    capacity *= 2;
  }
  auto* grown = static_cast<const char**>(realloc(lines_, capacity * sizeof(char*)));
  if (!grown) return false;
  lines_ = grown;
  capacity_ = capacity;
  return true;
}

// A copy of the line in the arena; blocks of 1 MiB hold many lines each.
char* LogList::Store(const char* line, size_t length) {
  if (!blocks_ || blocks_->capacity - blocks_->used < length + 1) {
    const size_t capacity = 1u << 20;
    auto* block = static_cast<Block*>(malloc(sizeof(Block) + capacity));
    if (!block) return nullptr;
    block->next = blocks_;
    block->used = 0;
    block->capacity = capacity;
    blocks_ = block;
  }
  char* copy = blocks_->Bytes() + blocks_->used;
  memcpy(copy, line, length);
  copy[length] = 0;
  blocks_->used += length + 1;
  return copy;
}

bool LogList::Add(const char* line) {
  size_t length = strlen(line);
  if (length > 259) {
    DebugPrint("install.log : line too long, skipped (%d bytes)", (int)length);
    return true;
  }
  // A line equal to the one just before it would be dropped by SortUnique
  // anyway (the sort is stable): a log of repeated lines costs nothing.
  if (count_ && CompareNoCase(lines_[count_ - 1], line) == 0)
    return true;
  if (!Reserve(count_ + 1)) return false;
  char* copy = Store(line, length);
  if (!copy) return false;
  lines_[count_++] = copy;
  return true;
}

bool LogList::LoadText(const char* text) {
  // A line that does not fit is read whole and then refused by Add.
  size_t length = strlen(text);
  char* line = static_cast<char*>(malloc(length + 1));
  if (!line) return false;
  bool ok = true;
  for (size_t pos = 0; ok;) {
    int used = tqReadLine(text, pos, line);
    if (!used) break;
    ok = Add(line);
    pos += (size_t)used;
  }
  free(line);
  return ok;
}

bool LogList::Load(const char* path) {
  uint32_t attributes = tqp::GetAttributesNoFollow(path);
  if (attributes == tqp::ATTR_INVALID ||
      (attributes & (tqp::ATTR_REPARSE_POINT | tqp::ATTR_DEVICE | tqp::ATTR_DIRECTORY)))
    return false;
  char* text;
  uint32_t size;
  if (!ReadWholeFile(path, &text, &size, kMaxInstallLogBytes)) return false;
  size_t before = count_;
  bool ok = LoadText(text);
  FreeWholeFile(text);
  if (!ok) count_ = before;
  return ok;
}

namespace {

// One pass of a bottom-up merge: runs of width from in to out; equal lines
// keep their order (the left one goes first).
void MergePass(const char** in, const char** out, size_t count, size_t width) {
  for (size_t left = 0; left < count; left += 2 * width) {
    size_t middle = std::min(left + width, count), right = std::min(left + 2 * width, count);
    size_t i = left, j = middle, k = left;
    while (i < middle && j < right) out[k++] = CompareNoCase(in[j], in[i]) < 0 ? in[j++] : in[i++];
    while (i < middle) out[k++] = in[i++];
    while (j < right) out[k++] = in[j++];
  }
}

}  // namespace

bool LogList::SortUnique() {
  if (count_ > 1) {
    auto* scratch = static_cast<const char**>(malloc(count_ * sizeof(char*)));
    if (!scratch) return false;
    const char** in = lines_;
    const char** out = scratch;
    for (size_t width = 1; width < count_; width *= 2) {
      MergePass(in, out, count_, width);
      std::swap(in, out);
    }
    if (in != lines_) memcpy(lines_, in, count_ * sizeof(char*));
    free(scratch);
  }
  size_t kept = 0;
  for (size_t i = 0; i < count_; ++i)
    if (!kept || CompareNoCase(lines_[kept - 1], lines_[i]) != 0) lines_[kept++] = lines_[i];
  count_ = kept;
  return true;
}

bool LogList::Write(const char* path) const {
  tqFile file;
  if (!file.Open(path, TQFILE_WRITE | TQFILE_CREATE)) return false;
  // Written in pieces: the log may be large and memory short.
  char buffer[16384];
  size_t used = 0;
  bool ok = true;
  auto flush = [&] {
    if (used && file.Write(buffer, (uint32_t)used) != (int)used) ok = false;
    used = 0;
  };
  for (size_t i = 0; i < count_ && ok; ++i) {
    size_t length = strlen(lines_[i]);
    if (sizeof buffer - used < length + 2) flush();
    memcpy(buffer + used, lines_[i], length);
    buffer[used + length] = '\r';
    buffer[used + length + 1] = '\n';
    used += length + 2;
  }
  flush();
  file.Close();
  return ok;
}

std::vector<std::string> LogList::Lines() const {
  std::vector<std::string> lines;
  for (size_t i = 0; i < count_; ++i) lines.emplace_back(lines_[i]);
  return lines;
}

bool UpdateInstallLog(const char* installFolder, const FileList& files, Refusal* why) {
  char path[1024];
  if (!tqPathJoinSized(path, sizeof path, installFolder, "install.log"))
    return Refuse(why, Refusal::PATH_TOO_LONG, installFolder);
  // Only a log that is not there counts as empty: one that exists but cannot
  // be taken in would be lost by the rewrite.
  uint32_t attributes = tqp::GetAttributesNoFollow(path);
  if (attributes != tqp::ATTR_INVALID && (attributes & tqp::ATTR_REPARSE_POINT))
    return Refuse(why, Refusal::LINK, path);
  LogList log;
  if (attributes != tqp::ATTR_INVALID && !log.Load(path)) {
    Refusal::Kind kind = Refusal::UNREADABLE;
    if (attributes & tqp::ATTR_DEVICE) kind = Refusal::SPECIAL_FILE;
    tqFile file;
    if (kind == Refusal::UNREADABLE && file.Open(path, TQFILE_READ | TQFILE_EXISTING) &&
        (uint32_t)file.GetSize() > kMaxInstallLogBytes)
      kind = Refusal::TOO_LARGE;
    return Refuse(why, kind, path);
  }
  char quoted[300];
  for (const std::string& file : files) {
    if (file.size() + 3 > sizeof quoted) {
      DebugPrint("install.log : line too long, skipped (%d bytes)", (int)file.size() + 2);
      continue;
    }
    snprintf(quoted, sizeof quoted, "\"%s\"", file.c_str());
    if (!log.Add(quoted)) return Refuse(why, Refusal::OUT_OF_MEMORY, path);
  }
  if (!log.SortUnique()) return Refuse(why, Refusal::OUT_OF_MEMORY, path);
  if (!log.Write(path)) return Refuse(why, Refusal::WRITE_FAILED, path);
  return true;
}
