// kestrelsrv: the counter server. A 32-bit program under WOW64 cannot load
// the 64-bit counter library, so it asks COM for this server instead, which
// hosts the library in a 64-bit process and offers it as ICounterServer.
//
//   kestrelsrv -Embedding                 what COM runs: serve one client
//   kestrelsrv /RegServer [/AllUsers]     register for this user (or all)
//   kestrelsrv /UnregServer [/AllUsers]   remove that registration
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "counter_server_object.h"
#include "local_server.h"
#include "registration.h"

using namespace kestrelsrv;

namespace {

const ServerIdentity kIdentity = {CLSID_CounterServer, "Kestrel counter server"};

// COM passes "-Embedding" or "/Embedding"; people type either sign and any
// case.
bool IsSwitch(const char* argument, const char* name) {
  return (argument[0] == '-' || argument[0] == '/') && _stricmp(argument + 1, name) == 0;
}

// A window-less program has no console of its own: messages go to the one
// it was started from, if any.
void Report(const char* text) {
  if (GetStdHandle(STD_ERROR_HANDLE) == nullptr && AttachConsole(ATTACH_PARENT_PROCESS))
    freopen("CONOUT$", "w", stderr);
  std::fputs(text, stderr);
  std::fflush(stderr);
}

std::string ThisProgram() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

int Usage() {
  Report(
      "kestrelsrv: the Kestrel counter server, started by COM for 32-bit programs.\n"
      "usage: kestrelsrv /RegServer [/AllUsers]    register (for this user, or all users)\n"
      "       kestrelsrv /UnregServer [/AllUsers]  remove the registration\n");
  return 2;
}

int Registration(bool add, Scope scope) {
  std::string server = ThisProgram();
  if (server.empty()) {
    Report("kestrelsrv: cannot find its own path\n");
    return 1;
  }
  LONG status = add ? RegisterServer(scope, kIdentity, server) : UnregisterServer(scope, kIdentity);
  if (status == ERROR_SUCCESS) return 0;
  char text[160];
  std::snprintf(text, sizeof text, "kestrelsrv: %s failed with error %ld%s\n",
                add ? "registration" : "unregistration", static_cast<long>(status),
                status == ERROR_ACCESS_DENIED && scope == Scope::AllUsers
                    ? " (/AllUsers needs an administrator)"
                    : "");
  Report(text);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && IsSwitch(argv[1], "Embedding"))
    return ServeClass(kIdentity.served, CounterServerFactory());
  bool allUsers = argc == 3 && IsSwitch(argv[2], "AllUsers");
  if (argc == 2 || allUsers) {
    Scope scope = allUsers ? Scope::AllUsers : Scope::CurrentUser;
    if (IsSwitch(argv[1], "RegServer")) return Registration(true, scope);
    if (IsSwitch(argv[1], "UnregServer")) return Registration(false, scope);
  }
  return Usage();
}
