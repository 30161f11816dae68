// The binder on the direct path, against the counter-library double found
// through LD_LIBRARY_PATH. Every test runs in a process of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "binding_slots.h"
#include "counter_api.h"
#include "counter_double.h"
#include "counter_library.h"

using testing::ElementsAreArray;
using testing_support::CounterDouble;
using testing_support::RecordedPointer;

namespace {

const char* const kQueriesInOrder[] = {
    "NVPMQueryInterface 0x38A4618F", "NVPMQueryInterface 0x82054A9E",
    "NVPMQueryInterface 0x8E91D6F1", "NVPMQueryInterface 0xD3B468F6",
    "NVPMQueryInterface 0xA2933EEA", "NVPMQueryInterface 0xC6802424",
    "NVPMQueryInterface 0x57FC239E", "NVPMQueryInterface 0xA1F5CCF5",
    "NVPMQueryInterface 0xA025DBF9", "NVPMQueryInterface 0x4565C505",
    "NVPMQueryInterface 0xF96DCC24", "NVPMQueryInterface 0xCD4624B6",
    "NVPMQueryInterface 0x7663DB3F", "NVPMQueryInterface 0x10747EF3",
    "NVPMQueryInterface 0x5864E258", "NVPMQueryInterface 0x667D65CA",
    "NVPMQueryInterface 0xCBA836E1", "NVPMQueryInterface 0xE961A9C7",
    "NVPMQueryInterface 0x05D95ED0", "NVPMQueryInterface 0x30AA87E5",
    "NVPMQueryInterface 0x11BB4AF8", "NVPMQueryInterface 0xC83474B9",
    "NVPMQueryInterface 0xBC8FF957", "NVPMQueryInterface 0xDBFF3EBE",
    "NVPMQueryInterface 0xF4F49871", "NVPMQueryInterface 0x35E5552F",
    "NVPMQueryInterface 0xCF03E7B6", "NVPMQueryInterface 0x7F80C1EF",
    "NVPMQueryInterface 0x1E0D2A02", "NVPMQueryInterface 0x2A960947",
    "NVPMQueryInterface 0x55CFA974",
};

// What one successful loader run asks of the library.
std::vector<std::string> SuccessfulLoaderRun() {
  std::vector<std::string> calls{"NVPMQueryInterface 0x38A4618F", "Init"};
  calls.insert(calls.end(), std::begin(kQueriesInOrder), std::end(kQueriesInOrder));
  return calls;
}

// What the double records for the calls of CallEverySlot, slot by slot.
std::vector<std::string> EverySlotReachedTheLibrary(const SlotOutputs& out) {
  using testing_support::RecordedPointer;
  auto P = [](const void* p) { return RecordedPointer(p); };
  return {
      "CounterCall0 100",
      "RemoveAllCounters",
      "CounterCall3 103",
      "CounterCall4",
      "CounterCall5 105",
      "CounterCall6 106",
      "CounterCall7 107",
      "CounterCall8 108",
      "CounterCall9 109",
      "CounterCall10 1 2 3 4",
      "Sample " + P(&out.sample) + " " + P(&out.sampleCount) + " 2779096485",
      "GetNumCounters " + P(&out.numCounters),
      "GetCounterName 0 " + P(out.name) + " " + P(&out.nameLength) + " 200",
      "CounterCall14 114 214",
      "GetCounterAttribute 0 2 " + P(&out.attribute),
      "GetCounterValue 0 0 " + P(&out.value) + " " + P(&out.cycles),
      "AddCounter 0",
      "CounterCall18 118",
      "Shutdown",
  };
}

constexpr std::array<int32_t, kCounterSlotCount> kAllUnbound = {
    -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3};

TEST(Unbound, EverySlotAnswersMinusThreeAndWritesNothing) {
  CounterDouble library;
  SlotOutputs out;
  EXPECT_EQ(CallEverySlot(out), kAllUnbound);
  EXPECT_TRUE(OutputsUntouched(out));
  EXPECT_TRUE(library.Calls().empty());
}

TEST(DirectPath, PositiveInitBindsAndQueriesAllEntriesInOrder) {
  CounterDouble library;
  library.SetScript("init 5\ncounter 1 300 9 busy\n");
  EXPECT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(CounterLibraryStatus, 0);
  EXPECT_THAT(library.Calls(), ElementsAreArray(SuccessfulLoaderRun()));
}

TEST(DirectPath, EverySlotReachesItsLibraryFunctionWithTheCallersArguments) {
  CounterDouble library;
  library.SetScript("counter 1 300 9 busy\n");
  ASSERT_EQ(BindCounterApi(), 0);
  library.ClearCalls();
  SlotOutputs out;
  auto results = CallEverySlot(out);
  EXPECT_EQ(results, (std::array<int32_t, kCounterSlotCount>{}));
  EXPECT_THAT(library.Calls(), ElementsAreArray(EverySlotReachedTheLibrary(out)));
  // Out-parameters carry what the library wrote.
  EXPECT_EQ(out.numCounters, 1u);
  EXPECT_STREQ(out.name, "busy");
  EXPECT_EQ(out.nameLength, 5u);
  EXPECT_EQ(out.attribute, 1u);
  EXPECT_EQ(out.value, 300u);
  EXPECT_EQ(out.cycles, 9u);
}

TEST(DirectPath, LibraryResultCodesComeBackUnchanged) {
  CounterDouble library;
  library.SetScript("counter 0 1 4 a\nfail GetCounterValue -77\nfail CounterCall10 12345\n");
  ASSERT_EQ(BindCounterApi(), 0);
  uint64_t value = 0, cycles = 0;
  EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), -77);
  EXPECT_EQ(CounterApiTable.CounterCall10(9, 8, 7, 6), 12345);
  EXPECT_EQ(CounterApiTable.AddCounter(3), 7);  // the double's "no such counter"
}

