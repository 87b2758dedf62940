// The system probe. Each probe fills its own fields and leaves them cleared
// when it fails; nothing is reported to the user.
#include "caps/tqCaps.h"

#include <cstdio>
#include <cstring>

#include "caps/tqDDE.h"
#include "platform/tqPlatform.h"
#include "platform/tqSysInfo.h"
#include "util/tqUtil.h"

namespace {

const char DDE_SERVICE[] = "TQDDE_SERVER";
const char ITEM_DXVER[] = "TQCAPS_DDE_DXVER";
const char ITEM_DXSTR[] = "TQCAPS_DDE_DXSTR";
const char ITEM_CPU[] = "TQCAPS_DDE_CPU";

struct Edition {
  uint32_t type;
  const char* text;
};
const Edition EDITIONS[] = {
    {0, "An unknown product"},
    {1, "Ultimate"},
    {2, "Home Basic"},
    {3, "Home Premium"},
    {4, "Enterprise"},
    {5, "Home Basic N"},
    {6, "Business"},
    {7, "Server Standard"},
    {8, "Server Datacenter (full installation)"},
    {9, "Windows Small Business Server"},
    {10, "Server Enterprise (full installation)"},
    {11, "Starter"},
    {12, "Server Datacenter (core installation)"},
    {13, "Server Standard (core installation)"},
    {14, "Server Enterprise (core installation)"},
    {15, "Server Enterprise for Itanium-based Systems"},
    {16, "Business N"},
    {17, "Web Server (full installation)"},
    {18, "HPC Edition"},
    {19, "Windows Storage Server 2008 R2 Essentials"},
    {20, "Storage Server Express"},
    {21, "Storage Server Standard"},
    {22, "Storage Server Workgroup"},
    {23, "Storage Server Enterprise"},
    {24, "Windows Server 2008 for Windows Essential Server Solutions"},
    {25, "Small Business Server Premium"},
    {26, "Home Premium N"},
    {27, "Enterprise N"},
    {28, "Ultimate N"},
    {29, "Web Server (core installation)"},
    {30, "Windows Essential Business Server Management Server"},
    {31, "Windows Essential Business Server Security Server"},
    {32, "Windows Essential Business Server Messaging Server"},
    {33, "Server Foundation"},
    {34, "Windows Home Server 2011"},
    {35, "Windows Server 2008 without Hyper-V for Windows Essential Server Solutions"},
    {36, "Server Standard without Hyper-V"},
    {37, "Server Datacenter without Hyper-V (full installation)"},
    {38, "Server Enterprise without Hyper-V (full installation)"},
    {39, "Server Datacenter without Hyper-V (core installation)"},
    {40, "Server Standard without Hyper-V (core installation)"},
    {41, "Server Enterprise without Hyper-V (core installation)"},
    {42, "Microsoft Hyper-V Server"},
    {43, "Storage Server Express (core installation)"},
    {44, "Storage Server Standard (core installation)"},
    {45, "Storage Server Workgroup (core installation)"},
    {46, "Storage Server Enterprise (core installation)"},
    {47, "Starter N"},
    {48, "Professional"},
    {49, "Professional N"},
    {50, "Windows Small Business Server 2011 Essentials"},
    {51, "Server For SB Solutions"},
    {52, "Server Solutions Premium"},
    {53, "Server Solutions Premium (core installation)"},
    {54, "Server For SB Solutions EM"},
    {55, "Server For SB Solutions EM"},
    {56, "Windows MultiPoint Server"},
    {59, "Windows 8 Essential Server Solution Management"},
    {60, "Windows 8 Essential Server Solution Additional"},
    {61, "Windows 8 Essential Server Solution Management SVC"},
    {62, "Windows 8 Essential Server Solution Additional SVC"},
    {63, "Small Business Server Premium (core installation)"},
    {64, "Server Hyper Core V"},
    {66, "Not supported"},
    {67, "Not supported"},
    {68, "Not supported"},
    {69, "Not supported"},
    {70, "Not supported"},
    {71, "Not supported"},
    {72, "Server Enterprise (evaluation installation)"},
    {76, "Windows MultiPoint Server Standard (full installation)"},
    {77, "Windows MultiPoint Server Premium (full installation)"},
    {79, "Server Standard (evaluation installation)"},
    {80, "Server Datacenter (evaluation installation)"},
    {84, "Enterprise N (evaluation installation)"},
    {95, "Storage Server Workgroup (evaluation installation)"},
    {96, "Storage Server Standard (evaluation installation)"},
    {97, "Windows 8 ARM"},
    {98, "Windows 8 N"},
    {99, "Windows 8 China"},
    {100, "Windows 8 Single Language"},
    {101, "Windows 8"},
    {103, "Professional with Media Center"},
};

void CopyText(char* field, size_t size, const char* text) {
  snprintf(field, size, "%s", text ? text : "");
}

constexpr uint64_t Version(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
  return a << 48 | b << 32 | c << 16 | d;
}

// One row of the file-version table. When the 5.x threshold is given, the
// row applies to files whose first number is 4 (first threshold) or 5
// (second); otherwise the first threshold applies to every file.
struct DxFileTest {
  const char* file;
  uint64_t atLeast;
  uint64_t atLeast5;
  int major, minor;
  char letter;
};
const DxFileTest DX_FILE_TESTS[] = {
    {"ddraw.dll", Version(4, 2, 0, 95), 0, 1, 0, ' '},
    {"ddraw.dll", Version(4, 3, 0, 1096), 0, 2, 0, ' '},
    {"ddraw.dll", Version(4, 4, 0, 68), 0, 3, 0, ' '},
    {"d3drg8x.dll", Version(4, 4, 0, 70), 0, 3, 0, 'a'},
    {"ddraw.dll", Version(4, 5, 0, 155), 0, 5, 0, ' '},
    {"ddraw.dll", Version(4, 6, 0, 318), 0, 6, 0, ' '},
    {"ddraw.dll", Version(4, 6, 0, 436), 0, 6, 1, ' '},
    {"dplayx.dll", Version(4, 6, 3, 518), 0, 6, 1, 'a'},
    {"ddraw.dll", Version(4, 7, 0, 700), 0, 7, 0, ' '},
    {"dinput.dll", Version(4, 7, 0, 716), 0, 7, 0, 'a'},
    {"ddraw.dll", Version(4, 8, 0, 400), Version(5, 1, 2258, 400), 8, 0, ' '},
    {"d3d8.dll", Version(4, 8, 1, 881), Version(5, 1, 2600, 881), 8, 1, ' '},
    {"d3d8.dll", Version(4, 8, 1, 901), Version(5, 1, 2600, 901), 8, 1, 'a'},
    {"mpg2splt.ax", Version(6, 3, 1, 885), 0, 8, 1, 'b'},
    {"dpnet.dll", Version(4, 9, 0, 134), Version(5, 2, 3677, 134), 8, 2, ' '},
};

bool FileFixedVersion(const char* folder, const char* file, uint64_t* version) {
  char path[1024];
  snprintf(path, sizeof path, "%s\\%s", folder, file);
  tqp::VersionResource resource;
  if (!resource.Load(path)) return false;
  const std::vector<uint8_t>& block = resource.Block();
  return tqCapsFixedFileVersion(block.data(), block.size(), version);
}

uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

int32_t MeasureClock() {
  int64_t frequency = 0, start = 0, now = 0;
  if (!tqp::PerformanceFrequency(&frequency) || frequency <= 0 || !tqp::PerformanceCounter(&start))
    return 0;
  const uint64_t first = tqp::ReadTimeStampCounter();
  do {
    if (!tqp::PerformanceCounter(&now)) return 0;
  } while (now - start < frequency / 4);
  const uint64_t second = tqp::ReadTimeStampCounter();
  return (int32_t)((second - first) * 4 / 1000000);
}

// Answers the probe's DDE items from the published object.
int CapsItem(void* user, const char* item, void** data, uint32_t* length) {
  const tqCaps* caps = static_cast<const tqCaps*>(user);
  if (!caps || !item || !data || !length) return 0;
  const void* source = nullptr;
  uint32_t size = 0;
  if (strcmp(item, ITEM_DXVER) == 0) {
    source = &caps->dxVersion;
    size = sizeof caps->dxVersion;
  } else if (strcmp(item, ITEM_DXSTR) == 0) {
    source = caps->dxText;
    size = (uint32_t)strnlen(caps->dxText, sizeof caps->dxText - 1) + 2;
  } else if (strcmp(item, ITEM_CPU) == 0) {
    source = &caps->cpu;
    size = sizeof caps->cpu;
  } else {
    return 0;
  }
  uint8_t* block = static_cast<uint8_t*>(PrivateAlloc(0, size));
  if (!block) return 0;
  if (source == caps->dxText) {
    memcpy(block, caps->dxText, size - 2);
    block[size - 2] = 0;
    block[size - 1] = 0;
  } else {
    memcpy(block, source, size);
  }
  *data = block;
  *length = size;
  return 1;
}

}  // namespace

