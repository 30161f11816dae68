// A small stand-in for COM on systems without it, so that the counter-server
// path builds, runs and is tested everywhere. It keeps COM's contracts where
// the programs rely on them: HRESULT results, reference counting on objects,
// CoInitialize calls that must be balanced by CoUninitialize, and creation
// of registered classes by class identifier. Classes are registered in
// process (RegisterComClass); nothing is registered unless someone does.
#pragma once

#include <cstdint>
#include <functional>

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
bool operator==(const GUID& a, const GUID& b);

#define STDMETHODCALLTYPE
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
inline constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106);
inline constexpr HRESULT RPC_E_SERVER_UNAVAILABLE = static_cast<HRESULT>(0x800706BA);
inline constexpr HRESULT RPC_E_CALL_FAILED = static_cast<HRESULT>(0x800706BE);

extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IRunnableObject;

// The virtual tables have COM's layout: no destructor slot, methods in
// declaration order.
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

// Only the slots matter here; nothing calls these.
struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(uint32_t* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(uint32_t index, uint32_t locale, void** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, char** names, uint32_t count,
                                                  uint32_t locale, int32_t* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(int32_t id, REFIID riid, uint32_t locale,
                                           uint16_t flags, void* params, void* result,
                                           void* exception, uint32_t* argError) = 0;
};

// What OleRun asks an object for: an object that has it is run through it.
struct IRunnableObject : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetRunningClass(CLSID* clsid) = 0;
  virtual HRESULT STDMETHODCALLTYPE Run(void* bindContext) = 0;
  virtual int32_t STDMETHODCALLTYPE IsRunning() = 0;
  virtual HRESULT STDMETHODCALLTYPE LockRunning(int32_t lock, int32_t lastUnlockCloses) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetContainedObject(int32_t contained) = 0;
};

extern "C" {
// S_OK for the first call on the process, S_FALSE for each further one; both
// must be balanced by CoUninitialize.
HRESULT CoInitialize(void* reserved);
// Undoes one successful CoInitialize; without one it does nothing.
void CoUninitialize();
// Creates an object of a registered class and asks it for `riid`.
// REGDB_E_CLASSNOTREG for a class nobody registered; CO_E_NOTINITIALIZED
// without CoInitialize.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);
// Runs an object that can be run (IRunnableObject); S_OK for any other.
HRESULT OleRun(IUnknown* object);
}

// Registers a class: `create` makes an object and asks it for the interface.
using ComClassFactory = std::function<HRESULT(REFIID riid, void** object)>;
void RegisterComClass(REFCLSID clsid, ComClassFactory create);
void UnregisterComClasses();

