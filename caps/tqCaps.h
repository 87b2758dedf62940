// The system probe: Windows version and edition, DirectX version, processor,
// memory and the machine's manufacturer and model, found once per process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tqClassBase/tqClassBase.h"

// The Windows record, copied whole by GetOsInfo.
struct tqOsInfo {
  int32_t code;  // TQOS_… below; 0 when no version could be had
  int32_t major;
  int32_t minor;
  int32_t build;
  int32_t bits;  // 32 or 64
  char name[128];         // the name with " (x86)" or " (x64)"
  char servicePack[128];  // code page 932
  uint8_t unused[4];
  char edition[128];
};
static_assert(sizeof(tqOsInfo) == 408, "the Windows record is 408 bytes");

// The processor record; also the DDE item "TQCAPS_DDE_CPU", so its layout is
// fixed (little-endian).
struct tqCpuInfo {
  int32_t type;      // 1: 386 class, 2: 486 class, else signature bits 12-13
  int32_t family;
  int32_t model;
  int32_t stepping;
  char vendor[16];
  int32_t clock;     // measured MHz, 0 when not measured
  int32_t hasCpuid;
  int32_t mmx;
  int32_t cmov;
  int32_t sse;
  int32_t amd3dNow;
  int32_t processors;
  char name[256];
  int32_t registryClock;  // MHz as the system describes it
};
static_assert(sizeof(tqCpuInfo) == 320, "the processor record is 320 bytes");
static_assert(offsetof(tqCpuInfo, vendor) == 16 && offsetof(tqCpuInfo, clock) == 32 &&
                  offsetof(tqCpuInfo, processors) == 56 && offsetof(tqCpuInfo, name) == 60 &&
                  offsetof(tqCpuInfo, registryClock) == 316,
              "processor record offsets are part of the DDE exchange");

// Windows codes.
enum : int32_t {
  TQOS_WIN32S = 1,
  TQOS_WIN95 = 2,
  TQOS_WIN98 = 3,
  TQOS_WINME = 4,
  TQOS_WIN9X = 15,
  TQOS_WINNT = 0x10,
  TQOS_WINNT3 = 0x20,
  TQOS_WINNT4 = 0x30,
  TQOS_WIN2000 = 0x40,
  TQOS_WINXP = 0x50,
  TQOS_VISTA = 0x60,
  TQOS_WIN7 = 0x61,
  TQOS_WIN8 = 0x62,
  TQOS_WIN81 = 0x63,
  TQOS_WIN10 = 0x64,
  TQOS_UNKNOWN = 0xFFFF,
};

// Probe flags.
enum : int {
  TQCAPS_OS = 0x01,
  TQCAPS_DIRECTX = 0x02,
  TQCAPS_MEMORY = 0x04,
  TQCAPS_CPU = 0x08,
  TQCAPS_CPU_CLOCK = 0x10,
  TQCAPS_OEM = 0x20,
  TQCAPS_ALL = 0x7F,
};

// DDE modes of the probe.
enum : int { TQCAPS_DDE_NONE = 0, TQCAPS_DDE_SERVER = 1, TQCAPS_DDE_CLIENT = 2 };

class tqCaps : public tqClassBase {
 public:
  tqCaps();
  ~tqCaps();
  tqCaps(const tqCaps&) = delete;
  tqCaps& operator=(const tqCaps&) = delete;

  // Fills the object and makes it the process's tqCaps; nothing when one
  // exists already.
  void Probe(int flags, int ddeMode);
  void GetOsInfo(tqOsInfo* destination) const;
  // Copies the record when a destination is given; returns its address.
  tqCpuInfo* GetCpuInfo(tqCpuInfo* destination);

  tqOsInfo os;
  int32_t dxVersion;   // major * 65536 + minor * 256 + letter number
  char dxText[128];    // "%d.%d%s": "9.0c", "9.0 "; empty when the probe failed
  tqCpuInfo cpu;
  char manufacturer[256];
  char model[256];
  int32_t memory[4];   // MiB: available and total physical, available and total page file
  int32_t ddeMode;
  uint8_t reserved[16];
};

// The pieces of the probe, each usable on its own (and tested so).
// Code, name and version numbers of the Windows record from the platform
// number and version; bits and the suffix are not touched.
void tqCapsClassifyOs(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build,
                      tqOsInfo* os);
// Appends " (x86)" or " (x64)" to the name after setting bits.
void tqCapsSetBits(tqOsInfo* os, int bits);
// Edition text for a product type, or null for a type without one.
const char* tqCapsEditionText(uint32_t productType);
// DirectX version from the file versions of the system folder's libraries;
// major, minor and letter (a space when none). Never fails: 0.0 when no test
// passes or there is no folder.
void tqCapsDxFromFiles(const char* systemFolder, int* major, int* minor, char* letter);
// Whether Direct3D 11 is available on a system of this version.
bool tqCapsD3d11Available(uint32_t major, uint32_t minor, uint32_t build, bool (*canLoad)());
// The result fields from major, minor and letter (space: none).
void tqCapsFormatDx(int major, int minor, char letter, int32_t* dxVersion, char* dxText);
// The fixed file version of a version-resource block as a.b.c.d in one value
// (a << 48 | b << 32 | c << 16 | d); false when the block has none.
bool tqCapsFixedFileVersion(const uint8_t* block, size_t size, uint64_t* version);
// Manufacturer and model from Oeminfo.ini of a Windows folder, its system and
// its system32 folder, in that order (256 bytes each).
void tqCapsReadOemInfo(const char* windowsFolder, char* manufacturer, char* model);
// Fills the processor record from CPUID and the system; measures the clock
// (a quarter-second busy wait) when asked.
void tqCapsProbeCpu(tqCpuInfo* cpu, bool measureClock);

// Sets the library's start-up and shut-down hooks that create and destroy
// the probe and the DDE object (call before LibraryStartup).
void tqCapsInstallHooks();
// Whether the process's probe exists and reports MMX (for the memory
// routines); false without a probe.
bool tqCapsHasMmx();