TEST(DirectPath, NegativeInitIsReturnedAndNothingElseIsQueried) {
  CounterDouble library;
  library.SetScript("init -7\n");
  EXPECT_EQ(BindCounterApi(), -7);
  EXPECT_EQ(CounterLibraryStatus, -7);
  EXPECT_THAT(library.Calls(),
              ElementsAreArray({"NVPMQueryInterface 0x38A4618F", "Init"}));
  library.ClearCalls();
  SlotOutputs out;
  EXPECT_EQ(CallEverySlot(out), kAllUnbound);
  EXPECT_TRUE(OutputsUntouched(out));
  EXPECT_TRUE(library.Calls().empty());
}

TEST(DirectPath, MissingInitFunctionFailsWithoutCallingInit) {
  CounterDouble library;
  library.SetScript("null 38A4618F\n");
  EXPECT_EQ(BindCounterApi(), -1);
  EXPECT_EQ(CounterLibraryStatus, -1);
  EXPECT_THAT(library.Calls(), ElementsAreArray({"NVPMQueryInterface 0x38A4618F"}));
  SlotOutputs out;
  EXPECT_EQ(CallEverySlot(out), kAllUnbound);
}

TEST(DirectPath, OneMissingFunctionLeavesOnlyItsSlotUnbound) {
  CounterDouble library;
  library.SetScript("counter 1 300 9 busy\nnull 1E0D2A02\n");
  ASSERT_EQ(BindCounterApi(), 0);
  library.ClearCalls();
  SlotOutputs out;
  auto results = CallEverySlot(out);
  std::array<int32_t, kCounterSlotCount> expected{};
  expected[16] = -3;  // GetCounterValue
  EXPECT_EQ(results, expected);
  EXPECT_EQ(out.value, SlotOutputs().value);
  EXPECT_EQ(out.cycles, SlotOutputs().cycles);
  auto reached = EverySlotReachedTheLibrary(out);
  reached.erase(reached.begin() + 15);  // Shutdown is called last
  EXPECT_THAT(library.Calls(), ElementsAreArray(reached));
}

TEST(DirectPath, BindingTwiceRunsTheWholeLoaderTwiceAndFillsTheSameFunctions) {
  CounterDouble library;
  library.SetScript("init 1\n");
  ASSERT_EQ(BindCounterApi(), 0);
  CounterApiSlots first = CounterApiTable;
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(std::memcmp(&first, &CounterApiTable, sizeof first), 0);
  auto twice = SuccessfulLoaderRun();
  auto once = SuccessfulLoaderRun();
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_THAT(library.Calls(), ElementsAreArray(twice));
}

TEST(DirectPath, EntriesResolvedEarlierStayWhenALaterRunDoesNotResolveThem) {
  CounterDouble library;
  library.SetScript("counter 1 300 9 busy\n");
  ASSERT_EQ(BindCounterApi(), 0);
  library.SetScript("counter 1 300 9 busy\nnull 1E0D2A02\n");
  ASSERT_EQ(BindCounterApi(), 0);
  uint64_t value = 0, cycles = 0;
  EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), 0);
  EXPECT_EQ(value, 300u);
  // And a failing later run keeps them too.
  library.SetScript("init -2\ncounter 1 300 9 busy\n");
  EXPECT_EQ(BindCounterApi(), -2);
  EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), 0);
}

TEST(DirectPath, AnEntryMissingAtFirstIsResolvedByALaterRun) {
  CounterDouble library;
  library.SetScript("counter 1 300 9 busy\nnull 1E0D2A02\n");
  ASSERT_EQ(BindCounterApi(), 0);
  uint64_t value = 0, cycles = 0;
  EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), -3);
  library.SetScript("counter 1 300 9 busy\n");
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), 0);
}

TEST(DirectPath, EveryEntryIsTheLibrarysFunctionAfterBinding) {
  CounterDouble library;
  ASSERT_EQ(BindCounterApi(), 0);
  for (const CounterLibraryEntry& entry : CounterLibraryEntries)
    EXPECT_NE(entry.entryPoint, &UnboundEntry) << std::hex << entry.identifier;
}

}  // namespace
