// Paths, tree walks, file comparison and copy, the progress bar.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/tqConsole.h"
#include "platform/tqPlatform.h"
#include "tools/tqpatch/tqPatch.h"

namespace fs = std::filesystem;

namespace tqpatch {

namespace {

constexpr uint32_t kChunk = 1u << 20;

// A name as the system holds it, in code page 932; round trip tells whether
// converting it back gives the very same name.
bool NarrowName(const fs::path& name, std::string& narrow, bool* roundTrip) {
#ifdef _WIN32
  const std::wstring& wide = name.native();
  std::vector<uint16_t> units(wide.begin(), wide.end());
  if (!tqp::NarrowFromUtf16(units.data(), units.size(), narrow)) return false;
  std::vector<wchar_t> back(narrow.size() + 2);
  int n = tqp::WideFromNarrow(narrow.c_str(), back.data(), (int)back.size());
  *roundTrip = n > 0 && std::wstring(back.data()) == wide;
#else
  const std::string& utf8 = name.native();
  if (!tqp::NarrowFromUtf8(utf8, narrow)) return false;
  std::string back;
  *roundTrip = tqp::Utf8FromNarrow(narrow, back) && back == utf8;
#endif
  return true;
}

// System paths in messages are in the terminal's charset already.
bool Failed(const std::string& shown) {
  fprintf(stderr, "tqpatch: %s\n", shown.c_str());
  return false;
}

FILE* OpenSystem(const fs::path& path, bool write) {
#ifdef _WIN32
  return _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
  return fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

}  // namespace

std::string ShownPath(const fs::path& path) {
#ifdef _WIN32
  std::string narrow;
  bool same = false;
  return NarrowName(path, narrow, &same) ? Show(narrow) : std::string("?");
#else
  return path.native();
#endif
}

std::string Show(const std::string& narrow) { return tqp::ConsoleFromNarrow(narrow); }

int Error(const std::string& narrowText) {
  fprintf(stderr, "tqpatch: %s\n", Show(narrowText).c_str());
  return EXIT_PROBLEM;
}

void Warning(const std::string& narrowText) { fprintf(stderr, "tqpatch: warning: %s\n", Show(narrowText).c_str()); }

bool TextFromArgument(const char* argument, std::string& narrow) {
  return tqp::NarrowFromConsole(argument ? argument : "", narrow);
}

bool PathFromArgument(const char* argument, ArgPath& out) {
  std::string narrow;
  if (!argument || !*argument || !TextFromArgument(argument, narrow)) return false;
  std::error_code ec;
#ifdef _WIN32
  std::vector<wchar_t> wide(narrow.size() + 2);
  if (tqp::WideFromNarrow(narrow.c_str(), wide.data(), (int)wide.size()) <= 0) return false;
  out.system = fs::absolute(fs::path(wide.data()), ec).lexically_normal();
  if (ec) return false;
  bool same = false;
  if (!NarrowName(out.system, out.library, &same) || !same) return false;
#else
  out.system = fs::absolute(fs::path(argument), ec).lexically_normal();
  if (ec) return false;
  if (!tqp::FromSystemPath(out.system.native(), out.library)) return false;
#endif
  // "dir/" names the folder dir: no empty last part.
  if (!out.system.has_filename() && out.system.has_relative_path()) out.system = out.system.parent_path();
  while (out.library.size() > 3 && out.library.back() == '\\') out.library.pop_back();
  return true;
}

bool WalkTree(const fs::path& root, std::vector<TreeEntry>& out) {
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
  if (ec) return Failed("cannot read the folder " + ShownPath(root));
  std::vector<TreeEntry> entries;
  for (; it != end; it.increment(ec)) {
    if (ec) return Failed("cannot read below " + ShownPath(root));
    TreeEntry e;
    e.system = it->path();
    fs::file_status st = it->symlink_status(ec);
    if (ec) return Failed("cannot read " + ShownPath(e.system));
    if (fs::is_symlink(st)) e.kind = TreeEntry::Link;
    else if (fs::is_directory(st)) e.kind = TreeEntry::Folder;
    else if (fs::is_regular_file(st)) e.kind = TreeEntry::File;
    else e.kind = TreeEntry::Special;
    if (e.kind == TreeEntry::File) e.size = it->file_size(ec);
    fs::path rel = e.system.lexically_relative(root);
    e.shown = ShownPath(rel);
    std::string narrow;
    bool ok = true, same = true;
    for (const fs::path& part : rel) {
      std::string piece;
      bool partSame = true;
      if (!NarrowName(part, piece, &partSame)) {
        ok = false;
        break;
      }
      same = same && partSame;
      if (!narrow.empty()) narrow += '\\';
      narrow += piece;
    }
    e.relative = ok ? narrow : std::string();
    e.nameRoundTrips = ok && same;
    entries.push_back(std::move(e));
  }
  // A stable order whatever the file system's: the byte order of the names.
  std::sort(entries.begin(), entries.end(),
            [](const TreeEntry& a, const TreeEntry& b) { return a.system < b.system; });
  out = std::move(entries);
  return true;
}

int SameContent(const fs::path& a, const fs::path& b, Progress& progress) {
  FILE* fa = OpenSystem(a, false);
  FILE* fb = fa ? OpenSystem(b, false) : nullptr;
  if (!fa || !fb) {
    if (fa) fclose(fa);
    return -1;
  }
  std::vector<char> ba(kChunk), bb(kChunk);
  int result = 1;
  for (;;) {
    size_t na = fread(ba.data(), 1, kChunk, fa), nb = fread(bb.data(), 1, kChunk, fb);
    progress.Add(na);
    if (na != nb || memcmp(ba.data(), bb.data(), na) != 0) {
      result = (ferror(fa) || ferror(fb)) ? -1 : 0;
      break;
    }
    if (na < kChunk) {
      result = (ferror(fa) || ferror(fb)) ? -1 : 1;
      break;
    }
  }
  fclose(fa);
  fclose(fb);
  return result;
}

bool CopyFileTo(const fs::path& from, const fs::path& to, Progress& progress) {
  std::error_code ec;
  fs::create_directories(to.parent_path(), ec);
  if (ec) return false;
  FILE* in = OpenSystem(from, false);
  if (!in) return false;
  FILE* out = OpenSystem(to, true);
  if (!out) {
    fclose(in);
    return false;
  }
  std::vector<char> buffer(kChunk);
  bool ok = true;
  for (;;) {
    size_t n = fread(buffer.data(), 1, kChunk, in);
    if (n && fwrite(buffer.data(), 1, n, out) != n) ok = false;
    progress.Add(n);
    if (!ok || n < kChunk) break;
  }
  if (ferror(in)) ok = false;
  fclose(in);
  if (fclose(out) != 0) ok = false;
  return ok;
}

bool ReadTextFile(const fs::path& path, std::string& text) {
  FILE* f = OpenSystem(path, false);
  if (!f) return false;
  text.clear();
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

bool WriteBytes(const fs::path& path, const std::string& bytes) {
  FILE* f = OpenSystem(path, true);
  if (!f) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (fclose(f) != 0) ok = false;
  return ok;
}

std::string Bytes(uint64_t n) {
  char text[64];
  if (n >= 10u << 20)
    snprintf(text, sizeof text, "%llu bytes (%.1f MiB)", (unsigned long long)n, (double)n / 1048576.0);
  else
    snprintf(text, sizeof text, "%llu bytes", (unsigned long long)n);
  return text;
}

}  // namespace tqpatch
