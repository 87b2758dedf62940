// Files, attributes, times, folders and directory search of the platform
// layer. Every expectation here holds for both backends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/tqPlatform.h"
#include "tests/support/tqTestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const uint32_t kReadWrite = tqp::ACCESS_READ | tqp::ACCESS_WRITE;

// Closes a handle at the end of a scope.
struct Open {
  tqp::FileHandle h;
  explicit Open(tqp::FileHandle handle) : h(handle) {}
  ~Open() {
    if (h != tqp::INVALID_FILE) tqp::FileClose(h);
  }
  bool ok() const { return h != tqp::INVALID_FILE; }
};

std::string ReadAll(tqp::FileHandle h) {
  std::string bytes(64, '\0');
  uint32_t done = 0;
  if (!tqp::FileRead(h, bytes.data(), (uint32_t)bytes.size(), &done)) return "<read failed>";
  bytes.resize(done);
  return bytes;
}

bool Exists(const std::string& path) { return tqp::GetAttributes(path.c_str()) != tqp::ATTR_INVALID; }

struct DispositionCase {
  uint32_t disposition;
  bool existsBefore;
  bool opens;
  uint32_t error;       // LastError after a failure or an "always" disposition
  int64_t sizeAfter;    // of the open file
};

TEST(FileOpen, Dispositions) {
  const DispositionCase cases[] = {
      {tqp::DISP_CREATE_NEW, false, true, 0, 0},
      {tqp::DISP_CREATE_NEW, true, false, tqp::ERR_FILE_EXISTS, 0},
      {tqp::DISP_CREATE_ALWAYS, false, true, 0, 0},
      {tqp::DISP_CREATE_ALWAYS, true, true, tqp::ERR_ALREADY_EXISTS, 0},
      {tqp::DISP_OPEN_EXISTING, false, false, tqp::ERR_FILE_NOT_FOUND, 0},
      {tqp::DISP_OPEN_EXISTING, true, true, 0, 5},
      {tqp::DISP_OPEN_ALWAYS, false, true, 0, 0},
      {tqp::DISP_OPEN_ALWAYS, true, true, tqp::ERR_ALREADY_EXISTS, 5},
      {tqp::DISP_TRUNCATE_EXISTING, false, false, tqp::ERR_FILE_NOT_FOUND, 0},
      {tqp::DISP_TRUNCATE_EXISTING, true, true, 0, 0},
  };
  tqtest::TempDir dir;
  int n = 0;
  for (const DispositionCase& c : cases) {
    std::string name = dir / ("f" + std::to_string(n++));
    if (c.existsBefore) {
      ASSERT_TRUE(tqtest::WriteFile(name, "hello"));
    }
    tqp::SetLastError(12345);
    Open f(tqp::FileOpen(name.c_str(), kReadWrite, 0, c.disposition, tqp::ATTR_NORMAL));
    uint32_t error = tqp::LastError();
    SCOPED_TRACE("disposition " + std::to_string(c.disposition) +
                 (c.existsBefore ? " on an existing file" : " on a missing file"));
    EXPECT_EQ(f.ok(), c.opens);
    if (c.opens) {
      EXPECT_EQ(tqp::FileSize(f.h), c.sizeAfter);
      // The two "always" dispositions tell whether the file was there.
      if (c.disposition == tqp::DISP_CREATE_ALWAYS || c.disposition == tqp::DISP_OPEN_ALWAYS) {
        EXPECT_EQ(error, c.error);
      }
    } else {
      EXPECT_EQ(error, c.error);
    }
    EXPECT_EQ(Exists(name), c.opens || c.existsBefore);
  }
}

