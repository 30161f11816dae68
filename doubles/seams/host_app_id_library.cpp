// A library that exports GetHostAppID, loaded into a host whose own
// executable does not: the plug-in must not take the library's export for
// the host's.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) uint32_t GetHostAppID() { return 1; }
