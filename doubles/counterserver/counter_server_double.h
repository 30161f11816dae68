// Counter-server double for the Linux tests: an ICounterServer object,
// registered under CLSID_CounterServer with the COM stand-in, that passes
// every method on to the counter library found on the search path (in the
// tests, the counter-library double). Tests script how it fails and read
// back the methods it received.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "server_interface.h"

namespace counter_server_double {

// How one method misbehaves instead of reaching the library.
struct Fault {
  HRESULT callResult = E_FAIL;  // the HRESULT the method returns
  bool storesCode = false;      // whether it stores `code` before returning
  int32_t code = 0;
};

struct Script {
  HRESULT createResult = S_OK;  // of creating the object (CoCreateInstance)
  HRESULT runResult = S_OK;     // of OleRun
  HRESULT queryResult = S_OK;   // of QueryInterface for ICounterServer
  std::map<std::string, Fault> faults;  // by method name, Init included
  // GetCounterName stores this length when non-zero (the library's otherwise).
  uint32_t nameLengthOut = 0;
  bool record = true;  // keep Activity::calls (off for benchmarks)
};

struct Activity {
  std::vector<std::string> calls;  // methods received, with their arguments
  int objectsCreated = 0;
  int objectsAlive = 0;
  int addRefs = 0;
  int releases = 0;
  int queryInterfaceCalls = 0;
};

// Registers the class with the COM stand-in (once per process).
void Register();
Script& TheScript();
Activity& TheActivity();

}  // namespace counter_server_double
