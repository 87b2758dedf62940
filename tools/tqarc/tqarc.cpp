// tqarc: create, list and extract the library's archives from the command
// line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#endif

#include "file/tqArchive.h"
#include "file/tqBigFile.h"
#include "file/tqFile.h"
#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"
#include "util/tqUtil.h"
#include "tools/common/tqProgressBar.h"

namespace {

constexpr uint32_t kChunk = 1u << 20;

const char kUsage[] =
    "usage:\n"
    "  tqarc create ARCHIVE [--encrypt] [--key TEXT] [--handles N] [--quiet] FILES...|DIR\n"
    "  tqarc list ARCHIVE [--key TEXT]\n"
    "  tqarc extract ARCHIVE [NAME...] [-C DIR] [--key TEXT] [--quiet]\n"
    "  tqarc cat ARCHIVE NAME [--key TEXT]\n";

// Text from the library (code page 932) for the terminal.
std::string Show(const std::string& narrow) {
#ifdef _WIN32
  return narrow;
#else
  std::string utf8;
  return tqp::Utf8FromNarrow(narrow, utf8) ? utf8 : narrow;
#endif
}

// A command-line argument as library text.
bool Narrow(const char* arg, std::string& out) {
#ifdef _WIN32
  out = arg;
  return true;
#else
  return tqp::NarrowFromUtf8(arg, out);
#endif
}

// A command-line path in the library's form ('/' is never a trail byte).
bool PathArg(const char* arg, std::string& out) {
  if (!Narrow(arg, out)) return false;
  std::replace(out.begin(), out.end(), '/', '\\');
  while (out.size() > 1 && out.back() == '\\' && !(out.size() == 3 && out[1] == ':')) out.pop_back();
  return true;
}

// Debug lines and error boxes of the library go to stderr.
struct StderrSink : tqLogSink {
  void Line(const char* text) override { fprintf(stderr, "tqarc: %s\n", Show(text).c_str()); }
};
struct StderrPresenter : tqErrorPresenter {
  void Show(const char*, const char* text) override {
    fprintf(stderr, "tqarc: %s\n", ::Show(text).c_str());
  }
};

using Progress = tqProgressBar;

struct Options {
  std::vector<std::string> positional;  // as given (UTF-8 on POSIX)
  bool encrypt = false, quiet = false;
  std::string key;
  bool hasKey = false;
  uint32_t handles = 16;
  std::string into = ".";
};

bool ParseOptions(int argc, char** argv, int from, Options& o) {
  for (int i = from; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--encrypt") {
      o.encrypt = true;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (a == "--key" && i + 1 < argc) {
      if (!Narrow(argv[++i], o.key)) return false;
      o.hasKey = true;
    } else if (a == "--handles" && i + 1 < argc) {
      long n = strtol(argv[++i], nullptr, 10);
      if (n < 1 || n > (long)TQARC_MAX_HANDLES) return false;
      o.handles = (uint32_t)n;
    } else if (a == "-C" && i + 1 < argc) {
      o.into = argv[++i];
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return false;
    } else {
      o.positional.push_back(a);
    }
  }
  return true;
}

// ---------------------------------------------------------------- create

struct Source {
  std::string path;  // library form
  std::string name;  // entry name, '/' between levels
  uint64_t size;
};

bool Walk(const std::string& folder, const std::string& prefix, const std::string& skip,
          std::vector<Source>& out) {
  tqp::FindData data;
  tqp::FindHandle h = tqp::FindFirst((folder + "\\*").c_str(), data);
  if (!h) return true;  // an empty folder
  std::vector<tqp::FindData> found;
  do {
    if (strcmp(data.name, ".") && strcmp(data.name, "..")) found.push_back(data);
  } while (tqp::FindNext(h, data));
  tqp::FindClose(h);
  std::sort(found.begin(), found.end(),
            [](const tqp::FindData& a, const tqp::FindData& b) { return strcmp(a.name, b.name) < 0; });
  for (const auto& f : found) {
    std::string path = folder + "\\" + f.name;
    std::string name = prefix.empty() ? std::string(f.name) : prefix + "/" + f.name;
    if (f.attributes & tqp::ATTR_DIRECTORY) {
      if (!Walk(path, name, skip, out)) return false;
    } else if (path != skip) {
      out.push_back({path, name, f.size});
    }
  }
  return true;
}

std::string BaseName(const std::string& path) {
  size_t cut = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = (unsigned char)path[i];
    if (tqIsLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c == '\\') cut = i;
  }
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

struct AddProgress {
  Progress* progress;
  uint32_t reported;
};

void OnChunk(void* user, uint32_t done) {
  auto* p = static_cast<AddProgress*>(user);
  p->progress->Add(done - p->reported);
  p->reported = done;
}

int Create(const Options& o) {
  if (o.positional.size() < 2) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string archivePath;
  if (!PathArg(o.positional[0].c_str(), archivePath)) {
    fprintf(stderr, "tqarc: %s: the name has no Shift_JIS form\n", o.positional[0].c_str());
    return 1;
  }
  std::vector<Source> sources;
  for (size_t i = 1; i < o.positional.size(); ++i) {
    std::string path;
    if (!PathArg(o.positional[i].c_str(), path)) {
      fprintf(stderr, "tqarc: %s: the name has no Shift_JIS form\n", o.positional[i].c_str());
      return 1;
    }
    uint32_t attributes = tqp::GetAttributes(path.c_str());
    if (attributes == tqp::ATTR_INVALID) {
      fprintf(stderr, "tqarc: %s: no such file or folder\n", o.positional[i].c_str());
      return 1;
    }
    if (attributes & tqp::ATTR_DIRECTORY) {
      Walk(path, "", archivePath, sources);
    } else {
      sources.push_back({path, BaseName(path), tqFile::GetFileSizeOf64(path.c_str())});
    }
  }
  uint64_t total = 0;
  for (const auto& s : sources) total += s.size;
  if (total >= 0xFFFFFFFFull) {
    fprintf(stderr, "tqarc: the files come to 4 GiB or more, beyond what an archive holds\n");
    return 1;
  }

  tqArchiveWriter writer;
  if (!writer.Begin(archivePath.c_str(), o.encrypt, o.handles, nullptr,
                    o.hasKey ? o.key.data() : nullptr, (uint32_t)o.key.size())) {
    fprintf(stderr, "tqarc: %s: %s\n", o.positional[0].c_str(), writer.Error());
    return 1;
  }
  Progress progress("", total, o.quiet);
  for (const auto& s : sources) {
    tqFile file;
    if (!file.Open(s.path.c_str(), TQFILE_READ | TQFILE_EXISTING)) {
      fprintf(stderr, "tqarc: %s: cannot open\n", Show(s.path).c_str());
      writer.Abort();
      return 1;
    }
    AddProgress p{&progress, 0};
    if (!writer.AddFile(s.name.c_str(), &file, OnChunk, &p)) {
      fprintf(stderr, "tqarc: %s: %s\n", Show(s.name).c_str(), writer.Error());
      writer.Abort();
      return 1;
    }
  }
  if (!writer.Finish()) {
    fprintf(stderr, "tqarc: %s: %s\n", o.positional[0].c_str(), writer.Error());
    writer.Abort();
    return 1;
  }
  return 0;
}

// ---------------------------------------------------------------- reading

bool OpenArchive(const Options& o, tqArchive& archive) {
  std::string path;
  if (!PathArg(o.positional[0].c_str(), path)) {
    fprintf(stderr, "tqarc: %s: the name has no Shift_JIS form\n", o.positional[0].c_str());
    return false;
  }
  if (!archive.Open(path.c_str(), nullptr, o.hasKey ? o.key.data() : nullptr, (uint32_t)o.key.size()))
    return false;  // the library's debug line has said why
  return true;
}

// Streams one entry to a callback, checking its CRC-32.
template <typename Sink>
bool CopyEntry(tqArchive& archive, const tqArchive::Listed& e, uint8_t* buffer, Progress& progress,
               Sink sink) {
  tqBigFile file(&archive);
  if (!file.Open(e.name.c_str(), TQFILE_READ | TQFILE_EXISTING)) return false;
  uint32_t crc = 0, done = 0;
  while (done < e.entry.size) {
    int n = file.Read(buffer, kChunk);
    if (n <= 0) return false;
    crc = tqCrc32(crc, buffer, (size_t)n);
    if (!sink(buffer, (uint32_t)n)) return false;
    done += (uint32_t)n;
    progress.Add((uint64_t)n);
  }
  if (crc != e.entry.third) {
    fprintf(stderr, "tqarc: %s: checksum mismatch (damaged, or another key)\n", Show(e.name).c_str());
    return false;
  }
  return true;
}

int List(const Options& o) {
  if (o.positional.size() != 1) {
    fputs(kUsage, stderr);
    return 2;
  }
  tqArchive archive;
  if (!OpenArchive(o, archive)) return 1;
  printf("%s: %u entries, %s, %u handles\n", o.positional[0].c_str(),
         (unsigned)archive.Entries().size(), archive.Encrypted() ? "enciphered" : "plain",
         (unsigned)archive.HandleCapacity());
  for (const auto& e : archive.Entries())
    printf("%10u  %08X  %s\n", (unsigned)e.entry.size, (unsigned)e.entry.third, Show(e.name).c_str());
  return 0;
}

// Creates the folders of an entry name under root.
bool MakeFolders(const std::string& root, const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = (unsigned char)name[i];
    if (tqIsLeadByte(c) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (c != '/') continue;
    std::string folder = root + "\\" + name.substr(0, i);
    std::replace(folder.begin() + (long)root.size(), folder.end(), '/', '\\');
    uint32_t attributes = tqp::GetAttributes(folder.c_str());
    if (attributes == tqp::ATTR_INVALID) {
      if (!tqp::CreateDirectory(folder.c_str())) return false;
    } else if (!(attributes & tqp::ATTR_DIRECTORY)) {
      return false;
    }
  }
  return true;
}

int Extract(const Options& o) {
  if (o.positional.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  tqArchive archive;
  if (!OpenArchive(o, archive)) return 1;
  std::string root;
  if (!PathArg(o.into.c_str(), root)) {
    fprintf(stderr, "tqarc: %s: the name has no Shift_JIS form\n", o.into.c_str());
    return 1;
  }
  uint32_t rootAttributes = tqp::GetAttributes(root.c_str());
  if (rootAttributes == tqp::ATTR_INVALID) {
    if (!tqp::CreateDirectory(root.c_str())) {
      fprintf(stderr, "tqarc: %s: cannot create the folder\n", o.into.c_str());
      return 1;
    }
  } else if (!(rootAttributes & tqp::ATTR_DIRECTORY)) {
    fprintf(stderr, "tqarc: %s: not a folder\n", o.into.c_str());
    return 1;
  }

  std::vector<const tqArchive::Listed*> chosen;
  std::vector<bool> used(o.positional.size(), false);
  for (const auto& e : archive.Entries()) {
    bool take = o.positional.size() == 1;
    for (size_t i = 1; i < o.positional.size() && !take; ++i) {
      std::string wanted;
      if (Narrow(o.positional[i].c_str(), wanted) &&
          tqArchive::UpperName(wanted.c_str()) == tqArchive::UpperName(e.name.c_str()))
        take = used[i] = true;
    }
    if (take) chosen.push_back(&e);
  }
  int status = 0;
  for (size_t i = 1; i < o.positional.size(); ++i) {
    if (!used[i]) {
      fprintf(stderr, "tqarc: %s: not in the archive\n", o.positional[i].c_str());
      status = 1;
    }
  }
  uint64_t total = 0;
  for (auto* e : chosen) total += e->entry.size;
  Progress progress("", total, o.quiet);
  auto* buffer = static_cast<uint8_t*>(PrivateAlloc(0, kChunk));
  if (!buffer) return 1;
  for (auto* e : chosen) {
    std::string target = root + "\\" + e->name;
    std::replace(target.begin() + (long)root.size(), target.end(), '/', '\\');
    if (!MakeFolders(root, e->name)) {
      fprintf(stderr, "tqarc: %s: cannot create its folder\n", Show(e->name).c_str());
      status = 1;
      continue;
    }
    tqFile out;
    if (!out.Open(target.c_str(), TQFILE_WRITE | TQFILE_CREATE)) {
      fprintf(stderr, "tqarc: %s: cannot create\n", Show(target).c_str());
      status = 1;
      continue;
    }
    bool ok = CopyEntry(archive, *e, buffer, progress,
                        [&](const uint8_t* data, uint32_t n) { return out.Write(data, n) == (int)n; });
    if (!out.Close() || !ok) {
      fprintf(stderr, "tqarc: %s: extraction failed\n", Show(e->name).c_str());
      tqp::DeleteFile(target.c_str());  // leave no damaged file behind
      status = 1;
    }
  }
  PrivateFree(buffer);
  return status;
}

int Cat(const Options& o) {
  if (o.positional.size() != 2) {
    fputs(kUsage, stderr);
    return 2;
  }
  tqArchive archive;
  if (!OpenArchive(o, archive)) return 1;
  std::string wanted;
  if (!Narrow(o.positional[1].c_str(), wanted)) return 1;
  for (const auto& e : archive.Entries()) {
    if (tqArchive::UpperName(e.name.c_str()) != tqArchive::UpperName(wanted.c_str())) continue;
#ifdef _WIN32
    _setmode(_fileno(stdout), 0x8000);  // binary output
#endif
    Progress progress("", 0, true);
    auto* buffer = static_cast<uint8_t*>(PrivateAlloc(0, kChunk));
    if (!buffer) return 1;
    bool ok = CopyEntry(archive, e, buffer, progress, [](const uint8_t* data, uint32_t n) {
      return fwrite(data, 1, n, stdout) == n;
    });
    PrivateFree(buffer);
    return ok && fflush(stdout) == 0 ? 0 : 1;
  }
  fprintf(stderr, "tqarc: %s: not in the archive\n", o.positional[1].c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string command = argv[1];
  Options options;
  if (!ParseOptions(argc, argv, 2, options)) {
    fputs(kUsage, stderr);
    return 2;
  }
  CreatePrivateHeap(10485760);  // before the sink: its debug line is not for users
  AttachLogSink(new StderrSink);
  StderrPresenter presenter;
  SetErrorPresenter(&presenter);

  int status;
  if (command == "create")
    status = Create(options);
  else if (command == "list")
    status = List(options);
  else if (command == "extract")
    status = Extract(options);
  else if (command == "cat")
    status = Cat(options);
  else {
    fputs(kUsage, stderr);
    status = 2;
  }
  CloseLogSink();
  SetErrorPresenter(nullptr);
  DestroyPrivateHeap();
  return status;
}
