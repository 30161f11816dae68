// The direct path: the vendor counter library loaded into this process and
// its functions resolved, one by one, through NVPMQueryInterface.
#pragma once

#include <cstdint>

#include "counter_api.h"

struct CounterLibraryEntry {
  UnboundEntryFn entryPoint;  // UnboundEntry until resolved
  uint32_t identifier;        // the library's function identifier
};

inline constexpr int kCounterLibraryEntryCount = 31;

// Read by the forwarders at every call, so they are plain C symbols.
extern "C" CounterLibraryEntry CounterLibraryEntries[kCounterLibraryEntryCount];

// Outcome of the latest loader run: 0, -1, -2 or Init's negative code.
extern int32_t CounterLibraryStatus;

// Loads the library (never unloaded), calls its Init and resolves every
// entry. Returns -2 when the library does not load, -1 when it lacks
// NVPMQueryInterface or an Init function, Init's own code when negative
// (then no entry is queried), else 0. Entries the library answers with null
// keep what they held.
int32_t LoadCounterLibrary();

// Forwarders, one per table slot: each is a single indirect jump through its
// library entry, so the library function gets the caller's arguments and
// returns straight to the caller.
extern "C" {
#define KESTREL_FORWARDER_DECL(slot, name, entry, method, params, args) \
  int32_t KESTREL_CDECL Forward##name params;
KESTREL_COUNTER_SLOTS(KESTREL_FORWARDER_DECL)
#undef KESTREL_FORWARDER_DECL
}
