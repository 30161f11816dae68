// Helpers for the tests that reach kestrelsrv through real COM under Wine.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "server_interface.h"

namespace testing_support {

// Processes running `image`, started by `parent` (0: by anyone).
std::vector<DWORD> ProcessesNamed(const char* image, DWORD parent = 0);

// kestrelsrv.exe processes that this process started (COM under Wine starts
// a local server from the activating process).
std::vector<DWORD> ServerProcessesOfThisProcess();

// A server whose client goes away holding it lives on under Wine: gives
// every server this process started a few seconds to end by itself, then
// ends it.
void EndServersOfThisProcess();

// The one server this process started; fails the test if there is not
// exactly one. The handle may wait for and end the process.
HANDLE OpenTheServerProcess();

// Ends a process from outside, as a crash or the task manager would, and
// waits until it is gone.
void Kill(HANDLE process);


// `size` writable bytes that end exactly where an inaccessible page begins:
// whoever writes or reads one byte past them faults.
class GuardedBytes {
 public:
  explicit GuardedBytes(size_t size);
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  void* data() const { return data_; }

 private:
  void* pages_ = nullptr;
  void* data_ = nullptr;
};

// A registry value as text, or "<missing>".
std::string RegistryText(HKEY root, const std::string& key, const char* name, REGSAM view = 0);

}  // namespace testing_support