TEST(FileOpen, FailuresReportWhy) {
  tqtest::TempDir dir;
  // A folder is no file.
  Open folder(tqp::FileOpen(dir.Path().c_str(), tqp::ACCESS_READ, tqp::SHARE_READ,
                            tqp::DISP_OPEN_EXISTING, 0));
  EXPECT_FALSE(folder.ok());
  EXPECT_EQ(tqp::LastError(), tqp::ERR_ACCESS_DENIED);
  // Nothing can be created in a missing folder.
  Open nested(tqp::FileOpen((dir / "missing\\f").c_str(), kReadWrite, 0, tqp::DISP_CREATE_ALWAYS,
                            tqp::ATTR_NORMAL));
  EXPECT_FALSE(nested.ok());
  EXPECT_TRUE(tqp::LastError() == tqp::ERR_PATH_NOT_FOUND ||
              tqp::LastError() == tqp::ERR_FILE_NOT_FOUND)
      << tqp::LastError();
  EXPECT_EQ(tqp::FileOpen(nullptr, tqp::ACCESS_READ, 0, tqp::DISP_OPEN_EXISTING, 0), tqp::INVALID_FILE);
}

TEST(File, ReadWriteSeekAndSize) {
  tqtest::TempDir dir;
  Open f(tqp::FileOpen((dir / "data").c_str(), kReadWrite, 0, tqp::DISP_CREATE_NEW, tqp::ATTR_NORMAL));
  ASSERT_TRUE(f.ok());
  uint32_t done = 0;
  ASSERT_TRUE(tqp::FileWrite(f.h, "0123456789", 10, &done));
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(tqp::FileSize(f.h), 10);
  EXPECT_EQ(tqp::FileSeek(f.h, 0, 1), 10);

  EXPECT_EQ(tqp::FileSeek(f.h, 3, 0), 3);
  char buffer[16] = {};
  ASSERT_TRUE(tqp::FileRead(f.h, buffer, 4, &done));
  EXPECT_EQ(std::string(buffer, done), "3456");
  EXPECT_EQ(tqp::FileSeek(f.h, -2, 1), 5);
  EXPECT_EQ(tqp::FileSeek(f.h, -2, 2), 8);
  ASSERT_TRUE(tqp::FileRead(f.h, buffer, sizeof buffer, &done));
  EXPECT_EQ(std::string(buffer, done), "89");
  // At the end a read succeeds with nothing.
  ASSERT_TRUE(tqp::FileRead(f.h, buffer, sizeof buffer, &done));
  EXPECT_EQ(done, 0u);

  // Before the start is refused and the position stays.
  EXPECT_EQ(tqp::FileSeek(f.h, -1, 0), -1);
  EXPECT_EQ(tqp::FileSeek(f.h, 0, 1), 10);

  // Beyond the end is allowed; setting the end there grows the file with
  // zeros, setting it earlier cuts it.
  EXPECT_EQ(tqp::FileSeek(f.h, 20, 0), 20);
  EXPECT_EQ(tqp::FileSize(f.h), 10);
  ASSERT_TRUE(tqp::FileSetEnd(f.h));
  EXPECT_EQ(tqp::FileSize(f.h), 20);
  EXPECT_EQ(tqp::FileSeek(f.h, 4, 0), 4);
  ASSERT_TRUE(tqp::FileSetEnd(f.h));
  EXPECT_EQ(tqp::FileSize(f.h), 4);
  ASSERT_TRUE(tqp::FileWrite(f.h, "ab", 2, &done));
  EXPECT_TRUE(tqp::FileFlush(f.h));
  ASSERT_TRUE(tqp::FileClose(f.h));
  f.h = tqp::INVALID_FILE;
  EXPECT_EQ(tqtest::ReadFile(dir / "data"), "0123ab");
}

