// kestrelsrv's entries in the registry: where COM finds the server for its
// class, and the proxy/stub DLLs for its interface.
#pragma once

#include <windows.h>

#include <string>

namespace kestrelsrv {

enum class Scope {
  CurrentUser,  // HKEY_CURRENT_USER\Software\Classes: no administrator needed
  AllUsers,     // HKEY_LOCAL_MACHINE\Software\Classes
};

struct ServerIdentity {
  CLSID served;
  const char* description;
};

// Writes the class's LocalServer32 (this program, as `server` names it) and
// the interface's proxy/stub keys: the 64-bit view gets kestrelps64.dll, the
// 32-bit view, where the shipped 32-bit programs look, kestrelps32.dll. A
// proxy DLL missing from the server's folder is not registered. Returns the
// first error, or ERROR_SUCCESS.
LONG RegisterServer(Scope scope, const ServerIdentity& identity, const std::string& server);

// Removes what RegisterServer wrote, in both views. Keys already gone are
// not an error.
LONG UnregisterServer(Scope scope, const ServerIdentity& identity);

}  // namespace kestrelsrv
