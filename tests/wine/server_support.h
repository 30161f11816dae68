// Helpers for the tests that reach kestrelsrv through real COM under Wine.
#pragma once

#include <windows.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "server_interface.h"

namespace testing_support {

// The counter server's class and its interface, and their keys.
inline const std::string kClassKey = "Software\\Classes\\CLSID\\{7B7162C4-3C2E-4A53-9541-485B0AB5E175}";
inline const std::string kInterface = "{834874B0-02EF-48B8-83DD-E2FDCEAEA575}";
inline const std::string kInterfaceKey = "Software\\Classes\\Interface\\" + kInterface;
inline const std::string kProxyKey = "Software\\Classes\\CLSID\\" + kInterface;

// Processes running `image`, started by `parent` (0: by anyone).
std::vector<DWORD> ProcessesNamed(const char* image, DWORD parent = 0);

// kestrelsrv.exe processes that this process started (COM under Wine starts
// a local server from the activating process).
inline std::vector<DWORD> ServerProcessesOfThisProcess() {
  return ProcessesNamed("kestrelsrv.exe", GetCurrentProcessId());
}

// A server whose client goes away holding it lives on under Wine: gives
// every server this process started a few seconds to end by itself, then
// ends it.
void EndServersOfThisProcess();

// The one server this process started; throws if there is not exactly one.
// The handle may wait for and end the process.
HANDLE OpenTheServerProcess();

// Ends a process from outside, as a crash or the task manager would, and
// waits until it is gone.
void Kill(HANDLE process);

// `size` writable bytes that end exactly where an inaccessible page begins:
// whoever writes or reads one byte past them faults.
class GuardedBytes {
 public:
  explicit GuardedBytes(size_t size);
  ~GuardedBytes() { VirtualFree(pages_, 0, MEM_RELEASE); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  void* data() const { return data_; }

 private:
  void* pages_ = nullptr;
  void* data_ = nullptr;
};

// A registry value as text, or "<missing>".
std::string RegistryText(HKEY root, const std::string& key, const char* name, REGSAM view = 0);

// The counter server's registration in one scope and view: the server's
// command line, the interface's proxy/stub class, that class's DLL and its
// threading model.
std::vector<std::string> ServerRegistration(HKEY root, REGSAM view = 0);

// Built up in place: GCC 12 warns wrongly (-Wrestrict) about "\"" + text.
inline std::string Quoted(const std::filesystem::path& path) {
  std::string text = "\"";
  return text.append(path.string()).append("\"");
}

}  // namespace testing_support
