#include "counter_server_double.h"

#include <cstdio>
#include <cstring>

#include "platform.h"
#include "vendor_ids.h"

namespace counter_server_double {

namespace {

using LibraryFunction = void (*)();

LibraryFunction Resolve(uint32_t identifier) {
  using Query = LibraryFunction (*)(uint32_t);
  static void* library = platform::LoadLibraryByName(platform::kCounterLibraryFileName);
  static auto query =
      library ? reinterpret_cast<Query>(platform::FindExport(library, "NVPMQueryInterface"))
              : nullptr;
  return query ? query(identifier) : nullptr;
}

// The library's function for an identifier, asked for once.
template <uint32_t identifier, class Function>
Function Library() {
  static const auto function = reinterpret_cast<Function>(Resolve(identifier));
  return function;
}

std::string Hex(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  return pointer ? text : "null";
}

class CounterServer final : public ICounterServer, public IRunnableObject {
 public:
  CounterServer() {
    ++TheActivity().objectsCreated;
    ++TheActivity().objectsAlive;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    ++TheActivity().queryInterfaceCalls;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = static_cast<ICounterServer*>(this);
    } else if (riid == IID_ICounterServer) {
      if (FAILED(TheScript().queryResult)) return TheScript().queryResult;
      *object = static_cast<ICounterServer*>(this);
    } else if (riid == IID_IRunnableObject) {
      *object = static_cast<IRunnableObject*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    ++TheActivity().addRefs;
    return ++references_;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ++TheActivity().releases;
    ULONG left = --references_;
    if (left == 0) {
      --TheActivity().objectsAlive;
      delete this;
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(uint32_t*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(uint32_t, uint32_t, void**) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, char**, uint32_t, uint32_t, int32_t*) override {
    return E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(int32_t, REFIID, uint32_t, uint16_t, void*, void*, void*,
                                   uint32_t*) override {
    return E_FAIL;
  }

  HRESULT STDMETHODCALLTYPE GetRunningClass(CLSID* clsid) override {
    *clsid = CLSID_CounterServer;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Run(void*) override { return TheScript().runResult; }
  int32_t STDMETHODCALLTYPE IsRunning() override { return 1; }
  HRESULT STDMETHODCALLTYPE LockRunning(int32_t, int32_t) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetContainedObject(int32_t) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE Init(int32_t* result) override {
    return Forward("Init", "", result, Library<vendor::kInit, int32_t (*)()>());
  }
  HRESULT STDMETHODCALLTYPE Shutdown(int32_t* result) override {
    return Forward("Shutdown", "", result, Library<vendor::kShutdown, int32_t (*)()>());
  }
  HRESULT STDMETHODCALLTYPE CounterCall0(uint32_t v, int32_t* result) override {
    return Forward("CounterCall0", "", result, Library<vendor::kCall0, Call1>(), v);
  }
  HRESULT STDMETHODCALLTYPE AddCounter(uint32_t index, int32_t* result) override {
    return Forward("AddCounter", "", result, Library<vendor::kAddCounter, Call1>(), index);
  }
  HRESULT STDMETHODCALLTYPE RemoveAllCounters(int32_t* result) override {
    return Forward("RemoveAllCounters", "", result,
                   Library<vendor::kRemoveAllCounters, int32_t (*)()>());
  }
  HRESULT STDMETHODCALLTYPE CounterCall9(uint32_t v, int32_t* result) override {
    return Forward("CounterCall9", "", result, Library<vendor::kCall9, Call1>(), v);
  }
  HRESULT STDMETHODCALLTYPE CounterCall3(uint32_t v, int32_t* result) override {
    return Forward("CounterCall3", "", result, Library<vendor::kCall3, Call1>(), v);
  }
  HRESULT STDMETHODCALLTYPE CounterCall4(int32_t* result) override {
    return Forward("CounterCall4", "", result, Library<vendor::kCall4, int32_t (*)()>());
  }
  HRESULT STDMETHODCALLTYPE CounterCall5(uint32_t v, int32_t* result) override {
    return Forward("CounterCall5", "", result, Library<vendor::kCall5, Call1>(), v);
  }
  HRESULT STDMETHODCALLTYPE CounterCall6(uint32_t v, int32_t* result) override {
    return Forward("CounterCall6", "", result, Library<vendor::kCall6, Call1>(), v);
  }
  HRESULT STDMETHODCALLTYPE CounterCall7(uint32_t v, int32_t* result) override {
    return Forward("CounterCall7", "", result, Library<vendor::kCall7, Call1>(), v);
  }
  HRESULT STDMETHODCALLTYPE CounterCall8(uint32_t v, int32_t* result) override {
    return Forward("CounterCall8", "", result, Library<vendor::kCall8, Call1>(), v);
  }
  HRESULT STDMETHODCALLTYPE CounterCall10(uint32_t a, uint32_t b, uint32_t c, uint32_t d,
                                          int32_t* result) override {
    using Call4 = int32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t);
    return Forward("CounterCall10", "", result, Library<vendor::kCall10, Call4>(), a, b, c, d);
  }
  // A server may fill as many records as the capacity allows: this one
  // does, so that a capacity larger than the buffer shows up as an overrun.
  HRESULT STDMETHODCALLTYPE Sample(uint32_t capacity, CounterSampleRecord* samples,
                                   uint32_t* count, int32_t* result) override {
    for (uint32_t i = 0; i < capacity; ++i) std::memset(&samples[i], 0xEE, sizeof samples[i]);
    std::string described = Describe(capacity, samples, count, *count);
    return ForwardAs("Sample", described, result,
                     Library<vendor::kSample, int32_t (*)(void*, uint32_t*)>(), nullptr, count);
  }
  HRESULT STDMETHODCALLTYPE CounterCall18(uint32_t v, int32_t* result) override {
    return Forward("CounterCall18", "", result, Library<vendor::kCall18, Call1>(), v);
  }
  HRESULT STDMETHODCALLTYPE GetNumCounters(uint32_t* count, int32_t* result) override {
    return Forward("GetNumCounters", "", result,
                   Library<vendor::kGetNumCounters, int32_t (*)(uint32_t*)>(), count);
  }
  HRESULT STDMETHODCALLTYPE GetCounterName(uint32_t index, char* name, uint32_t* length,
                                           int32_t* result) override {
    using Function = int32_t (*)(uint32_t, char*, uint32_t*);
    HRESULT call = Forward("GetCounterName", Describe(*length), result,
                           Library<vendor::kGetCounterName, Function>(), index, name, length);
    if (TheScript().nameLengthOut != 0) *length = TheScript().nameLengthOut;
    return call;
  }
  HRESULT STDMETHODCALLTYPE CounterCall14(uint32_t a, uint32_t b, int32_t* result) override {
    return Forward("CounterCall14", "", result,
                   Library<vendor::kCall14, int32_t (*)(uint32_t, uint32_t)>(), a, b);
  }
  HRESULT STDMETHODCALLTYPE GetCounterAttribute(uint32_t index, uint32_t attribute,
                                                uint64_t* value, int32_t* result) override {
    using Function = int32_t (*)(uint32_t, uint32_t, uint64_t*);
    return Forward("GetCounterAttribute", "", result,
                   Library<vendor::kGetCounterAttribute, Function>(), index, attribute, value);
  }
  HRESULT STDMETHODCALLTYPE GetCounterValue(uint32_t index, uint32_t object, uint64_t* value,
                                            uint64_t* cycles, int32_t* result) override {
    using Function = int32_t (*)(uint32_t, uint32_t, uint64_t*, uint64_t*);
    return Forward("GetCounterValue", "", result, Library<vendor::kGetCounterValue, Function>(),
                   index, object, value, cycles);
  }

 private:
  using Call1 = int32_t (*)(uint32_t);

  static std::string Word(uint32_t value) { return std::to_string(value); }
  static std::string Word(const void* pointer) { return Hex(pointer); }
  template <class... Args>
  static std::string Describe(Args... args) {
    std::string text;
    ((text.append(" ").append(Word(args))), ...);
    return text;
  }

  // Records the call (the method, its arguments, then `extra`), then either
  // misbehaves as scripted or stores what the library answers.
  template <class Function, class... Args>
  HRESULT Forward(const char* method, const std::string& extra, int32_t* result,
                  Function function, Args... args) {
    std::string described = TheScript().record ? Describe(args...) + extra : std::string();
    return ForwardAs(method, described, result, function, args...);
  }
  template <class Function, class... Args>
  HRESULT ForwardAs(const char* method, const std::string& described, int32_t* result,
                    Function function, Args... args) {
    if (TheScript().record) TheActivity().calls.push_back(std::string(method).append(described));
    if (!TheScript().faults.empty()) {
      auto fault = TheScript().faults.find(method);
      if (fault != TheScript().faults.end()) {
        if (fault->second.storesCode) *result = fault->second.code;
        return fault->second.callResult;
      }
    }
    *result = function ? function(args...) : kNotBound;
    return S_OK;
  }

  ULONG references_ = 0;
};

}  // namespace

Script& TheScript() {
  static Script script;
  return script;
}

Activity& TheActivity() {
  static Activity activity;
  return activity;
}

void Register() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  RegisterComClass(CLSID_CounterServer, [](REFIID riid, void** object) -> HRESULT {
    if (FAILED(TheScript().createResult)) return TheScript().createResult;
    auto* server = new CounterServer;
    server->AddRef();
    HRESULT result = server->QueryInterface(riid, object);
    server->Release();
    return result;
  });
}

}  // namespace counter_server_double