// ------------------------------------------------------------------ pieces

void tqCapsClassifyOs(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build,
                      tqOsInfo* os) {
  int32_t code = TQOS_UNKNOWN;
  const char* name = "OS Unknown...";
  os->major = (int32_t)major;
  os->minor = (int32_t)minor;
  os->build = (int32_t)build;
  switch (platformId) {
    case tqp::PLATFORM_WIN32S:
      code = TQOS_WIN32S;
      name = "";
      break;
    case tqp::PLATFORM_WIN9X:
      switch (minor) {
        case 0: code = TQOS_WIN95; name = "Windows 95"; break;
        case 10: code = TQOS_WIN98; name = "Windows 98"; break;
        case 90: code = TQOS_WINME; name = "Windows Me"; break;
        default: code = TQOS_WIN9X; name = "Windows 9x"; break;
      }
      os->major = (int32_t)(build >> 24 & 0xFF);
      os->minor = (int32_t)(build >> 16 & 0xFF);
      os->build = (int32_t)(build & 0xFFFF);
      break;
    case tqp::PLATFORM_NT:
      code = TQOS_WINNT;
      name = "Windows NT";
      if (major == 3) {
        code = TQOS_WINNT3; name = "Windows NT 3.x";
      } else if (major == 4) {
        code = TQOS_WINNT4; name = "Windows NT 4.x";
      } else if (major == 5 && minor == 0) {
        code = TQOS_WIN2000; name = "Windows 2000";
      } else if (major == 5 && minor == 1) {
        code = TQOS_WINXP; name = "Windows XP";
      } else if (major == 6 && minor == 0) {
        code = TQOS_VISTA; name = "Windows Vista";
      } else if (major == 6 && minor == 1) {
        code = TQOS_WIN7; name = "Windows 7";
      } else if (major == 6 && minor == 2) {
        code = TQOS_WIN8; name = "Windows 8";
      } else if (major == 6 && minor == 3) {
        code = TQOS_WIN81; name = "Windows 8.1";
      } else if (major == 10) {
        code = TQOS_WIN10; name = "Windows 10";
      }
      break;
    default:
      break;
  }
  os->code = code;
  CopyText(os->name, sizeof os->name, name);
}

