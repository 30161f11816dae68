// The process-wide table of the 19 counter entry points. Every counter
// operation of the programs goes through it; BindCounterApi fills it.
#pragma once

#include <cstdint>

#include "counter_interface.h"
#include "counter_slots.h"
#include "platform_abi.h"

// One sample record as the counter library lays it out. Nothing here reads
// its fields.
struct CounterSampleRecord {
  uint8_t bytes[24];
};

inline constexpr int kCounterSlotCount = 19;

// One member per slot of the list (counter_slots.h), in its order.
struct CounterApiSlots {
#define KESTREL_SLOT_MEMBER(slot, name, entry, method, params, args) \
  int32_t(KESTREL_CDECL* name) params;
  KESTREL_COUNTER_SLOTS(KESTREL_SLOT_MEMBER)
#undef KESTREL_SLOT_MEMBER
};

// The table itself, one per process.
extern CounterApiSlots CounterApiTable;

// The binding layer's own result codes (counter_interface.h), by the names
// its callers use.
using counter_interface::kBindingFailed;
using counter_interface::kLibraryNotLoadable;
using counter_interface::kNotBound;
using counter_interface::kNoServerConnection;

using UnboundEntryFn = int32_t(KESTREL_CDECL*)();

// What every slot and every library entry holds until bound: it touches no
// argument (so no out-parameter is written) and returns -3 for any argument
// list. The convention is cdecl, so the caller removes whatever it passed.
extern "C" int32_t KESTREL_CDECL UnboundEntry();

// Stores a function with no parameters of its own, such as UnboundEntry,
// into a slot of any signature.
template <class Slot>
Slot AsSlot(UnboundEntryFn function) {
  return reinterpret_cast<Slot>(reinterpret_cast<void (*)()>(function));
}

// Fills the table, from the start, on every call. Returns 0 when bound;
// otherwise -1 (binding failed), -2 (counter library not loadable) or the
// library's or counter server's own initialisation code. The table is filled
// even when the direct path fails.
int32_t BindCounterApi();
