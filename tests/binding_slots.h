// Calls every slot of the counter table with distinct arguments and sentinel
// out-values, for tests that look at all 19 at once.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>

#include "counter_api.h"
#include "counter_double.h"

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

// A call record with the pointers to `out`'s values by their names and any
// other pointer as P.
inline std::string WithNamedPointers(std::string calls, const SlotOutputs& out) {
  const std::pair<const void*, const char*> named[] = {
      {&out.sample, "&sample"}, {&out.sampleCount, "&sampleCount"},
      {&out.numCounters, "&numCounters"}, {out.name, "&name"}, {&out.nameLength, "&nameLength"},
      {&out.attribute, "&attribute"}, {&out.value, "&value"}, {&out.cycles, "&cycles"}};
  for (const auto& [pointer, name] : named) {
    std::regex recorded(testing_support::RecordedPointer(pointer) + "\\b");
    calls = std::regex_replace(calls, recorded, name);
  }
  return std::regex_replace(calls, std::regex("0x[0-9a-f]+\\b"), "P");
}

// A value no slot wrote keeps its 0xA5 bytes.
inline std::string ShownOutputs(const SlotOutputs& out) {
  if (SlotOutputs fresh; std::memcmp(&fresh, &out, sizeof out) == 0) return "out untouched\n";
  std::ostringstream text;
  text << "out sampleCount=" << out.sampleCount << " numCounters=" << out.numCounters
       << " name=" << std::string(out.name, strnlen(out.name, sizeof out.name))
       << " nameLength=" << out.nameLength << " attribute=" << out.attribute
       << " value=" << out.value << " cycles=" << out.cycles << "\n";
  return text.str();
}