void tqCapsSetBits(tqOsInfo* os, int bits) {
  os->bits = bits;
  size_t n = strnlen(os->name, sizeof os->name - 1);
  snprintf(os->name + n, sizeof os->name - n, "%s", bits == 64 ? " (x64)" : " (x86)");
}

const char* tqCapsEditionText(uint32_t productType) {
  for (const Edition& e : EDITIONS)
    if (e.type == productType) return e.text;
  return nullptr;
}

bool tqCapsFixedFileVersion(const uint8_t* block, size_t size, uint64_t* version) {
  // VS_VERSIONINFO: length, value length, type, the key "VS_VERSION_INFO" in
  // UTF-16, padding to 4 bytes, then the fixed information.
  if (!block || !version || size < 6) return false;
  const uint16_t valueLength = Le16(block + 2);
  size_t pos = 6;
  for (;;) {
    if (pos + 2 > size) return false;
    uint16_t unit = Le16(block + pos);
    pos += 2;
    if (unit == 0) break;
  }
  pos = (pos + 3) & ~(size_t)3;
  if (valueLength < 52 || pos > size || size - pos < 52) return false;
  const uint8_t* fixed = block + pos;
  if (Le32(fixed) != 0xFEEF04BDu) return false;
  const uint32_t ms = Le32(fixed + 8), ls = Le32(fixed + 12);
  *version = (uint64_t)ms << 32 | ls;
  return true;
}

