// Calls every slot of the counter table with distinct arguments and sentinel
// out-values, for tests that look at all 19 at once.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "counter_api.h"

// Every byte 0xA5 but the name buffer's capacity, so that any byte a slot
// writes shows.
struct SlotOutputs {
  CounterSampleRecord sample;
  uint32_t sampleCount;
  uint32_t numCounters;
  char name[200];
  uint32_t nameLength;
  uint64_t attribute, value, cycles;
  SlotOutputs() {
    std::memset(static_cast<void*>(this), 0xA5, sizeof *this);
    nameLength = sizeof name;
  }
};

// Results of slots 0 to 18, in slot order. The slots are called in that
// order too, except Shutdown, which comes last: on the server path it ends
// the connection.
inline std::array<int32_t, kCounterSlotCount> CallEverySlot(SlotOutputs& out) {
  std::array<int32_t, kCounterSlotCount> results = {
      CounterApiTable.CounterCall0(100),
      CounterApiTable.RemoveAllCounters(),
      0,
      CounterApiTable.CounterCall3(103),
      CounterApiTable.CounterCall4(),
      CounterApiTable.CounterCall5(105),
      CounterApiTable.CounterCall6(106),
      CounterApiTable.CounterCall7(107),
      CounterApiTable.CounterCall8(108),
      CounterApiTable.CounterCall9(109),
      CounterApiTable.CounterCall10(1, 2, 3, 4),
      CounterApiTable.Sample(&out.sample, &out.sampleCount),
      CounterApiTable.GetNumCounters(&out.numCounters),
      CounterApiTable.GetCounterName(0, out.name, &out.nameLength),
      CounterApiTable.CounterCall14(114, 214),
      CounterApiTable.GetCounterAttribute(0, 2, &out.attribute),
      CounterApiTable.GetCounterValue(0, 0, &out.value, &out.cycles),
      CounterApiTable.AddCounter(0),
      CounterApiTable.CounterCall18(118),
  };
  results[2] = CounterApiTable.Shutdown();
  return results;
}

inline bool OutputsUntouched(const SlotOutputs& out) {
  SlotOutputs fresh;
  return std::memcmp(&fresh, &out, sizeof out) == 0;
}
