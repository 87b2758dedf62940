// System information for the capability probe: operating-system version and
// edition, processor identification and clock, memory, the DirectX runtime's
// diagnostic provider, system folders and profile (INI) values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tqp {

// ---------------------------------------------------------------- OS version
// Platform numbers as the system reports them; POSIX reports PLATFORM_OTHER
// with the kernel's release numbers.
enum : uint32_t {
  PLATFORM_WIN32S = 0,
  PLATFORM_WIN9X = 1,
  PLATFORM_NT = 2,
  PLATFORM_OTHER = 0xFFFF,
};
struct OsVersion {
  uint32_t platformId = 0;
  uint32_t major = 0, minor = 0, build = 0;
  std::string servicePack;  // code page 932
};
// The true version (RtlGetVersion); false when it cannot be had.
bool QueryOsVersion(OsVersion& version);
// True when this process runs as 32-bit code on a 64-bit system, or on POSIX
// when the system is 64-bit.
bool Is64BitSystem();

// GetVersionEx with the extended structure (what the process is told, which
// may differ from the true version).
struct OsVersionEx {
  uint32_t major = 0, minor = 0, build = 0;
  uint16_t servicePackMajor = 0, servicePackMinor = 0;
};
bool QueryOsVersionEx(OsVersionEx& version);
// GetProductInfo; false when the system has none or it fails.
bool QueryProductType(const OsVersionEx& version, uint32_t* productType);

// ---------------------------------------------------------------- DirectX
// Major, minor and letter of the DirectX runtime from its diagnostic provider;
// false unless all three were read. Letter is the first character of the
// version letter as the provider gives it (not lower-cased).
bool DxDiagVersion(uint32_t* major, uint32_t* minor, char* letter);
// Whether the Direct3D 11 runtime library can be loaded.
bool CanLoadD3d11();
// The system folder (System32); false where there is none.
bool GetSystemDirectory(char* out, size_t size);

// ---------------------------------------------------------------- processor
// Whether the EFLAGS bit can be toggled (18: alignment check, 21: ID).
bool CpuCanToggleFlag(unsigned bit);
// CPUID; regs receives EAX, EBX, ECX, EDX.
void Cpuid(uint32_t leaf, uint32_t regs[4]);
// The time-stamp counter, serialised by CPUID before the read.
uint64_t ReadTimeStampCounter();
bool PerformanceFrequency(int64_t* frequency);
bool PerformanceCounter(int64_t* count);
uint32_t ProcessorCount();
// Processor name and clock as the system describes the first processor
// (Windows: the registry's CentralProcessor\0 key; POSIX: /proc/cpuinfo).
// The name is empty and the clock 0 when absent.
void ProcessorDescription(char* name, size_t nameSize, uint32_t* megahertz);

// ---------------------------------------------------------------- memory
struct MemoryStatus {
  uint64_t availablePhysical = 0, totalPhysical = 0;
  uint64_t availablePageFile = 0, totalPageFile = 0;
};
bool QueryMemoryStatus(MemoryStatus& status);

// ---------------------------------------------------------------- profiles
// GetPrivateProfileString with an empty default: the value of key in
// [section] of file, cut to size - 1 bytes; returns its length (0 when absent).
uint32_t ReadProfileString(const char* file, const char* section, const char* key, char* out,
                           size_t size);

}  // namespace tqp
