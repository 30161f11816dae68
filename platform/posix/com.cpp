#include "com.h"

#include <cstring>
#include <vector>

// COM's own identifiers, so the stand-in answers to the same ones.
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IRunnableObject = {0x00000126, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

namespace {

struct RegisteredClass {
  CLSID clsid;
  ComClassFactory create;
};

std::vector<RegisteredClass>& Registry() {
  static std::vector<RegisteredClass> classes;
  return classes;
}

int depth = 0;  // successful CoInitialize calls not yet undone

}  // namespace

HRESULT CoInitialize(void*) { return depth++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (depth > 0) --depth;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown*, DWORD, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (depth == 0) return CO_E_NOTINITIALIZED;
  for (const RegisteredClass& registered : Registry())
    if (registered.clsid == clsid) return registered.create(riid, object);
  return REGDB_E_CLASSNOTREG;
}

HRESULT OleRun(IUnknown* object) {
  IRunnableObject* runnable = nullptr;
  if (FAILED(object->QueryInterface(IID_IRunnableObject, reinterpret_cast<void**>(&runnable))))
    return S_OK;
  HRESULT result = runnable->Run(nullptr);
  runnable->Release();
  return result;
}

void RegisterComClass(REFCLSID clsid, ComClassFactory create) {
  Registry().push_back({clsid, std::move(create)});
}

void UnregisterComClasses() { Registry().clear(); }
