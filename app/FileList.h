// The package's file list and the installation's install.log.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/Refusal.h"

// Relative paths of the files below the data folder, in scan order.
using FileList = std::vector<std::string>;
FileList& TheFileList();

// Adds every file below the current folder's subfolder `relative` (empty: the
// current folder itself), depth first, in the platform's order. Nothing is
// followed or skipped silently: a link (symbolic link, junction, reparse
// point), a special file, a name without a code-page-932 form, a path longer
// than 1023 bytes or a folder that cannot be read stops the scan with false
// and the reason in *why (when given). A missing folder adds nothing.
bool ScanFolder(const char* relative, FileList& list, Refusal* why = nullptr);
// The same below the folder base (a full path; empty: the current folder);
// the listed paths stay relative to base.
bool ScanFolder(const char* base, const char* relative, FileList& list, Refusal* why = nullptr);

// Checks what the update would write through in the installation before
// anything is written: every folder and file on the way from installFolder to
// each listed file, and install.log, must not be a link or a special file
// (missing ones are fine: they will be made). False with the reason when one is.
bool CheckDestinations(const char* installFolder, const FileList& files, Refusal* why = nullptr);

// install.log is refused rather than loaded above this size.
constexpr size_t kMaxInstallLogBytes = 16u << 20;

// install.log as a sorted list of lines of at most 259 bytes. Lines live in
// an arena and are sorted through an index, so a log of many short lines costs
// a few bytes per line beyond its text; every allocation failure is reported.
class LogList {
 public:
  LogList() = default;
  ~LogList();
  LogList(const LogList&) = delete;
  LogList& operator=(const LogList&) = delete;

  // Appends the file's lines; false (and no change) when it cannot be read,
  // is not a regular file or is larger than kMaxInstallLogBytes.
  bool Load(const char* path);
  // Appends the lines of a text (CR LF, LF or the end close a line); false
  // when memory ran out (the lines before stay).
  bool LoadText(const char* text);
  // Lines longer than 259 bytes are skipped with a debug line: a cut path
  // would name another file. A line equal (without regard to case) to the
  // last one is not stored: SortUnique would drop it. False only when memory
  // ran out.
  bool Add(const char* line);
  // Stable case-insensitive sort, then later duplicates dropped; false when
  // memory ran out (the list is then unchanged).
  bool SortUnique();
  // Each line followed by CR LF; false when the file cannot be written.
  bool Write(const char* path) const;

  std::vector<std::string> Lines() const;
  size_t Count() const { return count_; }

 private:
  bool Reserve(size_t lines);
  char* Store(const char* line, size_t length);

  struct Block {
    Block* next;
    size_t used, capacity;
    char* Bytes() { return reinterpret_cast<char*>(this + 1); }
  };
  Block* blocks_ = nullptr;
  const char** lines_ = nullptr;
  size_t count_ = 0, capacity_ = 0;
};

// ASCII letters as lower case, every other byte by value.
int CompareNoCase(const char* a, const char* b);

// The install.log step of starting the copy: load the old log of the
// installation (a missing one is no error), add each file of the list in
// double quotes, sort, drop duplicates and write it back. False, with nothing
// written, when the old log exists but is a link, a special file, too large or
// unreadable, or when memory runs out; false as well when the write fails.
bool UpdateInstallLog(const char* installFolder, const FileList& files, Refusal* why = nullptr);
