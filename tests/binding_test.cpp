// The binder on the direct path, against the counter-library double found
// through LD_LIBRARY_PATH. Every test runs in a process of its own.
// UnusableLibrary runs alone, twice, with no counter library on the search
// path (KESTREL_EXPECT_STATUS=-2, and KESTREL_EXPECT_LOAD_ERROR the system's
// reason) and with one that lacks NVPMQueryInterface (-1): the table then
// holds what it held before any binding. What the library is asked is
// compared with the records in binding/: the loader's queries in order, and
// every slot's call as CallEverySlot makes it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "binding_slots.h"
#include "counter_api.h"
#include "counter_double.h"
#include "counter_library.h"
#include "platform.h"
#include "scratch.h"

using namespace testing_support;

namespace {

std::string Expected(const char* name) {
  return ReadFile(std::filesystem::path(KESTREL_BINDING_DATA) / name);
}

constexpr std::array<int32_t, kCounterSlotCount> kAllUnbound = {
    -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3, -3};

TEST(DirectPath, PositiveInitBindsAndEverySlotReachesItsLibraryFunction) {
  CounterDouble library;
  library.SetScript("init 5\ncounter 1 300 9 busy\n");
  EXPECT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(CounterLibraryStatus, 0);
  EXPECT_EQ(library.NormalizedCalls(), Expected("loader-run"));
  for (const CounterLibraryEntry& entry : CounterLibraryEntries)
    EXPECT_NE(entry.entryPoint, &UnboundEntry) << std::hex << entry.identifier;

  library.ClearCalls();
  SlotOutputs out;
  EXPECT_EQ(CallEverySlot(out), (std::array<int32_t, kCounterSlotCount>{}));
  EXPECT_EQ(library.NormalizedCalls(), Expected("every-slot"));
  EXPECT_EQ(library.Calls().at(10), "Sample " + RecordedPointer(&out.sample) + " " +
                                        RecordedPointer(&out.sampleCount) + " 2779096485");
  // Out-parameters carry what the library wrote.
  EXPECT_EQ(std::tuple(out.numCounters, std::string(out.name), out.nameLength, out.attribute,
                       out.value, out.cycles),
            std::tuple(1u, std::string("busy"), 5u, 1u, 300u, 9u));
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

// A negative Init is returned as it is; a library without Init fails with
// -1 before calling anything. Either way nothing else is queried.
TEST(DirectPath, FailedInitQueriesNothingElseAndLeavesEverySlotUnbound) {
  const std::pair<const char*, int32_t> cases[] = {{"init -7\n", -7}, {"null 38A4618F\n", -1}};
  CounterDouble library;
  for (const auto& [script, status] : cases) {
    SCOPED_TRACE(script);
    library.SetScript(script);
    library.ClearCalls();
    EXPECT_EQ(BindCounterApi(), status);
    EXPECT_EQ(CounterLibraryStatus, status);
    EXPECT_EQ(library.NormalizedCalls(),
              std::string("NVPMQueryInterface 0x38A4618F\n") + (status == -1 ? "" : "Init\n"));
    library.ClearCalls();
    SlotOutputs out;
    EXPECT_EQ(CallEverySlot(out), kAllUnbound);
    EXPECT_TRUE(OutputsUntouched(out));
    EXPECT_TRUE(library.Calls().empty());
  }
}

TEST(DirectPath, OneMissingFunctionLeavesOnlyItsSlotUnbound) {
  CounterDouble library;
  library.SetScript("counter 1 300 9 busy\nnull 1E0D2A02\n");
  ASSERT_EQ(BindCounterApi(), 0);
  library.ClearCalls();
  SlotOutputs out;
  std::array<int32_t, kCounterSlotCount> expected{};
  expected[16] = -3;  // GetCounterValue
  EXPECT_EQ(CallEverySlot(out), expected);
  EXPECT_EQ(out.value, SlotOutputs().value);
  EXPECT_EQ(out.cycles, SlotOutputs().cycles);
  std::string reached = Expected("every-slot");
  reached.erase(reached.find("GetCounterValue"), sizeof "GetCounterValue 0 0 P P");
  EXPECT_EQ(library.NormalizedCalls(), reached);
}

// Every binding runs the whole loader again and fills the same functions;
// an entry a later run does not resolve keeps what it held, even when that
// run fails, and one missing at first is resolved by a later run.
TEST(DirectPath, LaterBindingsRunTheLoaderAgainAndKeepWhatWasResolved) {
  CounterDouble library;
  const std::string withoutValues = "counter 1 300 9 busy\nnull 1E0D2A02\n";
  const std::pair<std::string, int32_t> runs[] = {
      {withoutValues, -3}, {"counter 1 300 9 busy\n", 0}, {withoutValues, 0},
      {"init -2\ncounter 1 300 9 busy\n", 0}};
  for (const auto& [script, valueResult] : runs) {
    library.SetScript(script);
    library.ClearCalls();
    CounterApiSlots before = CounterApiTable;
    BindCounterApi();
    uint64_t value = 0, cycles = 0;
    EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), valueResult) << script;
    if (valueResult == 0 && script[0] == 'c') {
      EXPECT_TRUE(library.NormalizedCalls().starts_with(Expected("loader-run")));
      EXPECT_EQ(std::memcmp(&before, &CounterApiTable, sizeof before), 0) << script;
    }
  }
}

TEST(UnusableLibrary, BinderReportsItAndEverySlotStaysUnbound) {
  const char* expected = std::getenv("KESTREL_EXPECT_STATUS");
  ASSERT_NE(expected, nullptr);
  int32_t status = std::atoi(expected);
  EXPECT_EQ(BindCounterApi(), status);
  EXPECT_EQ(CounterLibraryStatus, status);
  if (const char* reason = std::getenv("KESTREL_EXPECT_LOAD_ERROR")) {
    EXPECT_STREQ(platform::LastLoadError(), reason);
  }
  SlotOutputs out;
  EXPECT_EQ(CallEverySlot(out), kAllUnbound);
  EXPECT_TRUE(OutputsUntouched(out));
  EXPECT_EQ(BindCounterApi(), status);  // binding again changes nothing
  EXPECT_EQ(CounterApiTable.Shutdown(), -3);
}

}  // namespace
