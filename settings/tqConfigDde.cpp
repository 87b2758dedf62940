// The settings exchange over DDE: a running engine serves its whole settings
// block and the folder it runs from; its configuration tool, started from the
// same folder, takes the block instead of reading the files again.
#include <cstring>

#include "caps/tqDDE.h"
#include "settings/tqConfig.h"
#include "settings/tqConfigInternal.h"
#include "util/tqUtil.h"

using namespace tqconfig;

namespace {

const char kService[] = "TQDDE_SERVER";
const char kItemConfig[] = "tqConfig_CONFIG";
const char kItemPath[] = "tqConfig_PATH";
constexpr uint32_t kPathSize = 260;

// The configuration that answers requests; requests after PublishDde(2) get
// nothing. On POSIX the requests are answered on the DDE service thread, so
// the publisher is only changed and used under the lock.
tqConfig* g_publisher = nullptr;
tqp::CriticalSection& PublisherLock() {
  static tqp::CriticalSection lock;
  return lock;
}

class Locked {
 public:
  Locked() { PublisherLock().Enter(); }
  ~Locked() { PublisherLock().Leave(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

int Handler(void* user, const char* item, void** data, uint32_t* length) {
  tqConfig* config = static_cast<tqConfig*>(user);
  Locked locked;
  if (!config || config != g_publisher || !item || !data || !length) return 0;
  if (!strcmp(item, kItemConfig)) {
    void* block = PrivateAlloc(0, TQCONFIG_DATA_SIZE);
    if (!block) return 0;
    memcpy(block, &config->Data(), TQCONFIG_DATA_SIZE);
    *data = block;
    *length = TQCONFIG_DATA_SIZE;
    return 1;
  }
  if (!strcmp(item, kItemPath)) {
    char* block = static_cast<char*>(PrivateAlloc(0, kPathSize));
    if (!block) return 0;
    memset(block, 0, kPathSize);
    if (!tqConfig::ProgramFolder(block, kPathSize)) block[0] = 0;
    *data = block;
    *length = kPathSize;
    return 1;
  }
  return 0;
}

// Folders compare without regard to letter case or separator style, and a
// trailing separator does not count.
std::string Normalised(const char* path) {
  std::string out;
  for (size_t i = 0; path[i]; ++i) {
    unsigned char c = (unsigned char)path[i];
    if (tqIsLeadByte(c) && path[i + 1]) {
      out += path[i];
      out += path[++i];
      continue;
    }
    if (c == '/') c = '\\';
    out += (char)c;
  }
  while (out.size() > 1 && out.back() == '\\') out.pop_back();
  return out;
}

}  // namespace

int tqConfig::PublishDde(int type) {
  if (!g_tqDDE) return 0;
  if (type == 1) {
    g_tqDDE->CreateServer(kService);
    g_tqDDE->RegisterItem(kItemConfig, Handler, this);
    g_tqDDE->RegisterItem(kItemPath, Handler, this);
    Locked locked;
    g_publisher = this;
    published_ = true;
  } else if (type == 2) {
    // The DDE object has no way to drop one service; the items stop
    // answering instead, and the name goes with the DDE object.
    Locked locked;
    if (g_publisher == this) g_publisher = nullptr;
    published_ = false;
  }
  return 1;
}

int tqConfig::FetchFromDde() {
  if (!g_tqDDE || mode_ != TQCONFIG_MODE_DDE) return 0;
  if (!ddeConnected_) ddeConnected_ = g_tqDDE->Connect(kService) != 0;
  if (!ddeConnected_) return 0;
  // The thread answers its pending DDE messages before each request: a
  // client that never does has every second request fail on some systems.
  char path[kPathSize + 1] = {};
  tqp::DdePump(0);
  if (!g_tqDDE->GetServerData(kItemPath, path, kPathSize, kService)) return 0;
  path[kPathSize] = 0;
  char own[1024];
  if (!ProgramFolder(own, sizeof own)) return 0;
  if (!SameText(Normalised(path).c_str(), Normalised(own).c_str())) return 0;
  tqp::DdePump(0);
  return g_tqDDE->GetServerData(kItemConfig, &data_, TQCONFIG_DATA_SIZE, kService) ? 1 : 0;
}
