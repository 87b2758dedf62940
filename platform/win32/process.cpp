// Child processes on Windows: CreateProcess, waits and termination.
#include <windows.h>

#include "platform/tqPlatform.h"
#include "platform/tqProcess.h"

namespace tqp {
namespace {

// Quotes one argument the way the C runtime splits command lines.
void AppendArgument(std::string& line, const std::string& a) {
  if (!line.empty()) line += ' ';
  if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) {
    line += a;
    return;
  }
  line += '"';
  size_t backslashes = 0;
  for (char c : a) {
    if (c == '\\') {
      ++backslashes;
    } else if (c == '"') {
      line.append(backslashes * 2 + 1, '\\');
      line += '"';
      backslashes = 0;
      continue;
    } else {
      backslashes = 0;
    }
    line += c;
  }
  line.append(backslashes, '\\');
  line += '"';
}

}  // namespace

ProcessHandle StartProcess(const char* program, const std::vector<std::string>& arguments) {
  if (!program) return nullptr;
  std::string line;
  AppendArgument(line, program);
  for (const std::string& a : arguments) AppendArgument(line, a);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(program, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

bool WaitProcess(ProcessHandle process, uint32_t milliseconds, uint32_t* exitCode) {
  if (!process) return false;
  if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  if (exitCode) *exitCode = code;
  return true;
}

void KillProcess(ProcessHandle process) {
  if (process) TerminateProcess(process, 1);
}

void CloseProcess(ProcessHandle process) {
  if (process) CloseHandle(process);
}

bool SetEnvironment(const char* name, const char* value) {
  return name && SetEnvironmentVariableA(name, value);
}

bool GetEnvironment(const char* name, std::string& value) {
  if (!name) return false;
  char buffer[4096];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return false;
  value.assign(buffer, n);
  return true;
}

bool LimitFileSize(uint64_t) { return false; }

}  // namespace tqp
