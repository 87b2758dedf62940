// Child processes and process limits, for programs that drive other programs
// (the tests start their peers with these).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tqp {

using ProcessHandle = void*;

// Starts program (library path form) with arguments; it inherits the
// environment. Null on failure.
ProcessHandle StartProcess(const char* program, const std::vector<std::string>& arguments);
// True when the process ended within ms (INFINITE_WAIT: no limit); *exitCode
// then holds its exit code.
bool WaitProcess(ProcessHandle process, uint32_t milliseconds, uint32_t* exitCode);
void KillProcess(ProcessHandle process);
// Releases the handle (the process keeps running if it still does).
void CloseProcess(ProcessHandle process);

// Sets (value non-null) or removes an environment variable of this process.
bool SetEnvironment(const char* name, const char* value);
// Value of an environment variable; false when it is not set.
bool GetEnvironment(const char* name, std::string& value);

// Makes writes past bytes fail in this process instead of ending it; false
// where the system has no such limit.
bool LimitFileSize(uint64_t bytes);

}  // namespace tqp
