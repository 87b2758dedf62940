// Text between the library's code page 932 and the terminal, for the
// command-line tools: arguments typed in the terminal's charset, output shown
// in it, and paths given on the command line.
#pragma once

#include <string>

namespace tqp {

// Command-line text in code page 932; false when a character has no form
// there.
bool NarrowFromConsole(const std::string& text, std::string& narrow);
// Code page 932 text in the terminal's charset; a character without a form
// there (or a byte that is no character) becomes "?".
std::string ConsoleFromNarrow(const std::string& narrow);
// A path typed on the command line in the library's path form; false when
// it has no Shift_JIS form.
bool LibraryPathFromArgument(const char* argument, std::string& path);
// Standard output without line-end translation, for exact bytes.
void SetBinaryOutput();

}  // namespace tqp
