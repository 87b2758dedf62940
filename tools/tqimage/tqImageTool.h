// The commands of tqimage: info, convert and raw.
#pragma once

#include <cstdio>

// Runs one command line, argv[0] being the program name; text results go to
// out, messages to err. The private heap must exist, and library messages go
// to whatever log sink is attached. Returns the exit status: 0 success,
// 1 failure, 2 usage.
int tqImageTool(int argc, const char* const* argv, FILE* out, FILE* err);