void tqCapsDxFromFiles(const char* systemFolder, int* major, int* minor, char* letter) {
  *major = 0;
  *minor = 0;
  *letter = ' ';
  if (!systemFolder || !*systemFolder) return;
  for (const DxFileTest& test : DX_FILE_TESTS) {
    uint64_t v = 0;
    if (!FileFixedVersion(systemFolder, test.file, &v)) continue;
    bool pass;
    if (test.atLeast5) {
      const uint64_t first = v >> 48;
      pass = (first == 4 && v >= test.atLeast) || (first == 5 && v >= test.atLeast5);
    } else {
      pass = v >= test.atLeast;
    }
    if (pass) {
      *major = test.major;
      *minor = test.minor;
      *letter = test.letter;
    }
  }
  uint64_t v = 0;
  if (FileFixedVersion(systemFolder, "d3d9.dll", &v)) {
    *major = 9;
    *minor = 0;
    *letter = ' ';
  }
}

bool tqCapsD3d11Available(uint32_t major, uint32_t minor, uint32_t build, bool (*canLoad)()) {
  if (major < 6) return false;
  if (major == 6 && minor == 0) {
    if (build < 6002) return false;
    if (build == 6002) return canLoad && canLoad();
  }
  return true;
}

void tqCapsFormatDx(int major, int minor, char letter, int32_t* dxVersion, char* dxText) {
  int number = (letter >= 'a' && letter <= 'z') ? letter - 'a' + 1 : 0;
  *dxVersion = major * 65536 + minor * 256 + number;
  char suffix[2] = {letter, 0};
  snprintf(dxText, 128, "%d.%d%s", major, minor, suffix);
}

void tqCapsReadOemInfo(const char* windowsFolder, char* manufacturer, char* model) {
  static const char* const FOLDERS[] = {"", "\\system", "\\system32"};
  struct {
    const char* key;
    char* out;
  } wanted[] = {{"Manufacturer", manufacturer}, {"Model", model}};
  for (auto& w : wanted) {
    w.out[0] = 0;
    if (!windowsFolder || !*windowsFolder) continue;
    for (const char* sub : FOLDERS) {
      char path[1024];
      snprintf(path, sizeof path, "%s%s\\Oeminfo.ini", windowsFolder, sub);
      if (tqp::ReadProfileString(path, "General", w.key, w.out, 256) > 0) break;
      w.out[0] = 0;
    }
  }
}

