// DDE on POSIX: each served service name is a Unix-domain socket in the
// user's runtime folder; a conversation is one connection. Messages are a
// 4-byte little-endian payload length, a type byte and the payload:
//   1 connect   topic NUL service NUL           -> 2 accepted (1 byte)
//   3 request   id(4) format(4) item NUL        -> 4 id(4) ok(1) data
// String handles are interned names that compare without regard to the case
// of ASCII letters, as the Windows atoms do.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/dde_wire.h"
#include "platform/tqDde.h"
#include "platform/tqShiftJis.h"

namespace tqp {
namespace {

using namespace ddewire;

enum : uint8_t { MSG_CONNECT = 1, MSG_ACCEPT = 2, MSG_REQUEST = 3, MSG_DATA = 4 };
// How long a client waits for the server to accept a conversation.
constexpr int CONNECT_TIMEOUT_MS = 5000;

// ------------------------------------------------------------ string handles
struct StringEntry {
  std::string text;
  std::string key;
  int references;
};
std::mutex g_stringsLock;
std::map<std::string, StringEntry*>& Strings() {
  static std::map<std::string, StringEntry*> strings;
  return strings;
}

bool IsLead(unsigned char c) { return tqp::IsSjisLeadByte(c); }

std::string Fold(const std::string& text) {
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = (unsigned char)out[i];
    if (IsLead(c)) {
      ++i;
      continue;
    }
    if (c >= 'A' && c <= 'Z') out[i] = (char)(c - 'A' + 'a');
  }
  return out;
}

StringEntry* Intern(const std::string& text) {
  std::string key = Fold(text);
  std::lock_guard<std::mutex> g(g_stringsLock);
  auto& strings = Strings();
  auto it = strings.find(key);
  if (it != strings.end()) {
    ++it->second->references;
    return it->second;
  }
  StringEntry* e = new StringEntry{text, key, 1};
  strings[key] = e;
  return e;
}

void Retain(StringEntry* e) {
  std::lock_guard<std::mutex> g(g_stringsLock);
  ++e->references;
}

void Release(StringEntry* e) {
  if (!e) return;
  std::lock_guard<std::mutex> g(g_stringsLock);
  if (--e->references > 0) return;
  Strings().erase(e->key);
  delete e;
}

std::string TextOf(DdeString h) {
  std::lock_guard<std::mutex> g(g_stringsLock);
  return h ? static_cast<StringEntry*>(h)->text : std::string();
}

std::string KeyOf(DdeString h) {
  std::lock_guard<std::mutex> g(g_stringsLock);
  return h ? static_cast<StringEntry*>(h)->key : std::string();
}

// ------------------------------------------------------------ sockets
std::string SocketPath(const std::string& key) {
  std::string folder = "/tmp";
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  struct stat st;
  if (runtime && *runtime && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) folder = runtime;
  char name[128];
  if (key.size() <= 40) {
    int n = snprintf(name, sizeof name, "tqdde-%u-", (unsigned)getuid());
    for (unsigned char c : key) n += snprintf(name + n, sizeof name - (size_t)n, "%02x", c);
  } else {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    snprintf(name, sizeof name, "tqdde-%u-h%016llx", (unsigned)getuid(), (unsigned long long)hash);
  }
  std::string path = folder + "/" + name;
  if (path.size() >= sizeof(sockaddr_un::sun_path)) path = std::string("/tmp/") + name;
  return path;
}

bool Address(const std::string& path, sockaddr_un& addr) {
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

int ConnectTo(const std::string& path) {
  sockaddr_un addr;
  if (!Address(path, addr)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const uint8_t* p, size_t n) {
  while (n) {
    ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= (size_t)k;
  }
  return true;
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back((uint8_t)(x >> (8 * i)));
}


bool SendMessage(int fd, uint8_t type, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> m;
  m.reserve(payload.size() + 5);
  Put32(m, (uint32_t)payload.size());
  m.push_back(type);
  m.insert(m.end(), payload.begin(), payload.end());
  return SendAll(fd, m.data(), m.size());
}

int64_t NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// ------------------------------------------------------------ data
struct Data {
  std::vector<uint8_t> bytes;
};

// ------------------------------------------------------------ instance
struct Listener {
  StringEntry* service;
  int fd;
  std::string path;
};

struct Connection {
  int fd = -1;
  bool accepted = false;
  StringEntry* topic = nullptr;
  std::vector<uint8_t> in;
};

struct Instance {
  DdeCallbacks callbacks;
  std::mutex lock;  // listeners and retired
  std::vector<Listener> listeners;
  std::vector<int> retired;
  int wake[2] = {-1, -1};
  std::atomic<bool> quit{false};
  std::thread thread;

  void Wake() {
    uint8_t b = 1;
    (void)!write(wake[1], &b, 1);
  }
  void Run();
  bool Serve(Connection& c, uint8_t type, const std::vector<uint8_t>& payload);
};

bool Instance::Serve(Connection& c, uint8_t type, const std::vector<uint8_t>& payload) {
  if (type == MSG_CONNECT) {
    std::string topic, service;
    if (!ParseConnect(payload, topic, service)) return false;
    StringEntry* t = Intern(topic);
    StringEntry* s = Intern(service);
    bool ok = callbacks.connect && callbacks.connect(callbacks.context, t, s);
    Release(s);
    if (ok && !c.accepted) {
      c.accepted = true;
      c.topic = t;
    } else {
      Release(t);
    }
    return SendMessage(c.fd, MSG_ACCEPT, {(uint8_t)(ok ? 1 : 0)});
  }
  if (type == MSG_REQUEST) {
    uint32_t id = 0, format = 0;
    std::string item;
    if (!ParseRequest(payload, &id, &format, item)) return false;
    std::vector<uint8_t> reply;
    Put32(reply, id);
    Data* data = nullptr;
    if (c.accepted && callbacks.request) {
      StringEntry* i = Intern(item);
      data = static_cast<Data*>(callbacks.request(callbacks.context, c.topic, i, format));
      Release(i);
    }
    reply.push_back(data ? 1 : 0);
    if (data) reply.insert(reply.end(), data->bytes.begin(), data->bytes.end());
    delete data;
    return SendMessage(c.fd, MSG_DATA, reply);
  }
  return false;
}

void Instance::Run() {
  std::vector<Connection> connections;
  std::vector<uint8_t> chunk(65536);
  while (!quit.load()) {
    std::vector<pollfd> fds;
    std::vector<Listener> current;
    {
      std::lock_guard<std::mutex> g(lock);
      for (int fd : retired) close(fd);
      retired.clear();
      current = listeners;
    }
    fds.push_back({wake[0], POLLIN, 0});
    for (const Listener& l : current) fds.push_back({l.fd, POLLIN, 0});
    for (const Connection& c : connections) fds.push_back({c.fd, POLLIN, 0});
    int n = poll(fds.data(), fds.size(), -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) {
      uint8_t drain[64];
      while (read(wake[0], drain, sizeof drain) > 0) {
      }
    }
    for (size_t i = 0; i < current.size(); ++i) {
      if (!(fds[1 + i].revents & POLLIN)) continue;
      int fd = accept4(current[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        Connection c;
        c.fd = fd;
        connections.push_back(std::move(c));
      }
    }
    const size_t base = 1 + current.size();
    std::vector<bool> drop(connections.size(), false);
    const size_t polled = fds.size() - base;
    for (size_t i = 0; i < polled; ++i) {
      if (!fds[base + i].revents) continue;
      Connection& c = connections[i];
      ssize_t k = recv(c.fd, chunk.data(), chunk.size(), 0);
      if (k <= 0) {
        if (k < 0 && errno == EINTR) continue;
        drop[i] = true;
        continue;
      }
      c.in.insert(c.in.end(), chunk.begin(), chunk.begin() + k);
      uint8_t type = 0;
      std::vector<uint8_t> payload;
      int got;
      while ((got = TakeMessage(c.in, &type, payload)) == 1) {
        if (!Serve(c, type, payload)) {
          got = -1;
          break;
        }
      }
      if (got < 0) drop[i] = true;
    }
    for (size_t i = connections.size(); i-- > 0;) {
      if (!drop[i]) continue;
      close(connections[i].fd);
      Release(connections[i].topic);
      connections.erase(connections.begin() + (long)i);
    }
  }
  for (Connection& c : connections) {
    close(c.fd);
    Release(c.topic);
  }
}

struct Conversation {
  int fd = -1;
  uint32_t nextId = 0;
  std::vector<uint8_t> in;
};

// Reads until one message is complete or the deadline passes.
bool Receive(Conversation& c, int64_t deadline, uint8_t* type, std::vector<uint8_t>& payload) {
  uint8_t chunk[65536];
  for (;;) {
    int got = TakeMessage(c.in, type, payload);
    if (got == 1) return true;
    if (got < 0) return false;
    int64_t left = deadline - NowMs();
    if (left <= 0) return false;
    pollfd p = {c.fd, POLLIN, 0};
    int n = poll(&p, 1, (int)left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    ssize_t k = recv(c.fd, chunk, sizeof chunk, 0);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    c.in.insert(c.in.end(), chunk, chunk + k);
  }
}

}  // namespace

DdeInstance DdeStart(const DdeCallbacks& callbacks) {
  Instance* in = new Instance;
  in->callbacks = callbacks;
  if (pipe2(in->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    delete in;
    return 0;
  }
  in->thread = std::thread([in] { in->Run(); });
  return reinterpret_cast<DdeInstance>(in);
}

void DdeStop(DdeInstance instance) {
  Instance* in = reinterpret_cast<Instance*>(instance);
  if (!in) return;
  in->quit.store(true);
  in->Wake();
  if (in->thread.joinable()) in->thread.join();
  for (Listener& l : in->listeners) {
    close(l.fd);
    unlink(l.path.c_str());
    Release(l.service);
  }
  for (int fd : in->retired) close(fd);
  close(in->wake[0]);
  close(in->wake[1]);
  delete in;
}

DdeString DdeCreateString(DdeInstance instance, const char* text) {
  if (!instance || !text) return nullptr;
  return Intern(text);
}

void DdeFreeString(DdeInstance, DdeString handle) { Release(static_cast<StringEntry*>(handle)); }

uint32_t DdeQueryString(DdeInstance, DdeString handle, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = 0;
  if (!handle) return 0;
  std::string text = TextOf(handle);
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  memcpy(out, text.data(), n);
  out[n] = 0;
  return (uint32_t)n;
}

bool DdeSameString(DdeString a, DdeString b) { return a && a == b; }

bool DdeRegisterService(DdeInstance instance, DdeString service, bool serve) {
  Instance* in = reinterpret_cast<Instance*>(instance);
  if (!in || !service) return false;
  std::string key = KeyOf(service);
  std::string path = SocketPath(key);
  if (!serve) {
    std::lock_guard<std::mutex> g(in->lock);
    for (size_t i = 0; i < in->listeners.size(); ++i) {
      if (in->listeners[i].service != service) continue;
      unlink(in->listeners[i].path.c_str());
      in->retired.push_back(in->listeners[i].fd);
      Release(in->listeners[i].service);
      in->listeners.erase(in->listeners.begin() + (long)i);
      in->Wake();
      return true;
    }
    return false;
  }
  sockaddr_un addr;
  if (!Address(path, addr)) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    // A socket left behind by a process that ended is taken over; a live
    // server of another process keeps its name.
    if (errno != EADDRINUSE) {
      close(fd);
      return false;
    }
    int probe = ConnectTo(path);
    if (probe >= 0) {
      close(probe);
      close(fd);
      return false;
    }
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd);
      return false;
    }
  }
  if (listen(fd, 16) != 0) {
    close(fd);
    unlink(path.c_str());
    return false;
  }
  Retain(static_cast<StringEntry*>(service));  // the listener holds its own reference
  std::lock_guard<std::mutex> g(in->lock);
  in->listeners.push_back(Listener{static_cast<StringEntry*>(service), fd, path});
  in->Wake();
  return true;
}

DdeConversation DdeConnect(DdeInstance instance, DdeString service, DdeString topic) {
  if (!instance || !service || !topic) return nullptr;
  int fd = ConnectTo(SocketPath(KeyOf(service)));
  if (fd < 0) return nullptr;
  Conversation* c = new Conversation;
  c->fd = fd;
  std::vector<uint8_t> payload;
  std::string t = TextOf(topic), s = TextOf(service);
  payload.insert(payload.end(), t.begin(), t.end());
  payload.push_back(0);
  payload.insert(payload.end(), s.begin(), s.end());
  payload.push_back(0);
  uint8_t type = 0;
  std::vector<uint8_t> reply;
  if (SendMessage(fd, MSG_CONNECT, payload) &&
      Receive(*c, NowMs() + CONNECT_TIMEOUT_MS, &type, reply) && type == MSG_ACCEPT &&
      reply.size() == 1 && reply[0] == 1)
    return c;
  close(fd);
  delete c;
  return nullptr;
}

void DdeDisconnect(DdeConversation conversation) {
  Conversation* c = static_cast<Conversation*>(conversation);
  if (!c) return;
  close(c->fd);
  delete c;
}

DdeData DdeCreateData(DdeInstance, const void* bytes, uint32_t size, DdeString, uint32_t) {
  Data* d = new Data;
  if (bytes && size) d->bytes.assign(static_cast<const uint8_t*>(bytes),
                                     static_cast<const uint8_t*>(bytes) + size);
  return d;
}

DdeData DdeRequest(DdeConversation conversation, DdeString item, uint32_t format,
                   uint32_t timeoutMs) {
  Conversation* c = static_cast<Conversation*>(conversation);
  if (!c || !item) return nullptr;
  const uint32_t id = ++c->nextId;
  std::vector<uint8_t> payload;
  Put32(payload, id);
  Put32(payload, format);
  std::string name = TextOf(item);
  payload.insert(payload.end(), name.begin(), name.end());
  payload.push_back(0);
  if (!SendMessage(c->fd, MSG_REQUEST, payload)) return nullptr;
  const int64_t deadline = NowMs() + timeoutMs;
  uint8_t type = 0;
  std::vector<uint8_t> reply;
  while (Receive(*c, deadline, &type, reply)) {
    uint32_t replyId = 0;
    bool ok = false;
    std::vector<uint8_t> bytes;
    // Answers to earlier requests that timed out are dropped.
    if (type != MSG_DATA || !ParseData(reply, &replyId, &ok, bytes) || replyId != id) continue;
    if (!ok) return nullptr;
    Data* d = new Data;
    d->bytes = std::move(bytes);
    return d;
  }
  return nullptr;
}

uint32_t DdeDataSize(DdeData data) {
  return data ? (uint32_t) static_cast<Data*>(data)->bytes.size() : 0;
}

uint32_t DdeGetData(DdeData data, void* out, uint32_t size) {
  if (!data || !out) return 0;
  const std::vector<uint8_t>& b = static_cast<Data*>(data)->bytes;
  uint32_t n = b.size() < size ? (uint32_t)b.size() : size;
  if (n) memcpy(out, b.data(), n);
  return n;
}

void DdeFreeData(DdeData data) { delete static_cast<Data*>(data); }

void DdePump(uint32_t ms) {
  struct timespec ts = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace tqp
