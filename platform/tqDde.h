// Dynamic data exchange between processes: the DDE management library on
// Windows; on POSIX a Unix-domain-socket service with the same operations,
// string handles, data handles and request time-outs.
//
// Server callbacks run on Windows on the thread that created the instance,
// while it dispatches messages (see DdePump); on POSIX on the instance's own
// service thread, one at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tqp {

using DdeInstance = uintptr_t;  // 0: none
using DdeString = void*;        // string handle (names compare without case)
using DdeConversation = void*;
using DdeData = void*;

struct DdeCallbacks {
  void* context = nullptr;
  // A client asks for (topic, service); true accepts the conversation.
  bool (*connect)(void* context, DdeString topic, DdeString service) = nullptr;
  // A client requests an item in a format; a data handle from DdeCreateData,
  // which the layer sends and releases, or null for no data.
  DdeData (*request)(void* context, DdeString topic, DdeString item, uint32_t format) = nullptr;
};

// 0 on failure.
DdeInstance DdeStart(const DdeCallbacks& callbacks);
void DdeStop(DdeInstance instance);

// Names in the ANSI code page (932).
DdeString DdeCreateString(DdeInstance instance, const char* text);
void DdeFreeString(DdeInstance instance, DdeString handle);
// Copies the name (cut to size - 1 bytes); returns its length, 0 on failure.
uint32_t DdeQueryString(DdeInstance instance, DdeString handle, char* out, uint32_t size);
bool DdeSameString(DdeString a, DdeString b);

// Serve (or stop serving) a service name. False when it cannot be registered.
bool DdeRegisterService(DdeInstance instance, DdeString service, bool serve);

DdeConversation DdeConnect(DdeInstance instance, DdeString service, DdeString topic);
void DdeDisconnect(DdeConversation conversation);

DdeData DdeCreateData(DdeInstance instance, const void* bytes, uint32_t size, DdeString item,
                      uint32_t format);
// Synchronous request; null when no data came within the time.
DdeData DdeRequest(DdeConversation conversation, DdeString item, uint32_t format,
                   uint32_t timeoutMs);
uint32_t DdeDataSize(DdeData data);
// Copies up to size bytes; returns the bytes copied.
uint32_t DdeGetData(DdeData data, void* out, uint32_t size);
void DdeFreeData(DdeData data);

// Lets the calling thread answer DDE for about ms milliseconds (Windows:
// dispatches its messages; POSIX: the service thread answers anyway, so this
// only waits).
void DdePump(uint32_t ms);

}  // namespace tqp