void tqCapsProbeCpu(tqCpuInfo* cpu, bool measureClock) {
  if (!tqp::CpuCanToggleFlag(18)) {
    cpu->type = 1;
  } else if (!tqp::CpuCanToggleFlag(21)) {
    cpu->type = 2;
  } else {
    cpu->hasCpuid = 1;
    uint32_t r[4];
    tqp::Cpuid(0, r);
    const uint32_t highest = r[0];
    memcpy(cpu->vendor, &r[1], 4);
    memcpy(cpu->vendor + 4, &r[3], 4);
    memcpy(cpu->vendor + 8, &r[2], 4);
    memset(cpu->vendor + 12, 0, 4);
    if (highest >= 1) {
      tqp::Cpuid(1, r);
      const uint32_t signature = r[0], edx = r[3];
      cpu->type = (int32_t)(signature >> 12 & 3);
      cpu->family = (int32_t)(signature >> 8 & 0xF);
      cpu->model = (int32_t)(signature >> 4 & 0xF);
      cpu->stepping = (int32_t)(signature & 0xF);
      cpu->mmx = (edx >> 23) & 1;
      cpu->cmov = (edx >> 15) & 1;
      cpu->sse = (edx >> 25) & 1;
    }
    tqp::Cpuid(0x80000000u, r);
    if (r[0] >= 0x80000001u && r[0] < 0x8000FFFFu) {
      tqp::Cpuid(0x80000001u, r);
      cpu->amd3dNow = (r[3] >> 31) & 1;
    }
  }
  cpu->processors = (int32_t)tqp::ProcessorCount();
  uint32_t mhz = 0;
  tqp::ProcessorDescription(cpu->name, sizeof cpu->name, &mhz);
  cpu->registryClock = (int32_t)mhz;
  if (measureClock && cpu->hasCpuid) cpu->clock = MeasureClock();
}

bool tqCapsHasMmx() { return g_tqCaps && g_tqCaps->cpu.mmx; }

void tqCapsInstallHooks() {
  tqLibraryHooks& hooks = LibraryHooks();
  hooks.createCaps = [](int probeFlags, int ddeMode) {
    if (g_tqCaps) return;
    tqCaps* caps = new tqCaps;
    if (!caps) return;
    caps->Probe(probeFlags, ddeMode);
    if (g_tqCaps != caps) delete caps;
  };
  hooks.destroyCaps = [] {
    tqCaps* caps = g_tqCaps;
    g_tqCaps = nullptr;
    delete caps;
  };
  hooks.createDde = [] {
    if (!g_tqDDE) new tqDDE;  // registers itself as the process's tqDDE
  };
  hooks.destroyDde = [] { delete g_tqDDE; };
  hooks.capsHasMmx = &tqCapsHasMmx;
}

// ------------------------------------------------------------------ tqCaps

tqCaps::tqCaps() {
  memset(&os, 0, sizeof os);
  dxVersion = 0;
  memset(dxText, 0, sizeof dxText);
  memset(&cpu, 0, sizeof cpu);
  memset(manufacturer, 0, sizeof manufacturer);
  memset(model, 0, sizeof model);
  memset(memory, 0, sizeof memory);
  ddeMode = 0;
  memset(reserved, 0, sizeof reserved);
}

tqCaps::~tqCaps() {
  if (g_tqCaps == this) g_tqCaps = nullptr;
}

void tqCaps::GetOsInfo(tqOsInfo* destination) const {
  if (destination) memcpy(destination, &os, sizeof os);
}

tqCpuInfo* tqCaps::GetCpuInfo(tqCpuInfo* destination) {
  if (destination) memcpy(destination, &cpu, sizeof cpu);
  return &cpu;
}

