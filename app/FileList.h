// The package's file list and the installation's install.log.
#pragma once

#include <string>
#include <vector>

// Relative paths of the files below the data folder, in scan order.
using FileList = std::vector<std::string>;
FileList& TheFileList();

// Adds every file below the current folder's subfolder `relative` (empty: the
// current folder itself), depth first, in the platform's order. Paths that do
// not fit 1023 bytes are skipped with a debug line.
void ScanFolder(const char* relative, FileList& list);
// The same below the folder base (a full path) instead of the current folder;
// the listed paths stay relative to base.
void ScanFolder(const char* base, const char* relative, FileList& list);

// install.log as a doubly linked list of lines of at most 259 bytes.
class LogList {
 public:
  LogList() = default;
  ~LogList();
  LogList(const LogList&) = delete;
  LogList& operator=(const LogList&) = delete;

  // Appends the file's lines; false (and no change) when it cannot be read.
  bool Load(const char* path);
  // Appends the lines of a text (CR LF, LF or the end close a line).
  void LoadText(const char* text);
  // Lines longer than 259 bytes are skipped with a debug line: a cut path
  // would name another file.
  void Add(const char* line);
  // Stable case-insensitive sort, then later duplicates dropped.
  void SortUnique();
  // Each line followed by CR LF; false when the file cannot be written.
  bool Write(const char* path) const;

  std::vector<std::string> Lines() const;
  size_t Count() const { return count_; }

 private:
  struct Node {
    Node* prev;
    Node* next;
    char line[260];
  };
  static Node* MergeSort(Node* head, size_t count);

  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  size_t count_ = 0;
};

// ASCII letters as lower case, every other byte by value.
int CompareNoCase(const char* a, const char* b);

// The install.log step of starting the copy: load the old log of the
// installation (a missing one is no error), add each file of the list in
// double quotes, sort, drop duplicates and write it back.
void UpdateInstallLog(const char* installFolder, const FileList& files);
