// The configuration object: creation and the load sequence, the process-wide
// pointers, folder macros and the joining of short names with folders.
#include "settings/tqConfig.h"

#include <climits>
#include <cstdarg>
#include <cstring>

#include "file/tqFile.h"
#include "file/tqFileServer.h"
#include "settings/tqConfigInternal.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

tqConfig* g_tqConfig = nullptr;
tqConfigData* g_tqConfigData = nullptr;
tqConfigData* g_tqConfigSaved = nullptr;

namespace tqconfig {

size_t CopyText(char* dst, size_t capacity, const char* text, size_t length) {
  if (!dst || capacity == 0) return 0;
  size_t limit = capacity - 1;
  size_t n = length;
  if (n > limit) {
    n = 0;
    while (n < length) {
      size_t step = (tqIsLeadByte((unsigned char)text[n]) && n + 1 < length &&
                     tqIsTrailByte((unsigned char)text[n + 1]))
                        ? 2
                        : 1;
      if (n + step > limit) break;
      n += step;
    }
  }
  memmove(dst, text, n);
  dst[n] = 0;
  return n;
}

size_t FieldLength(const char* field, size_t size) {
  const void* end = memchr(field, 0, size);
  return end ? (size_t)((const char*)end - field) : size;
}

bool SameText(const char* a, const char* b) {
  if (!a || !b) return false;
  for (size_t i = 0;; ++i) {
    unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
    if (tqIsLeadByte(x) && a[i + 1]) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'A' && x <= 'Z') x = (unsigned char)(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = (unsigned char)(y - 'A' + 'a');
    if (x != y) return false;
    if (!x) return true;
  }
}

std::string JoinPath(const std::string& a, const std::string& b) {
  std::vector<char> out(a.size() + b.size() + 2);
  int n = tqPathJoin(out.data(), 2, a.c_str(), b.c_str());
  return std::string(out.data(), (size_t)n);
}

std::string Format(const char* format, int value) {
  char text[64];
  snprintf(text, sizeof text, format, value);
  return text;
}

std::string Format(const char* format, int a, int b) {
  char text[64];
  snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace tqconfig

using namespace tqconfig;

namespace {

const char kDefaultStartup[] = "config\\startup.xml";
const char kDefaultSetup[] = "setup.xml";
// Flags with which the configuration asks the file server for its files.
constexpr uint32_t kServerFlags = 0x13;
// Longest macro token, '%' signs included.
constexpr size_t kMaxToken = 259;

int PreloadQuery() { return g_tqConfigData ? g_tqConfigData->etcCache : 0; }

// A name that starts at a root ("\x", "/x" or "C:") is not joined with the
// current folder.
bool IsRooted(const char* name) {
  return name[0] == '\\' || name[0] == '/' || (name[0] && name[1] == ':');
}

// A zero-filled block from the private heap, released on scope exit.
class HeapBlock {
 public:
  explicit HeapBlock(size_t size)
      : p_(size ? static_cast<char*>(PrivateAlloc(0, size)) : nullptr) {
    if (p_) memset(p_, 0, size);
  }
  ~HeapBlock() {
    if (p_) PrivateFree(p_);
  }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  char* get() const { return p_; }

 private:
  char* p_;
};

}  // namespace

void tqConfigInstallHooks() { tqFileServerSetPreloadQuery(PreloadQuery); }

int tqConfigParseFile(tqXml& xml, const char* name) {
  if (!name || !*name) return 0;
  if (g_tqFileServer) {
    // One open for both the size and the bytes, so that the buffer always
    // fits what is read.
    tqFileBase* file = g_tqFileServer->OpenFile(name, kServerFlags);
    if (!file) return 0;
    const int size = file->GetSize();
    const bool fits = size > 0 && size <= INT_MAX - 8;
    HeapBlock buffer(fits ? (size_t)size + 8 : 0);
    const int read = fits && buffer.get() ? file->Read(buffer.get(), (uint32_t)size) : -1;
    tqFileServer::CloseFile(file);
    if (read <= 0 || read > size) return 0;
    return xml.OpenMem(buffer.get(), (size_t)read);
  }
  if (IsRooted(name)) return xml.Open(name);
  char folder[1024];
  if (!tqp::GetCurrentDirectory(folder, sizeof folder)) return 0;
  return xml.Open(JoinPath(folder, name).c_str());
}

tqConfig::tqConfig(const char* startupFile, const char* setupFile, int mode) : mode_(mode) {
  CopyText(startupFile_, sizeof startupFile_, startupFile ? startupFile : kDefaultStartup,
           strlen(startupFile ? startupFile : kDefaultStartup));
  CopyText(setupFile_, sizeof setupFile_, setupFile ? setupFile : kDefaultSetup,
           strlen(setupFile ? setupFile : kDefaultSetup));
  soundFile_[0] = 0;
  memset(&saved_, 0, sizeof saved_);
  SetDefaults();
  LoadStartupFile();
  saved_ = data_;
  tqConfigInstallHooks();
  g_tqConfig = this;
  g_tqConfigData = &data_;
  g_tqConfigSaved = &saved_;
}

tqConfig::~tqConfig() {
  if (published_) PublishDde(2);
  replacements_.clear();
  soundGroups_.clear();
  parts_.clear();
  master_ = SoundPart();
  if (g_tqConfig == this) {
    g_tqConfig = nullptr;
    g_tqConfigData = nullptr;
    g_tqConfigSaved = nullptr;
  }
}

void tqConfig::LoadStartupFile() {
  tqXml xml;
  // A missing definition is no error: every default stays.
  if (tqConfigParseFile(xml, startupFile_)) ReadStartup(xml);
}

// ------------------------------------------------------------------ macros

int tqConfig::ExpandMacro(char* dst, size_t capacity, const char* token) const {
  if (!token) token = "";
  std::string value;
  char folder[1024];
  if (!strcmp(token, "%USERPROFILE%")) {
    if (tqShellFolder(9, folder)) value = folder;
  } else if (!strcmp(token, "%ProgramData%") || !strcmp(token, "%ALLUSERSPROFILE%")) {
    if (tqShellFolder(8, folder)) value = folder;
  } else if (!strcmp(token, "%brand%")) {
    value = Field(data_.brand);
  } else if (!strcmp(token, "%title%")) {
    value = Field(data_.title);
  } else if (!strcmp(token, "%save%")) {
    value = Field(data_.saveFolder);
  } else if (!strcmp(token, "%imglib%")) {
    value = Field(data_.imglibFolder);
  } else {
    value = token;
  }
  return (int)CopyText(dst, capacity, value);
}

int tqConfig::ExpandPath(char* dst, size_t capacity, const char* src) const {
  if (!src) src = "";
  std::string out;
  const char* p = src;
  while (*p) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* close = strchr(p + 1, '%');
    size_t length = close ? (size_t)(close - p) + 1 : strlen(p);
    if (length > kMaxToken) {
      // Too long for a macro: copied as it stands.
      out.append(p, length);
      p += length;
      continue;
    }
    std::string token(p, length);
    char value[1024];
    ExpandMacro(value, sizeof value, token.c_str());
    out += value;
    p += length;
  }
  return (int)CopyText(dst, capacity, out);
}

// ------------------------------------------------------------------ folders

int tqConfig::FindFolder(const char* key, const char* name) const {
  if (!key) return -1;
  std::string folderKey = key;
  if (SameText(key, "sound")) {
    if (!soundPresent_ || !name) return -1;
    // The part whose head begins the name (the longest such head) belongs to
    // a sound group, whose type is the key of the folder.
    std::string lower = name;
    tqToLower(lower.data());
    const SoundPart* best = nullptr;
    std::vector<const SoundPart*> stack;
    stack.push_back(&master_);
    for (const SoundPart& part : parts_) stack.push_back(&part);
    while (!stack.empty()) {
      const SoundPart* part = stack.back();
      stack.pop_back();
      if (!part->head.empty() && lower.compare(0, part->head.size(), part->head) == 0 &&
          (!best || part->head.size() > best->head.size()))
        best = part;
      for (const SoundPart& child : part->children) stack.push_back(&child);
    }
    if (!best) return -1;
    auto group = soundGroups_.find(best->group);
    if (group == soundGroups_.end()) return -1;
    folderKey = group->second.type;
  }
  for (int i = 0; i < TQCONFIG_FOLDERS; ++i) {
    std::string recordKey = Field(data_.folders[i].key);
    if (SameText(recordKey.c_str(), folderKey.c_str())) return i;
  }
  return -1;
}

int tqConfig::ResolvePath(char* dst, size_t capacity, const char* name, const char* key) const {
  if (!name) return 0;
  // A name with a folder part after its first character stands as it is.
  size_t i = name[0] ? (tqIsLeadByte((unsigned char)name[0]) && name[1] ? 2 : 1) : 0;
  for (; name[i]; ++i) {
    if (tqIsLeadByte((unsigned char)name[i]) && name[i + 1]) {
      ++i;
      continue;
    }
    if (name[i] == '\\' || name[i] == '/') {
      CopyText(dst, capacity, name, strlen(name));
      return 1;
    }
  }
  int index = FindFolder(key, name);
  if (index < 0) return 0;
  const tqFolderDefinition& folder = data_.folders[index];
  std::string file = name;
  std::string ext = Field(folder.ext);
  // A folder without a default extension adds none (not a bare dot).
  if (!tqHasExtension(name) && !ext.empty()) file += "." + ext;
  std::string path = Field(folder.path);
  std::string result = path.empty() ? file : path + "\\" + file;
  CopyText(dst, capacity, result);
  return 1;
}

bool tqConfig::ProgramFolder(char* out, size_t size) {
  char module[1024];
  if (!out || !size || !tqp::GetModuleFileName(module, sizeof module)) return false;
  char folder[1024];
  if (!tqParentFolderOf(module, folder)) return false;
  return CopyText(out, size, folder, strlen(folder)) == strlen(folder);
}

// ------------------------------------------------------------------ display

namespace {

const tqDisplayInfo* g_displayOverride = nullptr;

int32_t Ratio(int32_t width, int32_t height) {
  return width > 0 ? (int32_t)((int64_t)height * 1000 / width) : -1;
}

// Modes of the current colour format, refresh and aspect.
std::vector<tqp::DisplayMode> Candidates(const tqDisplayInfo& display) {
  std::vector<tqp::DisplayMode> out;
  int32_t ratio = Ratio(display.current.width, display.current.height);
  for (const tqp::DisplayMode& m : display.modes) {
    if (m.bitsPerPixel == display.current.bitsPerPixel &&
        m.frequency == display.current.frequency && m.width > 0 && m.height > 0 &&
        Ratio(m.width, m.height) == ratio)
      out.push_back(m);
  }
  return out;
}

}  // namespace

void tqConfig::OverrideDisplay(const tqDisplayInfo* display) { g_displayOverride = display; }

tqDisplayInfo tqConfig::Display() {
  if (g_displayOverride) return *g_displayOverride;
  tqDisplayInfo info;
  info.known = tqp::CurrentDisplayMode(&info.current);
  if (info.known) info.modes = tqp::DisplayModes();
  return info;
}

bool tqConfig::MatchFullScreen(const tqDisplayInfo& display, int32_t* width, int32_t* height) {
  if (!display.known || !width || !height) return false;
  std::vector<tqp::DisplayMode> modes = Candidates(display);
  for (const tqp::DisplayMode& m : modes)
    if (m.width == *width && m.height == *height) return true;
  for (const tqp::DisplayMode& m : modes) {
    if (m.width >= *width && m.height >= *height) {
      *width = m.width;
      *height = m.height;
      return true;
    }
  }
  *width = display.current.width;
  *height = display.current.height;
  return true;
}

bool tqConfig::IsFullScreenMode(const tqDisplayInfo& display, int32_t width, int32_t height) {
  if (!display.known) return false;
  for (const tqp::DisplayMode& m : Candidates(display))
    if (m.width == width && m.height == height) return true;
  return false;
}
