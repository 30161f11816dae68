// The process-wide table of the 19 counter entry points. Every counter
// operation of the programs goes through it; BindCounterApi fills it.
#pragma once

#include <cstdint>

#include "platform_abi.h"

// One sample record as the counter library lays it out. Nothing here reads
// its fields.
struct CounterSampleRecord {
  uint8_t bytes[24];
};

// The slots, in table order: X(slot, name, entry, parameters, arguments),
// where `entry` is the counter library's entry (CounterLibraryEntries) that
// the slot reaches on the direct path. Every form of the mapping (the table,
// the forwarders, the bridges, the counter server's methods) is made from
// this one list.
// Every slot is cdecl and returns a signed 32-bit result code, 0 = success.
#define KESTREL_COUNTER_SLOTS(X)                                                      \
  X(0, CounterCall0, 10, (uint32_t value), (value))                                   \
  X(1, RemoveAllCounters, 16, (), ())                                                 \
  X(2, Shutdown, 2, (), ())                                                           \
  X(3, CounterCall3, 19, (uint32_t value), (value))                                   \
  X(4, CounterCall4, 20, (), ())                                                      \
  X(5, CounterCall5, 21, (uint32_t value), (value))                                   \
  X(6, CounterCall6, 22, (uint32_t value), (value))                                   \
  X(7, CounterCall7, 23, (uint32_t value), (value))                                   \
  X(8, CounterCall8, 24, (uint32_t value), (value))                                   \
  X(9, CounterCall9, 17, (uint32_t value), (value))                                   \
  X(10, CounterCall10, 27, (uint32_t a, uint32_t b, uint32_t c, uint32_t d),        \
    (a, b, c, d))                                                                     \
  X(11, Sample, 25, (CounterSampleRecord * samples, uint32_t * count),               \
    (samples, count))                                                                 \
  X(12, GetNumCounters, 4, (uint32_t * count), (count))                               \
  X(13, GetCounterName, 5, (uint32_t index, char* name, uint32_t* length),            \
    (index, name, length))                                                            \
  X(14, CounterCall14, 7, (uint32_t a, uint32_t b), (a, b))                           \
  X(15, GetCounterAttribute, 9,                                                       \
    (uint32_t index, uint32_t attribute, uint64_t* value),                            \
    (index, attribute, value))                                                        \
  X(16, GetCounterValue, 28,                                                          \
    (uint32_t index, uint32_t object, uint64_t* value, uint64_t* cycles),             \
    (index, object, value, cycles))                                                   \
  X(17, AddCounter, 11, (uint32_t index), (index))                                    \
  X(18, CounterCall18, 14, (uint32_t value), (value))

inline constexpr int kCounterSlotCount = 19;

struct CounterApiSlots {
#define KESTREL_SLOT_MEMBER(slot, name, entry, params, args) int32_t(KESTREL_CDECL* name) params;
  KESTREL_COUNTER_SLOTS(KESTREL_SLOT_MEMBER)
#undef KESTREL_SLOT_MEMBER
};

// The table itself, one per process.
extern CounterApiSlots CounterApiTable;

// Result codes made by the binding layer itself.
inline constexpr int32_t kBindingFailed = -1;
inline constexpr int32_t kLibraryNotLoadable = -2;
inline constexpr int32_t kNotBound = -3;
inline constexpr int32_t kNoServerConnection = -5;

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
