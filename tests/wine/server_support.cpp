#include "server_support.h"

#include <tlhelp32.h>

#include <stdexcept>

namespace testing_support {

constexpr DWORD kServerAccess =
    PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;

std::vector<DWORD> ProcessesNamed(const char* image, DWORD parent) {
  std::vector<DWORD> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if ((parent == 0 || entry.th32ParentProcessID == parent) && _stricmp(entry.szExeFile, image) == 0)
      found.push_back(entry.th32ProcessID);
  CloseHandle(snapshot);
  return found;
}

HANDLE OpenTheServerProcess() {
  std::vector<DWORD> servers = ServerProcessesOfThisProcess();
  if (servers.size() != 1)
    throw std::runtime_error("found " + std::to_string(servers.size()) + " kestrelsrv.exe");
  HANDLE process = OpenProcess(kServerAccess, FALSE, servers[0]);
  if (process == nullptr) throw std::runtime_error("cannot open kestrelsrv.exe");
  return process;
}

void Kill(HANDLE process) {
  TerminateProcess(process, 99);
  WaitForSingleObject(process, 10000);
}

void EndServersOfThisProcess() {
  for (DWORD id : ServerProcessesOfThisProcess()) {
    HANDLE process = OpenProcess(kServerAccess, FALSE, id);
    if (process == nullptr) continue;
    if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) Kill(process);
    CloseHandle(process);
  }
}

GuardedBytes::GuardedBytes(size_t size) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  size_t page = system.dwPageSize;
  size_t usable = (size + page - 1) / page * page;
  pages_ = VirtualAlloc(nullptr, usable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  DWORD previous = 0;
  auto* base = static_cast<char*>(pages_);
  if (base == nullptr || !VirtualProtect(base + usable, page, PAGE_NOACCESS, &previous))
    throw std::runtime_error("cannot set up guarded bytes");
  data_ = base + usable - size;
}

std::string RegistryText(HKEY root, const std::string& key, const char* name, REGSAM view) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
    return "<missing>";
  char value[1024] = {};
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  LONG status =
      RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(handle);
  return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "<missing>";
}

std::vector<std::string> ServerRegistration(HKEY root, REGSAM view) {
  return {RegistryText(root, kClassKey + "\\LocalServer32", nullptr, view),
          RegistryText(root, kInterfaceKey + "\\ProxyStubClsid32", nullptr, view),
          RegistryText(root, kProxyKey + "\\InprocServer32", nullptr, view),
          RegistryText(root, kProxyKey + "\\InprocServer32", "ThreadingModel", view)};
}

}  // namespace testing_support