TEST(File, SharedHandlesSeeEachOther) {
  tqtest::TempDir dir;
  std::string name = dir / "shared";
  const uint32_t share = tqp::SHARE_READ | tqp::SHARE_WRITE;
  Open writer(tqp::FileOpen(name.c_str(), tqp::ACCESS_WRITE, share, tqp::DISP_CREATE_NEW, tqp::ATTR_NORMAL));
  ASSERT_TRUE(writer.ok());
  Open reader(tqp::FileOpen(name.c_str(), tqp::ACCESS_READ, share, tqp::DISP_OPEN_EXISTING, 0));
  ASSERT_TRUE(reader.ok());
  Open second(tqp::FileOpen(name.c_str(), tqp::ACCESS_READ, share, tqp::DISP_OPEN_EXISTING, 0));
  ASSERT_TRUE(second.ok());
  uint32_t done = 0;
  ASSERT_TRUE(tqp::FileWrite(writer.h, "abc", 3, &done));
  EXPECT_EQ(ReadAll(reader.h), "abc");
  EXPECT_EQ(ReadAll(second.h), "abc");
  // Each handle has its own position.
  EXPECT_EQ(tqp::FileSeek(reader.h, 0, 1), 3);
  EXPECT_EQ(tqp::FileSeek(second.h, 1, 0), 1);
  EXPECT_EQ(ReadAll(second.h), "bc");
}

#ifdef _WIN32
// POSIX has no mandatory sharing; on Windows the share mode is passed through.
TEST(File, ShareModesRefuseOtherOpeners) {
  tqtest::TempDir dir;
  std::string name = dir / "locked";
  ASSERT_TRUE(tqtest::WriteFile(name, "x"));
  Open exclusive(tqp::FileOpen(name.c_str(), tqp::ACCESS_READ, 0, tqp::DISP_OPEN_EXISTING, 0));
  ASSERT_TRUE(exclusive.ok());
  Open other(tqp::FileOpen(name.c_str(), tqp::ACCESS_READ, tqp::SHARE_READ, tqp::DISP_OPEN_EXISTING, 0));
  EXPECT_FALSE(other.ok());
  EXPECT_EQ(tqp::LastError(), tqp::ERR_SHARING_VIOLATION);

  Open reading(tqp::FileOpen((dir / "locked2").c_str(), tqp::ACCESS_WRITE, tqp::SHARE_READ,
                             tqp::DISP_CREATE_NEW, tqp::ATTR_NORMAL));
  ASSERT_TRUE(reading.ok());
  Open reader(tqp::FileOpen((dir / "locked2").c_str(), tqp::ACCESS_READ,
                            tqp::SHARE_READ | tqp::SHARE_WRITE, tqp::DISP_OPEN_EXISTING, 0));
  EXPECT_TRUE(reader.ok());
  Open writer(tqp::FileOpen((dir / "locked2").c_str(), tqp::ACCESS_WRITE,
                            tqp::SHARE_READ | tqp::SHARE_WRITE, tqp::DISP_OPEN_EXISTING, 0));
  EXPECT_FALSE(writer.ok());
  EXPECT_EQ(tqp::LastError(), tqp::ERR_SHARING_VIOLATION);
}
#endif

