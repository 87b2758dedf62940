// POSIX system information for the capability probe: the kernel's release as
// an unknown platform, processor data from CPUID and /proc/cpuinfo, memory from
// sysinfo, and a reader of INI-style profile files.
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/tqCpuX86.h"
#include "platform/tqPlatform.h"
#include "platform/tqSysInfo.h"
#include "platform/tqSysInfoText.h"

namespace tqp {

bool QueryOsVersion(OsVersion& version) {
  struct utsname u;
  if (uname(&u) != 0) return false;
  version = OsVersion();
  version.platformId = PLATFORM_OTHER;
  // "6.1.0-18-amd64": the leading numbers.
  unsigned numbers[3] = {0, 0, 0};
  const char* p = u.release;
  for (int i = 0; i < 3 && *p; ++i) {
    char* end = nullptr;
    numbers[i] = (unsigned)strtoul(p, &end, 10);
    if (end == p) break;
    p = end;
    if (*p == '.') ++p;
    else break;
  }
  version.major = numbers[0];
  version.minor = numbers[1];
  version.build = numbers[2];
  return true;
}

bool Is64BitSystem() {
  if (sizeof(void*) == 8) return true;
  struct utsname u;
  return uname(&u) == 0 && strstr(u.machine, "64") != nullptr;
}

bool QueryOsVersionEx(OsVersionEx& version) {
  OsVersion v;
  if (!QueryOsVersion(v)) return false;
  version = OsVersionEx();
  version.major = v.major;
  version.minor = v.minor;
  version.build = v.build;
  return true;
}

bool QueryProductType(const OsVersionEx&, uint32_t*) { return false; }

bool DxDiagVersion(uint32_t*, uint32_t*, char*) { return false; }
bool CanLoadD3d11() { return false; }
bool GetSystemDirectory(char* out, size_t size) {
  if (out && size) out[0] = 0;
  return false;
}

bool CpuCanToggleFlag(unsigned bit) { return cpu::CanToggleFlag(bit); }
void Cpuid(uint32_t leaf, uint32_t regs[4]) { cpu::Cpuid(leaf, regs); }
uint64_t ReadTimeStampCounter() { return cpu::ReadTsc(); }

bool PerformanceFrequency(int64_t* frequency) {
  if (!frequency) return false;
  *frequency = 1000000000;
  return true;
}

bool PerformanceCounter(int64_t* count) {
  struct timespec ts;
  if (!count || clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *count = (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
  return true;
}

uint32_t ProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? (uint32_t)n : 1;
}

void ProcessorDescription(char* name, size_t nameSize, uint32_t* megahertz) {
  if (name && nameSize) name[0] = 0;
  if (megahertz) *megahertz = 0;
  FILE* f = fopen("/proc/cpuinfo", "r");
  if (!f) return;
  std::vector<char> text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() < (1u << 20))
    text.insert(text.end(), chunk, chunk + n);
  fclose(f);
  CpuInfoFromText(text.data(), text.size(), name, nameSize, megahertz);
}

bool QueryMemoryStatus(MemoryStatus& status) {
  struct sysinfo si;
  if (sysinfo(&si) != 0) return false;
  const uint64_t unit = si.mem_unit ? si.mem_unit : 1;
  status.totalPhysical = (uint64_t)si.totalram * unit;
  status.availablePhysical = ((uint64_t)si.freeram + si.bufferram) * unit;
  // The page file of Windows counts physical memory and swap together.
  status.totalPageFile = ((uint64_t)si.totalram + si.totalswap) * unit;
  status.availablePageFile = ((uint64_t)si.freeram + si.bufferram + si.freeswap) * unit;
  return true;
}

uint32_t ReadProfileString(const char* file, const char* section, const char* key, char* out,
                           size_t size) {
  if (!out || size == 0) return 0;
  out[0] = 0;
  if (!file || !section || !key) return 0;
  FileHandle h = FileOpen(file, ACCESS_READ, SHARE_READ, DISP_OPEN_EXISTING, 0);
  if (h == INVALID_FILE) return 0;
  // Profiles are small; a larger file is read only as far as this.
  constexpr uint32_t LIMIT = 1u << 20;
  int64_t length = FileSize(h);
  std::vector<char> text(length > 0 ? (size_t)(length < LIMIT ? length : LIMIT) : 0);
  uint32_t done = 0;
  bool ok = text.empty() || FileRead(h, text.data(), (uint32_t)text.size(), &done);
  FileClose(h);
  if (!ok) return 0;
  return ProfileValueFromText(text.data(), done, section, key, out, size);
}

}  // namespace tqp
