// Win32 system information for the capability probe: thin calls of the
// version, product, registry, memory, profile and COM services.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <dxdiag.h>

#include <cstring>

#include "platform/tqCpuX86.h"
#include "platform/tqSysInfo.h"

namespace tqp {
namespace {

template <class F>
F KernelProc(const char* module, const char* name) {
  HMODULE m = GetModuleHandleA(module);
  return m ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

// The DirectX diagnostic provider's class and interface.
const CLSID kDxDiagProvider = {0xA65B8071, 0x3BFE, 0x4213, {0x9A, 0x5B, 0x49, 0x1D, 0xA4, 0x46, 0x1C, 0xA7}};
const IID kDxDiagProviderIid = {0x9C6B4CB0, 0x23F8, 0x49CC, {0xA3, 0xED, 0x45, 0xA5, 0x50, 0x00, 0xA6, 0xD2}};

}  // namespace

bool QueryOsVersion(OsVersion& version) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto rtlGetVersion = KernelProc<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion");
  if (!rtlGetVersion) return false;
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  if (rtlGetVersion(&info) != 0) return false;
  version = OsVersion();
  version.platformId = info.dwPlatformId;
  version.major = info.dwMajorVersion;
  version.minor = info.dwMinorVersion;
  version.build = info.dwBuildNumber;
  char sp[128 * 2] = {};
  if (WideCharToMultiByte(CP_ACP, 0, info.szCSDVersion, -1, sp, sizeof sp, nullptr, nullptr) > 0)
    version.servicePack = sp;
  return true;
}

bool Is64BitSystem() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto isWow64 = KernelProc<IsWow64ProcessFn>("kernel32.dll", "IsWow64Process");
  BOOL wow = FALSE;
  return isWow64 && isWow64(GetCurrentProcess(), &wow) && wow;
}

bool QueryOsVersionEx(OsVersionEx& version) {
  OSVERSIONINFOEXA info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
#pragma GCC diagnostic pop
  version.major = info.dwMajorVersion;
  version.minor = info.dwMinorVersion;
  version.build = info.dwBuildNumber;
  version.servicePackMajor = info.wServicePackMajor;
  version.servicePackMinor = info.wServicePackMinor;
  return true;
}

bool QueryProductType(const OsVersionEx& version, uint32_t* productType) {
  using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
  auto getProductInfo = KernelProc<GetProductInfoFn>("kernel32.dll", "GetProductInfo");
  if (!getProductInfo || !productType) return false;
  DWORD type = 0;
  if (!getProductInfo(version.major, version.minor, version.servicePackMajor,
                      version.servicePackMinor, &type))
    return false;
  *productType = type;
  return true;
}

bool DxDiagVersion(uint32_t* major, uint32_t* minor, char* letter) {
  HRESULT init = CoInitialize(nullptr);
  bool ok = false;
  IDxDiagProvider* provider = nullptr;
  IDxDiagContainer* root = nullptr;
  IDxDiagContainer* system = nullptr;
  if (SUCCEEDED(CoCreateInstance(kDxDiagProvider, nullptr, CLSCTX_INPROC_SERVER, kDxDiagProviderIid,
                                 reinterpret_cast<void**>(&provider))) &&
      provider) {
    DXDIAG_INIT_PARAMS params = {};
    params.dwSize = sizeof params;
    params.dwDxDiagHeaderVersion = 111;
    params.bAllowWHQLChecks = FALSE;
    params.pReserved = nullptr;
    if (SUCCEEDED(provider->Initialize(&params)) && SUCCEEDED(provider->GetRootContainer(&root)) &&
        root && SUCCEEDED(root->GetChildContainer(L"DxDiag_SystemInfo", &system)) && system) {
      VARIANT v;
      VariantInit(&v);
      bool haveMajor = false, haveMinor = false, haveLetter = false;
      if (SUCCEEDED(system->GetProp(L"dwDirectXVersionMajor", &v)) && v.vt == VT_UI4) {
        *major = v.ulVal;
        haveMajor = true;
      }
      VariantClear(&v);
      if (SUCCEEDED(system->GetProp(L"dwDirectXVersionMinor", &v)) && v.vt == VT_UI4) {
        *minor = v.ulVal;
        haveMinor = true;
      }
      VariantClear(&v);
      if (SUCCEEDED(system->GetProp(L"szDirectXVersionLetter", &v)) && v.vt == VT_BSTR &&
          v.bstrVal && v.bstrVal[0]) {
        char narrow[8] = {};
        if (WideCharToMultiByte(CP_ACP, 0, v.bstrVal, 1, narrow, sizeof narrow, nullptr, nullptr) > 0) {
          *letter = narrow[0];
          haveLetter = true;
        }
      }
      VariantClear(&v);
      ok = haveMajor && haveMinor && haveLetter;
    }
  }
  if (system) system->Release();
  if (root) root->Release();
  if (provider) provider->Release();
  if (SUCCEEDED(init)) CoUninitialize();
  return ok;
}

