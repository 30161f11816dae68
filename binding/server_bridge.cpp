// The bridges of the server path. Each forwards its call to the counter
// server; a call that fails as a COM call closes the connection, so from
// then on every bridge answers -5 without calling out, until the next
// binding connects again.
#include "server_interface.h"

const CLSID CLSID_CounterServer = {
    0x7B7162C4, 0x3C2E, 0x4A53, {0x95, 0x41, 0x48, 0x5B, 0x0A, 0xB5, 0xE1, 0x75}};
const IID IID_ICounterServer = {
    0x834874B0, 0x02EF, 0x48B8, {0x83, 0xDD, 0xE2, 0xFD, 0xCE, 0xAE, 0xA5, 0x75}};

namespace {

constexpr DWORD kAnyServerKind = 23;  // in-process, handler, local and remote

// The connection: null when there is none. It owns one reference on the
// server object and, when its CoInitialize succeeded, one COM
// initialisation of this thread; closing it gives both back.
ICounterServer* connection = nullptr;
bool connectionOwnsComInit = false;

// Gives up a connection without asking the server for anything.
void Release(ICounterServer* server, bool ownsComInit) {
  server->Release();
  if (ownsComInit) CoUninitialize();
}

// The close operation and the Shutdown bridge. The reference is released
// also when the server's Shutdown fails: a server that died leaves a proxy
// that would otherwise never be freed.
int32_t KESTREL_CDECL ShutdownBridge() {
  int32_t result = kNoServerConnection;
  if (connection == nullptr) return result;
  ICounterServer* server = connection;
  bool ownsComInit = connectionOwnsComInit;
  server->Shutdown(&result);
  connection = nullptr;
  connectionOwnsComInit = false;
  Release(server, ownsComInit);
  return result;
}

template <auto method, class... Args>
int32_t CallServer(Args... args) {
  int32_t result = kNoServerConnection;
  if (connection == nullptr) return result;
  if (FAILED((connection->*method)(args..., &result))) ShutdownBridge();
  return result;
}

// The interface takes no null pointers: a missing buffer becomes one
// placeholder record, and then at most one record may be asked for.
int32_t KESTREL_CDECL SampleBridge(CounterSampleRecord* samples, uint32_t* count) {
  if (connection == nullptr) return kNoServerConnection;
  CounterSampleRecord placeholder{};
  uint32_t placeholderCount = 0;
  uint32_t capacity = count != nullptr ? *count : 0;
  if (samples == nullptr) {
    samples = &placeholder;
    if (capacity > 1) capacity = 1;
  }
  return CallServer<&ICounterServer::Sample>(capacity, samples,
                                             count != nullptr ? count : &placeholderCount);
}

// Every other slot passes its arguments on unchanged to the server method
// of the same name.
template <auto method, class Slot>
struct PlainBridge;
template <auto method, class... Params>
struct PlainBridge<method, int32_t(KESTREL_CDECL*)(Params...)> {
  static int32_t KESTREL_CDECL Call(Params... args) { return CallServer<method>(args...); }
};

template <int slot, auto method, class Slot>
Slot BridgeFor() {
  if constexpr (slot == 2)
    return ShutdownBridge;
  else if constexpr (slot == 11)
    return SampleBridge;
  else
    return PlainBridge<method, Slot>::Call;
}

void FillBridges() {
#define KESTREL_FILL_BRIDGE(slot, name, entry, method, params, args) \
  CounterApiTable.name = BridgeFor<slot, &ICounterServer::name, decltype(CounterApiSlots::name)>();
  KESTREL_COUNTER_SLOTS(KESTREL_FILL_BRIDGE)
#undef KESTREL_FILL_BRIDGE
}

}  // namespace

HRESULT CreateCounterServer(ICounterServer** server) {
  *server = nullptr;
  IUnknown* unknown = nullptr;
  HRESULT result = CoCreateInstance(CLSID_CounterServer, nullptr, kAnyServerKind, IID_IUnknown,
                                    reinterpret_cast<void**>(&unknown));
  if (FAILED(result)) return result;
  result = OleRun(unknown);
  if (SUCCEEDED(result))
    result = unknown->QueryInterface(IID_ICounterServer, reinterpret_cast<void**>(server));
  if (FAILED(result)) *server = nullptr;
  unknown->Release();
  return result;
}

// A binding over a live connection keeps it and calls Init through it, as
// the direct path calls the loaded library's Init again: the server, one
// process per connection, keeps the counters it has enabled. Only a
// connection that is gone (closed, or failing as a COM call) is replaced.
void BindCounterServer(int32_t* result) {
  if (connection != nullptr) {
    if (SUCCEEDED(connection->Init(result))) {
      FillBridges();
      return;
    }
    ShutdownBridge();
    *result = kBindingFailed;
  }
  bool comInitialised = SUCCEEDED(CoInitialize(nullptr));
  HRESULT created = CreateCounterServer(&connection);
  connectionOwnsComInit = SUCCEEDED(created) && comInitialised;
  if (FAILED(created)) {
    if (comInitialised) CoUninitialize();
    return;
  }
  if (FAILED(connection->Init(result))) ShutdownBridge();
  FillBridges();
}
