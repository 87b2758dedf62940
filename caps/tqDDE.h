// Small records of bytes handed between processes: a process publishes named
// items under a service name, another connects and requests them. One tqDDE
// per process; every operation answers 0 unless it is ready.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/tqDde.h"
#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"

// Supplies an item: fills *data with a block from PrivateAlloc and *length
// with its size and returns non-zero; tqDDE releases the block.
using tqDDEHandler = int (*)(void* user, const char* item, void** data, uint32_t* length);

// Data format of every transfer.
constexpr uint32_t TQDDE_FORMAT = 512;
// How long a request waits for its answer.
constexpr uint32_t TQDDE_TIMEOUT_MS = 1000;

class tqDDE : public tqClassBase {
 public:
  tqDDE();
  ~tqDDE();
  tqDDE(const tqDDE&) = delete;
  tqDDE& operator=(const tqDDE&) = delete;

  int CreateServer(const char* service);
  int Connect(const char* service);
  int RegisterItem(const char* item, tqDDEHandler handler, void* userData);
  int GetServerData(const char* item, void* destination, uint32_t capacity, const char* service);

  bool Ready() const { return ready != 0; }

 private:
  struct Item {
    void* user;
    tqp::DdeString name;
    tqDDEHandler handler;
  };
  struct Conversation {
    tqp::DdeString service;
    tqp::DdeConversation conversation;
  };

  static bool OnConnect(void* self, tqp::DdeString topic, tqp::DdeString service);
  static tqp::DdeData OnRequest(void* self, tqp::DdeString topic, tqp::DdeString item,
                                uint32_t format);
  bool Serves(const char* service);

  // The lists are read by the server callbacks, which on POSIX run on the
  // service thread.
  mutable tqp::CriticalSection lock_;
  int ready = 0;
  tqp::DdeInstance instance = 0;
  tqp::DdeString topic = nullptr;
  std::vector<Item> items;
  std::vector<tqp::DdeString> services;
  std::vector<Conversation> conversations;
};
