// Child processes on POSIX: posix_spawn, waitpid with a deadline, kill.
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform/tqPlatform.h"
#include "platform/tqProcess.h"

extern char** environ;

namespace tqp {
namespace {

struct Process {
  pid_t pid;
  bool ended;
  int status;
};

uint32_t ExitCodeOf(int status) {
  if (WIFEXITED(status)) return (uint32_t)WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128u + (uint32_t)WTERMSIG(status);
  return 255;
}

}  // namespace

ProcessHandle StartProcess(const char* program, const std::vector<std::string>& arguments) {
  std::string path;
  if (!program || !ToSystemPath(program, path)) return nullptr;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return nullptr;
  return new Process{pid, false, 0};
}

bool WaitProcess(ProcessHandle process, uint32_t milliseconds, uint32_t* exitCode) {
  Process* p = static_cast<Process*>(process);
  if (!p) return false;
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (!p->ended) {
    int status = 0;
    pid_t r = waitpid(p->pid, &status, WNOHANG);
    if (r == p->pid) {
      p->ended = true;
      p->status = status;
      break;
    }
    if (r < 0 && errno != EINTR) return false;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t elapsed = (int64_t)(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (milliseconds != INFINITE_WAIT && elapsed >= (int64_t)milliseconds) return false;
    struct timespec pause = {0, 2000000};
    nanosleep(&pause, nullptr);
  }
  if (exitCode) *exitCode = ExitCodeOf(p->status);
  return true;
}

void KillProcess(ProcessHandle process) {
  Process* p = static_cast<Process*>(process);
  if (p && !p->ended) kill(p->pid, SIGKILL);
}

void CloseProcess(ProcessHandle process) {
  Process* p = static_cast<Process*>(process);
  if (!p) return;
  // Reap a process that has ended; one still running is left alone.
  if (!p->ended) waitpid(p->pid, &p->status, WNOHANG);
  delete p;
}

bool SetEnvironment(const char* name, const char* value) {
  if (!name) return false;
  return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

bool GetEnvironment(const char* name, std::string& value) {
  const char* v = name ? getenv(name) : nullptr;
  if (!v) return false;
  value = v;
  return true;
}

bool LimitFileSize(uint64_t bytes) {
  // Without this the first write past the limit would end the process.
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  limit.rlim_cur = (rlim_t)bytes;
  limit.rlim_max = (rlim_t)bytes;
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

}  // namespace tqp
