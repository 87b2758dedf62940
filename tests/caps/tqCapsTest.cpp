// The system probe: the tables (Windows codes and names, editions, DirectX
// file versions, Direct3D 11), the readers (fixed file version, Oeminfo.ini),
// and a real probe of the machine the tests run on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "caps/tqCaps.h"
#include "caps/tqDDE.h"
#include "platform/tqPlatform.h"
#include "platform/tqSysInfo.h"
#include "tests/copy/tqWatchdog.h"
#include "tests/support/tqTestSupport.h"
#include "util/tqUtil.h"

#ifndef _WIN32
#include "platform/tqSysInfoText.h"
#endif

namespace {

using tqtest::ReadFile;
using tqtest::WriteFile;

// Keeps the process's probe out of the way of a test and puts it back.
class CapsTest : public testing::Test {
 protected:
  void SetUp() override {
    CreatePrivateHeap(10485760);
    saved_ = g_tqCaps;
    g_tqCaps = nullptr;
  }
  void TearDown() override { g_tqCaps = saved_; }

  tqtest::Watchdog watchdog_{120};

 private:
  tqCaps* saved_ = nullptr;
};

TEST(CapsOs, CodesAndNamesByPlatformAndVersion) {
  struct Case {
    uint32_t platform, major, minor, build;
    int32_t code;
    const char* name;
    int32_t major2, minor2, build2;  // as stored
  } cases[] = {
      {0, 3, 11, 0, 1, "", 3, 11, 0},
      {1, 4, 0, 0x04000395, 2, "Windows 95", 4, 0, 0x395},
      {1, 4, 10, 0x040A08AE, 3, "Windows 98", 4, 10, 0x8AE},
      {1, 4, 90, 0x045A0BB8, 4, "Windows Me", 4, 90, 0xBB8},
      {1, 4, 20, 0x04140001, 15, "Windows 9x", 4, 20, 1},
      {2, 3, 51, 1057, 0x20, "Windows NT 3.x", 3, 51, 1057},
      {2, 4, 0, 1381, 0x30, "Windows NT 4.x", 4, 0, 1381},
      {2, 5, 0, 2195, 0x40, "Windows 2000", 5, 0, 2195},
      {2, 5, 1, 2600, 0x50, "Windows XP", 5, 1, 2600},
      {2, 5, 2, 3790, 0x10, "Windows NT", 5, 2, 3790},  // Server 2003
      {2, 6, 0, 6002, 0x60, "Windows Vista", 6, 0, 6002},
      {2, 6, 1, 7601, 0x61, "Windows 7", 6, 1, 7601},
      {2, 6, 2, 9200, 0x62, "Windows 8", 6, 2, 9200},
      {2, 6, 3, 9600, 0x63, "Windows 8.1", 6, 3, 9600},
      {2, 6, 4, 9841, 0x10, "Windows NT", 6, 4, 9841},
      {2, 7, 0, 1, 0x10, "Windows NT", 7, 0, 1},
      {2, 10, 0, 19045, 0x64, "Windows 10", 10, 0, 19045},
      {2, 11, 0, 1, 0x10, "Windows NT", 11, 0, 1},
      {0xFFFF, 6, 1, 0, 0xFFFF, "OS Unknown...", 6, 1, 0},
      {3, 1, 0, 0, 0xFFFF, "OS Unknown...", 1, 0, 0},
  };
  for (const Case& c : cases) {
    tqOsInfo os = {};
    tqCapsClassifyOs(c.platform, c.major, c.minor, c.build, &os);
    EXPECT_EQ(os.code, c.code) << c.name;
    EXPECT_STREQ(os.name, c.name);
    EXPECT_EQ(os.major, c.major2) << c.name;
    EXPECT_EQ(os.minor, c.minor2) << c.name;
    EXPECT_EQ(os.build, c.build2) << c.name;
  }
}

TEST(CapsOs, BitsSuffix) {
  tqOsInfo os = {};
  tqCapsClassifyOs(2, 10, 0, 19045, &os);
  tqCapsSetBits(&os, 64);  // a 32-bit process on 64-bit Windows 10
  EXPECT_EQ(os.code, 100);
  EXPECT_EQ(os.bits, 64);
  EXPECT_STREQ(os.name, "Windows 10 (x64)");
  tqOsInfo nt = {};
  tqCapsClassifyOs(2, 5, 2, 3790, &nt);
  tqCapsSetBits(&nt, 32);
  EXPECT_STREQ(nt.name, "Windows NT (x86)");
  EXPECT_LT(nt.code, 64) << "the copy engine must not take NT 5.2 for a modern system";
  tqOsInfo none = {};
  tqCapsSetBits(&none, 32);
  EXPECT_STREQ(none.name, " (x86)");
}

TEST(CapsOs, EditionTexts) {
  struct Case {
    uint32_t type;
    const char* text;  // null: none
  } cases[] = {
      {0, "An unknown product"},
      {1, "Ultimate"},
      {9, "Windows Small Business Server"},
      {48, "Professional"},
      {54, "Server For SB Solutions EM"},
      {55, "Server For SB Solutions EM"},
      {56, "Windows MultiPoint Server"},
      {57, nullptr},
      {58, nullptr},
      {59, "Windows 8 Essential Server Solution Management"},
      {64, "Server Hyper Core V"},
      {65, nullptr},
      {66, "Not supported"},
      {71, "Not supported"},
      {72, "Server Enterprise (evaluation installation)"},
      {101, "Windows 8"},
      {102, nullptr},
      {103, "Professional with Media Center"},
      {104, nullptr},
      {0xABCDEF01, nullptr},
  };
  for (const Case& c : cases) {
    const char* text = tqCapsEditionText(c.type);
    if (c.text) {
      ASSERT_NE(text, nullptr) << c.type;
      EXPECT_STREQ(text, c.text) << c.type;
    } else {
      EXPECT_EQ(text, nullptr) << c.type;
    }
  }
}

TEST(CapsDirectX, VersionValueAndText) {
  struct Case {
    int major, minor;
    char letter;
    int32_t value;
    const char* text;
  } cases[] = {
      {9, 0, 'c', 9 * 65536 + 3, "9.0c"},
      {9, 0, ' ', 9 * 65536, "9.0 "},  // no letter: a trailing space
      {11, 0, 0, 11 * 65536, "11.0"},  // the Direct3D 11 result has none
      {8, 1, 'b', 8 * 65536 + 256 + 2, "8.1b"},
      {0, 0, ' ', 0, "0.0 "},
  };
  for (const Case& c : cases) {
    int32_t value = -1;
    char text[128];
    memset(text, 'x', sizeof text);
    tqCapsFormatDx(c.major, c.minor, c.letter, &value, text);
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_STREQ(text, c.text);
  }
}

TEST(CapsDirectX, Direct3D11Check) {
  static bool loadable;
  auto canLoad = [] { return loadable; };
  struct Case {
    uint32_t major, minor, build;
    bool loads, available;
  } cases[] = {
      {5, 1, 2600, true, false},   {6, 0, 6000, true, false},  {6, 0, 6001, true, false},
      {6, 0, 6002, true, true},    {6, 0, 6002, false, false}, {6, 0, 6003, false, true},
      {6, 1, 7600, false, true},   {10, 0, 19045, false, true},
  };
  for (const Case& c : cases) {
    loadable = c.loads;
    EXPECT_EQ(tqCapsD3d11Available(c.major, c.minor, c.build, canLoad), c.available)
        << c.major << "." << c.minor << "." << c.build << " loads " << c.loads;
  }
}

std::string CapsFixture(const char* name) { return tqtest::ProgramFolder() + "\\capsfixtures\\" + name; }

// The file-version table on a system folder holding the given libraries.
TEST(CapsDirectX, VersionFromSystemLibraries) {
  tqtest::Watchdog watchdog(120);
  struct Case {
    std::vector<std::pair<const char*, const char*>> files;  // name in the folder, fixture
    int major, minor;
    char letter;
  } cases[] = {
      {{}, 0, 0, ' '},
      {{{"ddraw.dll", "ddraw-4.2.0.95.dll"}}, 1, 0, ' '},
      {{{"ddraw.dll", "ddraw-4.7.0.700.dll"}, {"dinput.dll", "dinput-4.7.0.716.dll"}}, 7, 0, 'a'},
      {{{"ddraw.dll", "ddraw-5.1.2258.400.dll"}}, 8, 0, ' '},
      {{{"ddraw.dll", "ddraw-5.1.2258.399.dll"}}, 7, 0, ' '},
      // A first number of 6 meets neither form of the 8.0 test.
      {{{"ddraw.dll", "ddraw-6.0.6000.16386.dll"}}, 7, 0, ' '},
      {{{"d3d8.dll", "d3d8-5.1.2600.901.dll"}}, 8, 1, 'a'},
      {{{"d3d8.dll", "d3d8-5.1.2600.901.dll"}, {"mpg2splt.ax", "mpg2splt-6.3.1.885.dll"}}, 8, 1, 'b'},
      {{{"dpnet.dll", "dpnet-5.2.3677.134.dll"}}, 8, 2, ' '},
      {{{"dpnet.dll", "dpnet-5.2.3677.133.dll"}}, 0, 0, ' '},
      {{{"ddraw.dll", "ddraw-4.2.0.95.dll"}, {"d3d9.dll", "d3d9-5.3.2600.2180.dll"}}, 9, 0, ' '},
      // A file without a version resource is no library of the table.
      {{{"d3d9.dll", nullptr}}, 0, 0, ' '},
  };
  for (const Case& c : cases) {
    tqtest::TempDir system;
    std::string names;
    for (const auto& [name, fixture] : c.files) {
      std::string bytes = fixture ? ReadFile(CapsFixture(fixture)) : std::string("no resource here");
      ASSERT_FALSE(bytes.empty()) << "PE test file " << fixture << " missing";
      ASSERT_TRUE(WriteFile(system / name, bytes));
      names += std::string(name) + " ";
    }
    int major = -1, minor = -1;
    char letter = '?';
    tqCapsDxFromFiles(system.Path().c_str(), &major, &minor, &letter);
    EXPECT_EQ(major, c.major) << names;
    EXPECT_EQ(minor, c.minor) << names;
    EXPECT_EQ(letter, c.letter) << names;
  }
  int major = -1, minor = -1;
  char letter = '?';
  tqCapsDxFromFiles(nullptr, &major, &minor, &letter);
  EXPECT_EQ(major, 0);
  EXPECT_EQ(letter, ' ');
}

TEST(CapsDirectX, FixedFileVersionOfAVersionBlock) {
  tqp::VersionResource resource;
  ASSERT_TRUE(resource.Load(CapsFixture("dpnet-5.2.3677.134.dll").c_str()));
  const std::vector<uint8_t>& block = resource.Block();
  uint64_t v = 0;
  ASSERT_TRUE(tqCapsFixedFileVersion(block.data(), block.size(), &v));
  EXPECT_EQ(v, 5ull << 48 | 2ull << 32 | 3677ull << 16 | 134);

  // Cut or damaged blocks are refused, never read past their end.
  for (size_t n = 0; n < 40 + 52 && n < block.size(); ++n)
    EXPECT_FALSE(tqCapsFixedFileVersion(block.data(), n, &v)) << n;
  std::vector<uint8_t> bad = block;
  bad[40] ^= 0xFF;  // signature
  EXPECT_FALSE(tqCapsFixedFileVersion(bad.data(), bad.size(), &v));
  bad = block;
  bad[2] = 10;  // value length below the fixed record's
  bad[3] = 0;
  EXPECT_FALSE(tqCapsFixedFileVersion(bad.data(), bad.size(), &v));
  const uint8_t unterminated[] = {0x40, 0, 52, 0, 0, 0, 'V', 0, 'S', 0, '_', 0};
  EXPECT_FALSE(tqCapsFixedFileVersion(unterminated, sizeof unterminated, &v));
  EXPECT_FALSE(tqCapsFixedFileVersion(nullptr, 100, &v));
}

TEST(CapsOem, ManufacturerAndModelFromTheFirstFolderThatHasThem) {
  tqtest::TempDir windows;
  ASSERT_TRUE(tqp::CreateDirectory((windows / "system").c_str()));
  ASSERT_TRUE(tqp::CreateDirectory((windows / "system32").c_str()));
  char manufacturer[256], model[256];

  tqCapsReadOemInfo(windows.Path().c_str(), manufacturer, model);
  EXPECT_STREQ(manufacturer, "");
  EXPECT_STREQ(model, "");

  // Only in system32: found by the third read.
  ASSERT_TRUE(WriteFile(windows / "system32\\Oeminfo.ini",
                        "[General]\r\nManufacturer=Third Maker\r\nModel=Model 3\r\n"));
  tqCapsReadOemInfo(windows.Path().c_str(), manufacturer, model);
  EXPECT_STREQ(manufacturer, "Third Maker");
  EXPECT_STREQ(model, "Model 3");

  // Each value comes from the first file that has it.
  ASSERT_TRUE(WriteFile(windows / "Oeminfo.ini", "[General]\r\nManufacturer=First Maker\r\n"));
  ASSERT_TRUE(WriteFile(windows / "system\\Oeminfo.ini", "[Other]\r\nModel=Wrong Section\r\n"));
  tqCapsReadOemInfo(windows.Path().c_str(), manufacturer, model);
  EXPECT_STREQ(manufacturer, "First Maker");
  EXPECT_STREQ(model, "Model 3");
}

TEST(CapsOem, ProfileValues) {
  tqtest::TempDir dir;
  const std::string file = dir / "p.ini";
  ASSERT_TRUE(WriteFile(file,
                        "[general]\r\n"
                        "  manufacturer  =  Spaced Maker  \r\n"
                        "Model=\"Quoted Model\"\r\n"
                        "Empty=\r\n"
                        "Long=0123456789\r\n"
                        "[Second]\n"
                        "Model=second\n"));
  struct Case {
    const char* section;
    const char* key;
    size_t size;
    const char* value;
  } cases[] = {
      {"General", "Manufacturer", 256, "Spaced Maker"},  // names without case, blanks dropped
      {"GENERAL", "model", 256, "Quoted Model"},
      {"Second", "Model", 256, "second"},
      {"General", "Empty", 256, ""},
      {"General", "Missing", 256, ""},
      {"Missing", "Model", 256, ""},
      {"General", "Long", 5, "0123"},  // cut to the buffer
  };
  for (const Case& c : cases) {
    char out[256];
    memset(out, 'x', sizeof out);
    uint32_t n = tqp::ReadProfileString(file.c_str(), c.section, c.key, out, c.size);
    EXPECT_STREQ(out, c.value) << c.section << "/" << c.key;
    EXPECT_EQ(n, strlen(c.value)) << c.section << "/" << c.key;
  }
  char out[16] = "x";
  EXPECT_EQ(tqp::ReadProfileString((dir / "none.ini").c_str(), "General", "Model", out, sizeof out), 0u);
  EXPECT_STREQ(out, "");
}

#ifndef _WIN32
TEST(CapsCpuInfo, NameAndClockFromProcCpuinfo) {
  const char text[] =
      "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Example CPU @ 3.20GHz\n"
      "cpu MHz\t\t: 3192.614\nprocessor\t: 1\nmodel name\t: Second\ncpu MHz\t\t: 1.0\n";
  char name[256];
  uint32_t mhz = 0;
  tqp::CpuInfoFromText(text, sizeof text - 1, name, sizeof name, &mhz);
  EXPECT_STREQ(name, "Example CPU @ 3.20GHz");
  EXPECT_EQ(mhz, 3192u);
  // Cut anywhere, the reader stays inside the text.
  for (size_t n = 0; n < sizeof text - 1; ++n) tqp::CpuInfoFromText(text, n, name, 8, &mhz);
  tqp::CpuInfoFromText("model name: x", 13, name, sizeof name, &mhz);
  EXPECT_STREQ(name, "x");
  EXPECT_EQ(mhz, 0u);
}
#endif

// A real probe of this machine: what must hold everywhere.
TEST_F(CapsTest, ProbeOfThisMachine) {
  tqCaps caps;
  caps.Probe(TQCAPS_ALL, TQCAPS_DDE_NONE);
  EXPECT_EQ(g_tqCaps, &caps);
  EXPECT_NE(caps.os.code, 0);
  EXPECT_TRUE(caps.os.bits == 32 || caps.os.bits == 64);
  const std::string name = caps.os.name;
  EXPECT_TRUE(name.size() >= 6 && name.substr(name.size() - 6) == (caps.os.bits == 64 ? " (x64)" : " (x86)"))
      << name;
  EXPECT_GT(caps.os.code, 63) << "the tests run on modern systems only";

  EXPECT_EQ(caps.cpu.hasCpuid, 1);
  EXPECT_EQ(caps.cpu.mmx, 1);
  EXPECT_EQ(caps.cpu.sse, 1);
  EXPECT_GT(strlen(caps.cpu.vendor), 0u);
  EXPECT_GE(caps.cpu.processors, 1);
  EXPECT_GT(caps.cpu.clock, 0) << "measured clock";
  EXPECT_GT(caps.memory[1], 0);
  EXPECT_LE(caps.memory[0], caps.memory[1]);
  EXPECT_GT(caps.memory[3], 0);
  EXPECT_GT(strlen(caps.dxText), 0u);
  EXPECT_EQ(caps.ddeMode, 0);
  EXPECT_TRUE(tqCapsHasMmx());

  tqOsInfo os;
  caps.GetOsInfo(&os);
  EXPECT_EQ(memcmp(&os, &caps.os, sizeof os), 0);
  tqCpuInfo cpu;
  EXPECT_EQ(caps.GetCpuInfo(&cpu), &caps.cpu);
  EXPECT_EQ(memcmp(&cpu, &caps.cpu, sizeof cpu), 0);
  EXPECT_EQ(caps.GetCpuInfo(nullptr), &caps.cpu);

  // A second probe does nothing while one is registered.
  tqCaps second;
  second.Probe(TQCAPS_ALL, TQCAPS_DDE_NONE);
  EXPECT_EQ(g_tqCaps, &caps);
  EXPECT_EQ(second.os.code, 0);
  EXPECT_EQ(second.cpu.hasCpuid, 0);
}

#ifndef _WIN32
TEST_F(CapsTest, PosixSystemsAreAnUnknownPlatformWithoutDirectX) {
  tqCaps caps;
  caps.Probe(TQCAPS_OS | TQCAPS_DIRECTX, TQCAPS_DDE_NONE);
  EXPECT_EQ(caps.os.code, TQOS_UNKNOWN);
  EXPECT_EQ(std::string(caps.os.name).rfind("OS Unknown... (x", 0), 0u) << caps.os.name;
  EXPECT_EQ(caps.dxVersion, 0);
  EXPECT_STREQ(caps.dxText, "0.0 ");
}
#endif

TEST_F(CapsTest, FlagsSelectTheProbes) {
  tqCaps caps;
  caps.Probe(TQCAPS_MEMORY, TQCAPS_DDE_NONE);
  EXPECT_EQ(caps.os.code, 0);
  EXPECT_EQ(caps.cpu.hasCpuid, 0);
  EXPECT_STREQ(caps.dxText, "");
  EXPECT_GT(caps.memory[1], 0);
  EXPECT_FALSE(tqCapsHasMmx());
  g_tqCaps = nullptr;
  tqCaps cpuOnly;
  cpuOnly.Probe(TQCAPS_CPU, TQCAPS_DDE_NONE);
  EXPECT_EQ(cpuOnly.cpu.clock, 0) << "measured only with its flag";
  EXPECT_EQ(cpuOnly.cpu.hasCpuid, 1);
  EXPECT_EQ(cpuOnly.memory[1], 0);
}

TEST_F(CapsTest, StartupCreatesAndShutdownDeletesTheProbe) {
  tqCapsInstallHooks();
  ASSERT_EQ(LibraryStartup(TQCAPS_OS | TQCAPS_CPU, 0), 1);
  ASSERT_NE(g_tqCaps, nullptr);
  EXPECT_EQ(g_tqDDE, nullptr);
  EXPECT_NE(g_tqCaps->os.code, 0);
  EXPECT_EQ(g_tqCaps->cpu.hasCpuid, 1);
  // The memory routines ask the probe through the hook.
  ASSERT_NE(LibraryHooks().capsHasMmx, nullptr);
  EXPECT_TRUE(LibraryHooks().capsHasMmx());
  LibraryShutdown();
  EXPECT_EQ(g_tqCaps, nullptr);
  EXPECT_FALSE(tqCapsHasMmx());
}

}  // namespace
