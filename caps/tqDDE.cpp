// DDE server and client of the library over the platform's DDE layer.
#include "caps/tqDDE.h"

#include <cstring>

namespace {

const char TOPIC[] = "TQDDE_TOPIC";
// Names are read back from their handles up to this many bytes.
constexpr uint32_t NAME_SIZE = 256;

class Guard {
 public:
  explicit Guard(tqp::CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~Guard() { cs_.Leave(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  tqp::CriticalSection& cs_;
};

bool NameIs(tqp::DdeInstance instance, tqp::DdeString handle, const char* name) {
  char text[NAME_SIZE];
  tqp::DdeQueryString(instance, handle, text, sizeof text);
  return strcmp(text, name) == 0;
}

}  // namespace

tqDDE::tqDDE() {
  if (g_tqDDE) {
    DebugPrint("tqDDEクラスは複数作成出来ません");
    return;
  }
  g_tqDDE = this;
  tqp::DdeCallbacks callbacks;
  callbacks.context = this;
  callbacks.connect = OnConnect;
  callbacks.request = OnRequest;
  instance = tqp::DdeStart(callbacks);
  if (!instance) {
    DebugPrint("tqCaps : DDEサーバー作成に失敗");
    return;
  }
  topic = tqp::DdeCreateString(instance, TOPIC);
  Guard g(lock_);
  ready = topic ? 1 : 0;
}

tqDDE::~tqDDE() {
  {
    Guard g(lock_);
    ready = 0;
  }
  if (instance) {
    for (Item& item : items) tqp::DdeFreeString(instance, item.name);
    for (tqp::DdeString service : services) tqp::DdeFreeString(instance, service);
    for (Conversation& c : conversations) {
      tqp::DdeFreeString(instance, c.service);
      tqp::DdeDisconnect(c.conversation);
    }
    if (topic) tqp::DdeFreeString(instance, topic);
    tqp::DdeStop(instance);
  }
  items.clear();
  services.clear();
  conversations.clear();
  if (g_tqDDE == this) g_tqDDE = nullptr;
}

bool tqDDE::Serves(const char* service) {
  Guard g(lock_);
  for (tqp::DdeString s : services)
    if (NameIs(instance, s, service)) return true;
  return false;
}

int tqDDE::CreateServer(const char* service) {
  if (!ready || !service) return 0;
  if (Serves(service)) {
    DebugPrint("tqDDE : サーバ<%s>は既に作成されています", service);
    return 0;
  }
  tqp::DdeString handle = tqp::DdeCreateString(instance, service);
  if (!handle) return 0;
  {
    // Listed before it is announced, so that the first client is accepted.
    Guard g(lock_);
    services.push_back(handle);
  }
  if (!tqp::DdeRegisterService(instance, handle, true)) {
    {
      Guard g(lock_);
      services.pop_back();
    }
    tqp::DdeFreeString(instance, handle);
    return 0;
  }
  return 1;
}

int tqDDE::Connect(const char* service) {
  if (!ready || !service) return 0;
  if (Serves(service)) {
    DebugPrint("tqDDE : 既にサーバ<%s>に接続されています", service);
    return 0;
  }
  tqp::DdeString handle = tqp::DdeCreateString(instance, service);
  if (!handle) return 0;
  tqp::DdeConversation conversation = tqp::DdeConnect(instance, handle, topic);
  if (!conversation) {
    tqp::DdeFreeString(instance, handle);
    return 0;
  }
  conversations.push_back(Conversation{handle, conversation});
  return 1;
}

int tqDDE::RegisterItem(const char* item, tqDDEHandler handler, void* userData) {
  if (!ready || !item) return 0;
  {
    Guard g(lock_);
    for (const Item& i : items) {
      if (NameIs(instance, i.name, item)) {
        DebugPrint("tqDDE : トピック %s は既に登録されています", item);
        return 0;
      }
    }
  }
  tqp::DdeString handle = tqp::DdeCreateString(instance, item);
  if (!handle) return 0;
  Guard g(lock_);
  items.push_back(Item{userData, handle, handler});
  return 1;
}

int tqDDE::GetServerData(const char* item, void* destination, uint32_t capacity,
                         const char* service) {
  if (!ready || !item || !service) return 0;
  const Conversation* found = nullptr;
  for (const Conversation& c : conversations) {
    if (NameIs(instance, c.service, service)) {
      found = &c;
      break;
    }
  }
  if (!found) {
    DebugPrint("tqDDE::GetServerData  サーバ %s に接続されていません", service);
    return 0;
  }
  tqp::DdeString itemHandle = tqp::DdeCreateString(instance, item);
  if (!itemHandle) return 0;
  tqp::DdeData data =
      tqp::DdeRequest(found->conversation, itemHandle, TQDDE_FORMAT, TQDDE_TIMEOUT_MS);
  if (!data) {
    tqp::DdeFreeString(instance, itemHandle);
    return 0;
  }
  int result = 0;
  const uint32_t size = tqp::DdeDataSize(data);
  if (size <= capacity && (destination || size == 0)) {
    if (size) tqp::DdeGetData(data, destination, size);
    result = 1;
  }
  tqp::DdeFreeString(instance, itemHandle);
  tqp::DdeFreeData(data);
  return result;
}

bool tqDDE::OnConnect(void* self, tqp::DdeString topicHandle, tqp::DdeString service) {
  tqDDE* dde = static_cast<tqDDE*>(self);
  Guard g(dde->lock_);
  if (!dde->ready || !tqp::DdeSameString(topicHandle, dde->topic)) return false;
  for (tqp::DdeString s : dde->services)
    if (tqp::DdeSameString(s, service)) return true;
  return false;
}

tqp::DdeData tqDDE::OnRequest(void* self, tqp::DdeString topicHandle, tqp::DdeString item,
                              uint32_t) {
  tqDDE* dde = static_cast<tqDDE*>(self);
  Item found = {};
  {
    Guard g(dde->lock_);
    if (!dde->ready || !tqp::DdeSameString(topicHandle, dde->topic)) return nullptr;
    for (const Item& i : dde->items) {
      if (tqp::DdeSameString(i.name, item)) {
        found = i;
        break;
      }
    }
  }
  if (!found.name || !found.handler) return nullptr;
  char name[NAME_SIZE];
  tqp::DdeQueryString(dde->instance, found.name, name, sizeof name);
  void* block = nullptr;
  uint32_t length = 0;
  tqp::DdeData data = nullptr;
  if (found.handler(found.user, name, &block, &length) && block && length)
    data = tqp::DdeCreateData(dde->instance, block, length, found.name, TQDDE_FORMAT);
  // The handler's block is released whether or not it was sent.
  if (block) PrivateFree(block);
  return data;
}
