#include "counter_server_object.h"

#include <new>

#include "counter_api.h"
#include "counter_interface.h"
#include "local_server.h"

namespace kestrelsrv {

namespace {

static_assert(sizeof(SampleRecord) == sizeof(CounterSampleRecord));

// What the proxy/stub carries for GetCounterName's buffer. The build read
// the IDL's size out of counter_interface.h; this is what it should have read.
using counter_interface::kNameBufferSize;
static_assert(KESTREL_IDL_NAME_BUFFER_SIZE == kNameBufferSize);

class CounterServerObject final : public ICounterServer {
 public:
  CounterServerObject() { ObjectCreated(); }
  CounterServerObject(const CounterServerObject&) = delete;
  CounterServerObject& operator=(const CounterServerObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ICounterServer) {
      *object = static_cast<ICounterServer*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      delete this;
      ObjectReleased();
    }
    return left;
  }

  // The interface derives from IDispatch only because its clients expect
  // that layout; nobody calls it by name.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // Init binds this process's table; in a 64-bit process that is always the
  // direct path to the counter library.
  HRESULT STDMETHODCALLTYPE Init(INT32* result) override {
    *result = BindCounterApi();
    return S_OK;
  }
  // The methods that only call their slot (TABLE in the slot list; the OWN
  // ones follow). The call itself always goes through; what the slot
  // answers is the method's result code.
#define KESTREL_TABLE_METHOD(slot, name, entry, method, params, args)       \
  KESTREL_IF_TABLE(method)(                                                 \
      HRESULT STDMETHODCALLTYPE name                                        \
      KESTREL_SERVER_PARAMETERS(method, params, INT32* result) override {   \
        *result = CounterApiTable.name args;                                \
        return S_OK;                                                        \
      })
  KESTREL_COUNTER_SLOTS(KESTREL_TABLE_METHOD)
#undef KESTREL_TABLE_METHOD

  // The stub holds exactly one record for the library to fill, so the
  // library is told that it has room for at most one, whatever the client's
  // capacity said. The count it stores goes back to the client.
  HRESULT STDMETHODCALLTYPE Sample(UINT32 capacity, SampleRecord* samples, UINT32* count,
                                   INT32* result) override {
    *count = capacity < 1u ? capacity : 1u;
    *result = CounterApiTable.Sample(reinterpret_cast<CounterSampleRecord*>(samples), count);
    return S_OK;
  }
  // The stub's buffer is exactly as large as every client's, so a larger
  // length from a client must not reach the library.
  HRESULT STDMETHODCALLTYPE GetCounterName(UINT32 index, char name[kNameBufferSize], UINT32* length,
                                           INT32* result) override {
    if (*length > kNameBufferSize) *length = kNameBufferSize;
    *result = CounterApiTable.GetCounterName(index, name, length);
    return S_OK;
  }

 private:
  ~CounterServerObject() = default;
  LONG references_ = 1;
};

// One factory for the life of the process; its own references do not
// count, only the objects it makes and the locks taken on it.
class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* server = new (std::nothrow) CounterServerObject;
    if (server == nullptr) return E_OUTOFMEMORY;
    HRESULT result = server->QueryInterface(riid, object);
    server->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    kestrelsrv::LockServer(lock != FALSE);
    return S_OK;
  }
};

}  // namespace

IClassFactory* CounterServerFactory() {
  static Factory factory;
  return &factory;
}

}  // namespace kestrelsrv
