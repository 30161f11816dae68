// Linked into a program to run it on the server path: WOW64 answers yes and
// the counter-server double is registered before main starts.
#include "counter_server_double.h"

namespace {

const bool registered = [] {
  counter_server_double::Register();
  return true;
}();

}  // namespace
