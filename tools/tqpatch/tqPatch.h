// tqpatch: builds, checks and dry-runs update packages for the people who
// make them. Shared pieces of the three commands.
#pragma once

#include "tools/common/tqProgressBar.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tqpatch {

// Exit statuses of every command.
enum : int {
  EXIT_OK = 0,
  EXIT_PROBLEM = 1,  // the package has faults, the update would stop, or the work failed
  EXIT_USAGE = 2,    // wrong arguments
};

// Library text (code page 932) for the terminal.
std::string Show(const std::string& narrow);
// A system path for messages, in the terminal's charset.
std::string ShownPath(const std::filesystem::path& path);
// "tqpatch: <text>" on stderr; returns EXIT_PROBLEM.
int Error(const std::string& narrowText);
void Warning(const std::string& narrowText);

// A path given on the command line, both as the system sees it and in the
// library's form (code page 932, backslashes). False when it has no
// Shift_JIS form.
struct ArgPath {
  std::filesystem::path system;
  std::string library;
};
bool PathFromArgument(const char* argument, ArgPath& out);
// Command-line text in code page 932.
bool TextFromArgument(const char* argument, std::string& narrow);

// One entry of a tree, found by walking the system's folder.
struct TreeEntry {
  std::filesystem::path system;  // full system path
  std::string relative;          // code page 932, backslashes; empty when the name has no form
  std::string shown;             // the relative name for messages (terminal charset)
  enum Kind { File, Folder, Link, Special } kind = File;
  uint64_t size = 0;
  bool nameRoundTrips = true;  // the name converts to code page 932 and back unchanged
};
// Every entry below root, folders before their contents; links are listed,
// never followed. False (with a message) when root cannot be read.
bool WalkTree(const std::filesystem::path& root, std::vector<TreeEntry>& out);

// A progress bar on stderr for work of at least 8 MiB.
using Progress = tqProgressBar;

// Byte comparison and copy of files given by system path, feeding progress.
// SameContent: -1 when a file cannot be read.
int SameContent(const std::filesystem::path& a, const std::filesystem::path& b, Progress& progress);
bool CopyFileTo(const std::filesystem::path& from, const std::filesystem::path& to, Progress& progress);

// A whole file as bytes, and bytes as a whole file.
bool ReadTextFile(const std::filesystem::path& path, std::string& text);
bool WriteBytes(const std::filesystem::path& path, const std::string& bytes);

std::string Bytes(uint64_t n);

int Make(int argc, const char* const* argv);
int Check(int argc, const char* const* argv);
int Plan(int argc, const char* const* argv);
int Texts(int argc, const char* const* argv);

// The message-text template that ships with the tool: an updateinfo.xml
// fragment in Shift_JIS with Japanese and English texts, %TITLE% standing for
// the game's title.
const char* TextTemplate();

// Every message key the updater reads from a language section, as paths
// below the section.
struct MessageKey {
  const char* group;
  const char* key;
  size_t field;  // the width of its field in the updater's record
};
const std::vector<MessageKey>& MessageKeys();

}  // namespace tqpatch