void tqCaps::Probe(int flags, int mode) {
  if (g_tqCaps) return;
  memset(&os, 0, sizeof os);
  dxVersion = 0;
  memset(dxText, 0, sizeof dxText);
  memset(&cpu, 0, sizeof cpu);
  memset(manufacturer, 0, sizeof manufacturer);
  memset(model, 0, sizeof model);
  ddeMode = mode;
  memset(reserved, 0, sizeof reserved);

  bool fromDde = false;
  if (g_tqDDE) {
    if (mode == TQCAPS_DDE_SERVER) {
      g_tqDDE->CreateServer(DDE_SERVICE);
      g_tqDDE->RegisterItem(ITEM_DXVER, CapsItem, this);
      g_tqDDE->RegisterItem(ITEM_DXSTR, CapsItem, this);
      g_tqDDE->RegisterItem(ITEM_CPU, CapsItem, this);
    } else if (mode == TQCAPS_DDE_CLIENT) {
      g_tqDDE->Connect(DDE_SERVICE);
      // Taken over only when all three arrive; otherwise the local probes run.
      int32_t version = 0;
      char text[sizeof dxText] = {};
      tqCpuInfo record = {};
      const int gotVersion = g_tqDDE->GetServerData(ITEM_DXVER, &version, sizeof version, DDE_SERVICE);
      const int gotText = g_tqDDE->GetServerData(ITEM_DXSTR, text, sizeof text, DDE_SERVICE);
      const int gotCpu = g_tqDDE->GetServerData(ITEM_CPU, &record, sizeof record, DDE_SERVICE);
      if (gotVersion && gotText && gotCpu) {
        dxVersion = version;
        memcpy(dxText, text, sizeof dxText);
        dxText[sizeof dxText - 1] = 0;
        cpu = record;
        fromDde = true;
        DebugPrint("DDEより環境情報を取得しました");
      }
    }
  }

  if (flags & TQCAPS_OS) {
    tqp::OsVersion version;
    if (tqp::QueryOsVersion(version)) {
      tqCapsClassifyOs(version.platformId, version.major, version.minor, version.build, &os);
      CopyText(os.servicePack, sizeof os.servicePack, version.servicePack.c_str());
    }
    tqCapsSetBits(&os, tqp::Is64BitSystem() ? 64 : 32);
    tqp::OsVersionEx versionEx;
    uint32_t productType = 0;
    if (tqp::QueryOsVersionEx(versionEx) && tqp::QueryProductType(versionEx, &productType)) {
      const char* edition = tqCapsEditionText(productType);
      if (edition) CopyText(os.edition, sizeof os.edition, edition);
    }
  }

  if ((flags & TQCAPS_DIRECTX) && !fromDde) {
    uint32_t major = 0, minor = 0;
    char letter = ' ';
    int fileMajor = 0, fileMinor = 0;
    if (!tqp::DxDiagVersion(&major, &minor, &letter)) {
      char system[260] = {};
      tqCapsDxFromFiles(tqp::GetSystemDirectory(system, sizeof system) ? system : nullptr,
                        &fileMajor, &fileMinor, &letter);
      major = (uint32_t)fileMajor;
      minor = (uint32_t)fileMinor;
    }
    if (letter >= 'A' && letter <= 'Z') letter = (char)(letter - 'A' + 'a');
    if (major >= 10) {
      tqp::OsVersionEx v;
      if (tqp::QueryOsVersionEx(v) && tqCapsD3d11Available(v.major, v.minor, v.build, tqp::CanLoadD3d11)) {
        major = 11;
        minor = 0;
        letter = 0;
      }
    }
    tqCapsFormatDx((int)major, (int)minor, letter, &dxVersion, dxText);
  }

  if ((flags & TQCAPS_CPU) && !fromDde) tqCapsProbeCpu(&cpu, (flags & TQCAPS_CPU_CLOCK) != 0);

  if (flags & TQCAPS_MEMORY) {
    tqp::MemoryStatus m;
    if (tqp::QueryMemoryStatus(m)) {
      memory[0] = (int32_t)(m.availablePhysical >> 20);
      memory[1] = (int32_t)(m.totalPhysical >> 20);
      memory[2] = (int32_t)(m.availablePageFile >> 20);
      memory[3] = (int32_t)(m.totalPageFile >> 20);
    }
  }

  if (flags & TQCAPS_OEM) {
    char windows[260] = {};
    if (tqp::GetWindowsDirectory(windows, sizeof windows)) tqCapsReadOemInfo(windows, manufacturer, model);
  }

  g_tqCaps = this;
}
