// Shared pieces of the unit tests: a presenter that records error boxes, a
// sink that records debug lines, and temporary folders in the library's path
// form.
#pragma once

#include <string>
#include <vector>

#include "tqClassBase/tqDebug.h"

namespace tqtest {

// The test main creates the library's private heap before the first test; a
// test that destroys it creates it again before it ends.

// Every error box and debug line of the running test, in order. The test main
// installs the recorder before each test and clears it after.
struct Recorder {
  std::vector<std::string> boxes;   // texts of error boxes
  std::vector<std::string> lines;   // debug lines
  void Clear() { boxes.clear(); lines.clear(); }
};
Recorder& Diagnostics();

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away. Path() is in the library's form.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  // Path() + "\" + relative.
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

// Whole-file helpers over the platform layer (library path form).
bool WriteFile(const std::string& path, const std::string& bytes);
bool ReadFile(const std::string& path, std::string& bytes);
std::string ReadFile(const std::string& path);
void RemoveTree(const std::string& path);

// Folder of the running test program, for fixtures built beside it.
std::string ProgramFolder();

}  // namespace tqtest
