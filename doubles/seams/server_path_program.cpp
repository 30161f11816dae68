// Linked into a program to run it on the server path: WOW64 answers yes and
// the counter-server double is registered before main starts.
//
// KESTREL_SERVER_FAULT=METHOD[,CODE] makes the server's METHOD fail as a COM
// call (the server gone), after storing CODE when one is given.
#include <cstdlib>
#include <string>

#include "counter_server_double.h"

namespace {

void ScriptFault(const char* fault) {
  if (fault == nullptr || *fault == '\0') return;
  std::string text = fault;
  size_t comma = text.find(',');
  counter_server_double::Fault scripted;
  scripted.callResult = RPC_E_SERVER_UNAVAILABLE;
  if (comma != std::string::npos) {
    scripted.storesCode = true;
    scripted.code = std::stoi(text.substr(comma + 1));
  }
  counter_server_double::TheScript().faults[text.substr(0, comma)] = scripted;
}

const bool registered = [] {
  counter_server_double::Register();
  ScriptFault(std::getenv("KESTREL_SERVER_FAULT"));
  return true;
}();

}  // namespace
