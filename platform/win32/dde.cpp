// DDE on Windows: thin calls of the DDE management library. The library's
// callback carries no context, so the one instance's callbacks are kept here.
#include <windows.h>
#include <ddeml.h>

#include "platform/tqDde.h"

namespace tqp {
namespace {

DdeCallbacks g_callbacks;
DWORD g_instance = 0;

HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA, ULONG_PTR,
                           ULONG_PTR) {
  switch (type) {
    case XTYP_CONNECT:
      return (HDDEDATA)(uintptr_t)(g_callbacks.connect &&
                                   g_callbacks.connect(g_callbacks.context, hsz1, hsz2));
    case XTYP_REQUEST:
      return g_callbacks.request
                 ? static_cast<HDDEDATA>(g_callbacks.request(g_callbacks.context, hsz1, hsz2, format))
                 : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

DdeInstance DdeStart(const DdeCallbacks& callbacks) {
  if (g_instance) return 0;
  DWORD instance = 0;
  g_callbacks = callbacks;
  if (DdeInitializeA(&instance, Callback, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) {
    g_callbacks = DdeCallbacks();
    return 0;
  }
  g_instance = instance;
  return instance;
}

void DdeStop(DdeInstance instance) {
  if (!instance) return;
  DdeUninitialize((DWORD)instance);
  if (g_instance == (DWORD)instance) {
    g_instance = 0;
    g_callbacks = DdeCallbacks();
  }
}

DdeString DdeCreateString(DdeInstance instance, const char* text) {
  return DdeCreateStringHandleA((DWORD)instance, text, CP_WINANSI);
}

void DdeFreeString(DdeInstance instance, DdeString handle) {
  if (handle) DdeFreeStringHandle((DWORD)instance, static_cast<HSZ>(handle));
}

uint32_t DdeQueryString(DdeInstance instance, DdeString handle, char* out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = 0;
  if (!handle) return 0;
  return DdeQueryStringA((DWORD)instance, static_cast<HSZ>(handle), out, size, CP_WINANSI);
}

bool DdeSameString(DdeString a, DdeString b) {
  return DdeCmpStringHandles(static_cast<HSZ>(a), static_cast<HSZ>(b)) == 0;
}

bool DdeRegisterService(DdeInstance instance, DdeString service, bool serve) {
  return DdeNameService((DWORD)instance, static_cast<HSZ>(service), nullptr,
                        serve ? DNS_REGISTER : DNS_UNREGISTER) != nullptr;
}

DdeConversation DdeConnect(DdeInstance instance, DdeString service, DdeString topic) {
  return ::DdeConnect((DWORD)instance, static_cast<HSZ>(service), static_cast<HSZ>(topic), nullptr);
}

void DdeDisconnect(DdeConversation conversation) {
  if (conversation) ::DdeDisconnect(static_cast<HCONV>(conversation));
}

DdeData DdeCreateData(DdeInstance instance, const void* bytes, uint32_t size, DdeString item,
                      uint32_t format) {
  return DdeCreateDataHandle((DWORD)instance, (LPBYTE)bytes, size, 0, static_cast<HSZ>(item), format,
                             0);
}

DdeData DdeRequest(DdeConversation conversation, DdeString item, uint32_t format,
                   uint32_t timeoutMs) {
  return DdeClientTransaction(nullptr, 0, static_cast<HCONV>(conversation), static_cast<HSZ>(item),
                              format, XTYP_REQUEST, timeoutMs, nullptr);
}

uint32_t DdeDataSize(DdeData data) {
  return data ? ::DdeGetData(static_cast<HDDEDATA>(data), nullptr, 0, 0) : 0;
}

uint32_t DdeGetData(DdeData data, void* out, uint32_t size) {
  return data ? ::DdeGetData(static_cast<HDDEDATA>(data), static_cast<LPBYTE>(out), size, 0) : 0;
}

void DdeFreeData(DdeData data) {
  if (data) DdeFreeDataHandle(static_cast<HDDEDATA>(data));
}

void DdePump(uint32_t ms) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

}  // namespace tqp
