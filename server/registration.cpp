#include "registration.h"

#include <cstdio>

#include "counter_server.h"  // generated from counter_server.idl

namespace kestrelsrv {

namespace {

struct View {
  REGSAM flag;
  const char* proxyDll;
};
// Each view has its own proxy/stub registration: a 32-bit client loads the
// DLL named in the 32-bit view, the server the one in the 64-bit view.
constexpr View kViews[] = {{KEY_WOW64_64KEY, "kestrelps64.dll"},
                           {KEY_WOW64_32KEY, "kestrelps32.dll"}};

constexpr const char* kClasses = "Software\\Classes\\";

HKEY RootOf(Scope scope) {
  return scope == Scope::AllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Sets one string value (`name` null: the key's default value), creating
// the key as needed.
LONG SetString(Scope scope, REGSAM view, const std::string& key, const char* name,
               const std::string& value) {
  HKEY handle = nullptr;
  LONG status = RegCreateKeyExA(RootOf(scope), (kClasses + key).c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE | view, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
  return status;
}

// Removes `key` with everything under it; a key that is not there is fine.
LONG DeleteTree(Scope scope, REGSAM view, const std::string& parent, const std::string& key) {
  HKEY handle = nullptr;
  LONG status = RegOpenKeyExA(RootOf(scope), (kClasses + parent).c_str(), 0,
                              KEY_READ | KEY_WRITE | DELETE | view, &handle);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  status = RegDeleteTreeA(handle, key.c_str());
  RegCloseKey(handle);
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace

LONG RegisterServer(Scope scope, const ServerIdentity& identity, const std::string& server) {
  const std::string classKey = "CLSID\\" + GuidText(identity.served);
  const std::string interfaceId = GuidText(IID_ICounterServer);
  // The proxy/stub DLL's class is the interface's own identifier (the
  // generated DllGetClassObject answers to it).
  const std::string proxyKey = "CLSID\\" + interfaceId;
  const std::string interfaceKey = "Interface\\" + interfaceId;
  for (const View& view : kViews) {
    LONG status = SetString(scope, view.flag, classKey, nullptr, identity.description);
    // Quoted, since the path may hold spaces; COM appends "-Embedding".
    if (status == ERROR_SUCCESS)
      status =
          SetString(scope, view.flag, classKey + "\\LocalServer32", nullptr, "\"" + server + "\"");
    if (status != ERROR_SUCCESS) return status;

    std::string proxyDll = FolderOf(server) + view.proxyDll;
    if (!FileExists(proxyDll)) continue;
    const std::pair<std::string, std::pair<const char*, std::string>> values[] = {
        {interfaceKey, {nullptr, "ICounterServer"}},
        {interfaceKey + "\\ProxyStubClsid32", {nullptr, interfaceId}},
        {interfaceKey + "\\NumMethods", {nullptr, "27"}},
        {proxyKey, {nullptr, "Kestrel counter server proxy/stub"}},
        {proxyKey + "\\InprocServer32", {nullptr, proxyDll}},
        {proxyKey + "\\InprocServer32", {"ThreadingModel", "Both"}},
    };
    for (const auto& [key, value] : values) {
      status = SetString(scope, view.flag, key, value.first, value.second);
      if (status != ERROR_SUCCESS) return status;
    }
  }
  return ERROR_SUCCESS;
}

LONG UnregisterServer(Scope scope, const ServerIdentity& identity) {
  const std::string interfaceId = GuidText(IID_ICounterServer);
  LONG first = ERROR_SUCCESS;
  for (const View& view : kViews) {
    for (LONG status : {DeleteTree(scope, view.flag, "CLSID", GuidText(identity.served)),
                        DeleteTree(scope, view.flag, "Interface", interfaceId),
                        DeleteTree(scope, view.flag, "CLSID", interfaceId)})
      if (first == ERROR_SUCCESS) first = status;
  }
  return first;
}

}  // namespace kestrelsrv
