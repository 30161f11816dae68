// kestrelhost: a monitoring host of our own, to try the plug-in and to write
// and check its configuration without the real host.
//
//   kestrelhost PLUGIN [--polls N] [--interval MS]
//   kestrelhost check CONFIG [--json]
//   kestrelhost init [--out FILE]
//
// It exports GetHostAppID from its own executable, as the monitoring host
// does, so the plug-in takes it for the host.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "platform_abi.h"

// The plug-in only looks for this export; it never calls it.
extern "C" KESTREL_EXPORT uint32_t KESTREL_CDECL GetHostAppID() { return 0x4B455354; }

int Usage() {
  std::fprintf(stderr,
               "usage: kestrelhost PLUGIN [--polls N] [--interval MS]\n"
               "       kestrelhost check CONFIG [--json]\n"
               "       kestrelhost init [--out FILE]\n");
  return 2;
}

// A plug-in file named "check" or "init" is still reachable as ./check.
int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "check") == 0) return RunCheck(argc - 2, argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "init") == 0) return RunInit(argc - 2, argv + 2);
  return RunPlugin(argc - 1, argv + 1);
}