bool CanLoadD3d11() {
  HMODULE m = LoadLibraryA("D3D11.DLL");
  if (!m) return false;
  FreeLibrary(m);
  return true;
}

bool GetSystemDirectory(char* out, size_t size) {
  if (!out || size == 0) return false;
  UINT n = GetSystemDirectoryA(out, (UINT)size);
  if (n == 0 || n >= size) {
    out[0] = 0;
    return false;
  }
  return true;
}

bool CpuCanToggleFlag(unsigned bit) { return cpu::CanToggleFlag(bit); }
void Cpuid(uint32_t leaf, uint32_t regs[4]) { cpu::Cpuid(leaf, regs); }
uint64_t ReadTimeStampCounter() { return cpu::ReadTsc(); }

bool PerformanceFrequency(int64_t* frequency) {
  LARGE_INTEGER v;
  if (!frequency || !QueryPerformanceFrequency(&v)) return false;
  *frequency = v.QuadPart;
  return true;
}

bool PerformanceCounter(int64_t* count) {
  LARGE_INTEGER v;
  if (!count || !QueryPerformanceCounter(&v)) return false;
  *count = v.QuadPart;
  return true;
}

uint32_t ProcessorCount() {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  return si.dwNumberOfProcessors;
}

void ProcessorDescription(char* name, size_t nameSize, uint32_t* megahertz) {
  if (name && nameSize) name[0] = 0;
  if (megahertz) *megahertz = 0;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return;
  if (megahertz) {
    static const char* const names[] = {"~MHz", "~Mhz", "~mhz"};
    for (const char* valueName : names) {
      DWORD value = 0, size = sizeof value, type = 0;
      if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
              ERROR_SUCCESS &&
          size == sizeof value) {
        *megahertz = value;
        break;
      }
    }
  }
  if (name && nameSize) {
    char buffer[256] = {};
    DWORD size = sizeof buffer - 1, type = 0;
    if (RegQueryValueExA(key, "ProcessorNameString", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      buffer[size < sizeof buffer ? size : sizeof buffer - 1] = 0;
      strncpy(name, buffer, nameSize - 1);
      name[nameSize - 1] = 0;
    }
  }
  RegCloseKey(key);
}

bool QueryMemoryStatus(MemoryStatus& status) {
  MEMORYSTATUSEX m = {};
  m.dwLength = sizeof m;
  if (!GlobalMemoryStatusEx(&m)) return false;
  status.availablePhysical = m.ullAvailPhys;
  status.totalPhysical = m.ullTotalPhys;
  status.availablePageFile = m.ullAvailPageFile;
  status.totalPageFile = m.ullTotalPageFile;
  return true;
}

uint32_t ReadProfileString(const char* file, const char* section, const char* key, char* out,
                           size_t size) {
  if (!out || size == 0) return 0;
  out[0] = 0;
  return GetPrivateProfileStringA(section, key, "", out, (DWORD)size, file);
}

}  // namespace tqp