TEST(File, UnbufferedReadsWholeSectors) {
  tqtest::TempDir dir;
  std::string name = dir / "sectors";
  uint32_t sector = tqp::SectorSize(dir.Path().c_str());
  ASSERT_GE(sector, 512u);
  ASSERT_EQ(sector & (sector - 1), 0u) << sector;
  std::string content(sector * 2, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = (char)(i * 7);
  ASSERT_TRUE(tqtest::WriteFile(name, content));

  Open buffered(tqp::FileOpen(name.c_str(), tqp::ACCESS_READ, tqp::SHARE_READ, tqp::DISP_OPEN_EXISTING, 0));
  ASSERT_TRUE(buffered.ok());
  EXPECT_FALSE(tqp::FileIsUnbuffered(buffered.h));

  Open f(tqp::FileOpen(name.c_str(), tqp::ACCESS_READ, tqp::SHARE_READ, tqp::DISP_OPEN_EXISTING, 0,
                       tqp::OPEN_NO_BUFFERING | tqp::OPEN_SEQUENTIAL));
  ASSERT_TRUE(f.ok());
#ifdef _WIN32
  EXPECT_TRUE(tqp::FileIsUnbuffered(f.h));
#endif
  // A buffer aligned to the sector, as unbuffered reads require.
  std::vector<char> space(sector * 3);
  char* aligned = space.data() + (sector - (uintptr_t)space.data() % sector) % sector;
  uint32_t done = 0;
  ASSERT_TRUE(tqp::FileRead(f.h, aligned, sector * 2, &done));
  ASSERT_EQ(done, sector * 2);
  EXPECT_EQ(std::string(aligned, done), content);
}

TEST(File, TimesRoundTrip) {
  tqtest::TempDir dir;
  std::string name = dir / "timed";
  // 2020-01-01 00:00:00 UTC plus a fraction, in 100 ns units.
  const uint64_t write = 132223104000000000ull + 1234567;
  const uint64_t access = 132223104000000000ull + 86400ull * 10000000;
  {
    Open f(tqp::FileOpen(name.c_str(), kReadWrite, 0, tqp::DISP_CREATE_NEW, tqp::ATTR_NORMAL));
    ASSERT_TRUE(f.ok());
    ASSERT_TRUE(tqp::FileSetTimes(f.h, nullptr, &access, &write));
    uint64_t gotWrite = 0, gotAccess = 0, gotCreation = 0;
    ASSERT_TRUE(tqp::FileGetTimes(f.h, &gotCreation, &gotAccess, &gotWrite));
    EXPECT_EQ(gotWrite, write);
    EXPECT_EQ(gotAccess, access);
    EXPECT_NE(gotCreation, 0u);
    // A null pointer leaves that time alone.
    uint64_t later = write + 10000000;
    ASSERT_TRUE(tqp::FileSetTimes(f.h, nullptr, nullptr, &later));
    ASSERT_TRUE(tqp::FileGetTimes(f.h, nullptr, &gotAccess, &gotWrite));
    EXPECT_EQ(gotWrite, later);
    EXPECT_EQ(gotAccess, access);
  }
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst(name.c_str(), data);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(data.write, write + 10000000);
  tqp::FindClose(h);
}

TEST(Attributes, ReadOnlyRoundTrip) {
  tqtest::TempDir dir;
  std::string name = dir / "ro";
  ASSERT_TRUE(tqtest::WriteFile(name, "keep"));
  uint32_t attributes = tqp::GetAttributes(name.c_str());
  ASSERT_NE(attributes, tqp::ATTR_INVALID);
  EXPECT_EQ(attributes & (tqp::ATTR_READONLY | tqp::ATTR_DIRECTORY), 0u);

  ASSERT_TRUE(tqp::SetAttributes(name.c_str(), tqp::ATTR_READONLY));
  EXPECT_NE(tqp::GetAttributes(name.c_str()) & tqp::ATTR_READONLY, 0u);
#ifndef _WIN32
  // The POSIX backend refuses these itself, since the owner (or root) may
  // write a file whatever its mode bits. On Windows the system refuses them
  // (Wine running as root does not).
  Open writer(tqp::FileOpen(name.c_str(), tqp::ACCESS_WRITE, 0, tqp::DISP_OPEN_EXISTING, 0));
  EXPECT_FALSE(writer.ok());
  EXPECT_EQ(tqp::LastError(), tqp::ERR_ACCESS_DENIED);
  EXPECT_FALSE(tqp::DeleteFile(name.c_str()));
  EXPECT_EQ(tqp::LastError(), tqp::ERR_ACCESS_DENIED);
#endif
  Open reader(tqp::FileOpen(name.c_str(), tqp::ACCESS_READ, tqp::SHARE_READ, tqp::DISP_OPEN_EXISTING, 0));
  ASSERT_TRUE(reader.ok());
  EXPECT_EQ(ReadAll(reader.h), "keep");

  ASSERT_TRUE(tqp::SetAttributes(name.c_str(), tqp::ATTR_NORMAL));
  EXPECT_EQ(tqp::GetAttributes(name.c_str()) & tqp::ATTR_READONLY, 0u);
  tqp::FileClose(reader.h);
  reader.h = tqp::INVALID_FILE;
  EXPECT_TRUE(tqp::DeleteFile(name.c_str()));
  EXPECT_FALSE(Exists(name));
}

TEST(Attributes, FoldersAndMissingNames) {
  tqtest::TempDir dir;
  EXPECT_NE(tqp::GetAttributes(dir.Path().c_str()) & tqp::ATTR_DIRECTORY, 0u);
  EXPECT_EQ(tqp::GetAttributes((dir / "missing").c_str()), tqp::ATTR_INVALID);
  EXPECT_EQ(tqp::LastError(), tqp::ERR_FILE_NOT_FOUND);
  EXPECT_EQ(tqp::GetAttributes(nullptr), tqp::ATTR_INVALID);
  EXPECT_FALSE(tqp::SetAttributes((dir / "missing").c_str(), tqp::ATTR_NORMAL));
}

TEST(Folders, CreateRemoveMoveDelete) {
  tqtest::TempDir dir;
  std::string sub = dir / "sub";
  ASSERT_TRUE(tqp::CreateDirectory(sub.c_str()));
  EXPECT_FALSE(tqp::CreateDirectory(sub.c_str()));
  EXPECT_EQ(tqp::LastError(), tqp::ERR_ALREADY_EXISTS);
  EXPECT_FALSE(tqp::CreateDirectory((dir / "no\\such").c_str()));
  EXPECT_EQ(tqp::LastError(), tqp::ERR_PATH_NOT_FOUND);

  ASSERT_TRUE(tqtest::WriteFile(sub + "\\a", "A"));
  ASSERT_TRUE(tqtest::WriteFile(sub + "\\b", "B"));
  EXPECT_FALSE(tqp::RemoveDirectory(sub.c_str()));  // not empty
  EXPECT_TRUE(Exists(sub));

  EXPECT_FALSE(tqp::MoveFile((sub + "\\a").c_str(), (sub + "\\b").c_str()));
  EXPECT_EQ(tqp::LastError(), tqp::ERR_ALREADY_EXISTS);
  EXPECT_EQ(tqtest::ReadFile(sub + "\\b"), "B");
  ASSERT_TRUE(tqp::MoveFile((sub + "\\a").c_str(), (dir / "moved").c_str()));
  EXPECT_FALSE(Exists(sub + "\\a"));
  EXPECT_EQ(tqtest::ReadFile(dir / "moved"), "A");

  EXPECT_FALSE(tqp::DeleteFile((sub + "\\a").c_str()));
  EXPECT_EQ(tqp::LastError(), tqp::ERR_FILE_NOT_FOUND);
  EXPECT_FALSE(tqp::DeleteFile(sub.c_str()));  // a folder is no file
  ASSERT_TRUE(tqp::DeleteFile((sub + "\\b").c_str()));
  EXPECT_TRUE(tqp::RemoveDirectory(sub.c_str()));
  EXPECT_FALSE(Exists(sub));
}

TEST(Folders, CurrentDirectory) {
  char saved[1024];
  ASSERT_TRUE(tqp::GetCurrentDirectory(saved, sizeof saved));
  {
    tqtest::TempDir dir;
    ASSERT_TRUE(tqp::SetCurrentDirectory(dir.Path().c_str()));
    char now[1024];
    ASSERT_TRUE(tqp::GetCurrentDirectory(now, sizeof now));
    EXPECT_EQ(std::string(now), dir.Path());
    char tiny[4];
    EXPECT_FALSE(tqp::GetCurrentDirectory(tiny, sizeof tiny));
    // Relative names resolve against it.
    ASSERT_TRUE(tqtest::WriteFile("relative.txt", "r"));
    EXPECT_EQ(tqtest::ReadFile(dir / "relative.txt"), "r");
    ASSERT_TRUE(tqp::SetCurrentDirectory(saved));
  }
  EXPECT_FALSE(tqp::SetCurrentDirectory("no-such-folder-here"));
}

TEST(Folders, ModuleFileNameNamesTheTestProgram) {
  char path[1024];
  ASSERT_TRUE(tqp::GetModuleFileName(path, sizeof path));
  std::string name(path);
  EXPECT_NE(name.find("tq_platform_tests"), std::string::npos) << name;
  EXPECT_TRUE(Exists(name));
  char tiny[4];
  EXPECT_FALSE(tqp::GetModuleFileName(tiny, sizeof tiny));
}

// ------------------------------------------------------------ directory search

std::set<std::string> Search(const std::string& pattern, uint32_t* error = nullptr) {
  std::set<std::string> names;
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst(pattern.c_str(), data);
  if (!h) {
    if (error) *error = tqp::LastError();
    return names;
  }
  do {
    if (strcmp(data.name, ".") && strcmp(data.name, "..")) names.insert(data.name);
  } while (tqp::FindNext(h, data));
  if (error) *error = tqp::LastError();
  tqp::FindClose(h);
  return names;
}

TEST(Find, PatternsAndResults) {
  tqtest::TempDir dir;
  ASSERT_TRUE(tqtest::WriteFile(dir / "a.txt", "1"));
  ASSERT_TRUE(tqtest::WriteFile(dir / "b.txt", "22"));
  ASSERT_TRUE(tqtest::WriteFile(dir / "c.dat", "333"));
  // 表 is 0x95 0x5C: its trail byte is a backslash.
  ASSERT_TRUE(tqtest::WriteFile(dir / "表示.txt", "4444")) << tqp::LastError();
  ASSERT_TRUE(tqp::CreateDirectory((dir / "sub").c_str()));

  uint32_t error = 0;
  EXPECT_EQ(Search(dir / "*", &error),
            (std::set<std::string>{"a.txt", "b.txt", "c.dat", "表示.txt", "sub"}));
  EXPECT_EQ(error, tqp::ERR_NO_MORE_FILES);
  EXPECT_EQ(Search(dir / "*.txt"), (std::set<std::string>{"a.txt", "b.txt", "表示.txt"}));
  EXPECT_EQ(Search(dir / "?.txt"), (std::set<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(Search(dir / "表*"), (std::set<std::string>{"表示.txt"}));
  EXPECT_EQ(Search(dir / "c.dat"), (std::set<std::string>{"c.dat"}));

  EXPECT_TRUE(Search(dir / "*.none", &error).empty());
  EXPECT_EQ(error, tqp::ERR_FILE_NOT_FOUND);
  EXPECT_TRUE(Search(dir / "missing\\*", &error).empty());
  EXPECT_EQ(error, tqp::ERR_PATH_NOT_FOUND);

  // Sizes and attributes come with the names.
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst((dir / "*").c_str(), data);
  ASSERT_NE(h, nullptr);
  int seen = 0;
  do {
    std::string name = data.name;
    if (name == "sub") {
      EXPECT_NE(data.attributes & tqp::ATTR_DIRECTORY, 0u);
      ++seen;
    } else if (name == "表示.txt" || name == "c.dat") {
      EXPECT_EQ(data.attributes & tqp::ATTR_DIRECTORY, 0u);
      EXPECT_EQ(data.size, name == "c.dat" ? 3u : 4u);
      EXPECT_NE(data.write, 0u);
      ++seen;
    }
  } while (tqp::FindNext(h, data));
  tqp::FindClose(h);
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(tqtest::ReadFile(dir / "表示.txt"), "4444");

  EXPECT_EQ(tqp::FindFirst(nullptr, data), nullptr);
  EXPECT_FALSE(tqp::FindNext(nullptr, data));
}

}  // namespace

#ifndef _WIN32
// Links and special files as the platform reports and opens them.
TEST(FileOpen, SpecialFilesAndLinks) {
  tqtest::TempDir dir;
  std::string base;
  ASSERT_TRUE(tqp::ToSystemPath(dir.Path().c_str(), base));
  ASSERT_TRUE(tqtest::WriteFile(dir / "target", "kept"));
  ASSERT_EQ(mkfifo((base + "/pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink((base + "/target").c_str(), (base + "/link").c_str()), 0);
  ASSERT_EQ(symlink(base.c_str(), (base + "/folderlink").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent", (base + "/dangling").c_str()), 0);
  // A FIFO neither blocks nor opens, for reading or writing.
  for (uint32_t access : {tqp::ACCESS_READ, tqp::ACCESS_WRITE}) {
    Open pipe(tqp::FileOpen((dir / "pipe").c_str(), access, 0, tqp::DISP_OPEN_EXISTING, 0));
    EXPECT_FALSE(pipe.ok());
    EXPECT_EQ(tqp::LastError(), tqp::ERR_ACCESS_DENIED);
  }
  Open device(tqp::FileOpen("Z:\\dev\\zero", tqp::ACCESS_READ, 0, tqp::DISP_OPEN_EXISTING, 0));
  EXPECT_FALSE(device.ok());
  // Reads may follow a link; writes never do, whatever the disposition.
  {
    Open read(tqp::FileOpen((dir / "link").c_str(), tqp::ACCESS_READ, 0, tqp::DISP_OPEN_EXISTING, 0));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(ReadAll(read.h), "kept");
  }
  {
    Open read(tqp::FileOpen((dir / "link").c_str(), tqp::ACCESS_READ, 0, tqp::DISP_OPEN_EXISTING, 0,
                            tqp::OPEN_NO_FOLLOW));
    EXPECT_FALSE(read.ok());
    Open plain(tqp::FileOpen((dir / "target").c_str(), tqp::ACCESS_READ, 0, tqp::DISP_OPEN_EXISTING, 0,
                             tqp::OPEN_NO_FOLLOW));
    EXPECT_TRUE(plain.ok());
  }
  for (uint32_t disposition : {tqp::DISP_CREATE_ALWAYS, tqp::DISP_OPEN_ALWAYS, tqp::DISP_OPEN_EXISTING,
                               tqp::DISP_TRUNCATE_EXISTING}) {
    for (const char* name : {"link", "dangling"}) {
      Open write(tqp::FileOpen((dir / name).c_str(), tqp::ACCESS_WRITE, 0, disposition, 0));
      EXPECT_FALSE(write.ok()) << name << " " << disposition;
      EXPECT_EQ(tqp::LastError(), tqp::ERR_ACCESS_DENIED);
    }
  }
  EXPECT_EQ(tqtest::ReadFile(dir / "target"), "kept");
  // What the entries are, as a search and the no-follow query see them.
  struct {
    const char* name;
    uint32_t set, clear;
  } rows[] = {
      {"link", tqp::ATTR_REPARSE_POINT, tqp::ATTR_DIRECTORY},
      {"folderlink", tqp::ATTR_REPARSE_POINT | tqp::ATTR_DIRECTORY, 0},
      {"dangling", tqp::ATTR_REPARSE_POINT, tqp::ATTR_DIRECTORY},
      {"pipe", tqp::ATTR_DEVICE, tqp::ATTR_REPARSE_POINT},
      {"target", 0, tqp::ATTR_REPARSE_POINT | tqp::ATTR_DEVICE},
  };
  for (const auto& row : rows) {
    uint32_t attributes = tqp::GetAttributesNoFollow((dir / row.name).c_str());
    ASSERT_NE(attributes, tqp::ATTR_INVALID) << row.name;
    EXPECT_EQ(attributes & row.set, row.set) << row.name;
    EXPECT_EQ(attributes & row.clear, 0u) << row.name;
    tqp::FindData data;
    tqp::FindHandle h = tqp::FindFirst((dir / row.name).c_str(), data);
    ASSERT_NE(h, nullptr) << row.name;
    EXPECT_EQ(data.attributes, attributes) << row.name;
    tqp::FindClose(h);
  }
  // The following query still sees through a link.
  EXPECT_EQ(tqp::GetAttributes((dir / "folderlink").c_str()) & tqp::ATTR_REPARSE_POINT, 0u);
}
#endif
