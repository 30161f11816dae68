// The binder on the direct path, against the counter-library double found
// through LD_LIBRARY_PATH. Every test runs in a process of its own.
// Each folder of binding/ is a case: the double's `script`, and `expected`,
// what binding under it and then calling every slot once (CallEverySlot)
// gives: the results, the calls the library got, pointers to the caller's
// out-values by their names and any other pointer as P, and the out-values
// afterwards.
// UnusableLibrary runs alone, twice, with no counter library on the search
// path (KESTREL_EXPECT_STATUS=-2, and KESTREL_EXPECT_LOAD_ERROR the system's
// reason) and with one that lacks NVPMQueryInterface (-1): the table then
// holds what it held before any binding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>

#include "binding_slots.h"
#include "counter_api.h"
#include "counter_double.h"
#include "counter_library.h"
#include "platform.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCases = KESTREL_BINDING_DATA;

// The call record since the last look, with the pointers to `out` named.
std::string TakeCalls(CounterDouble& library, const SlotOutputs& out) {
  std::string calls = ReadFile(library.callsPath());
  const std::pair<const void*, const char*> named[] = {
      {&out.sample, "&sample"}, {&out.sampleCount, "&sampleCount"},
      {&out.numCounters, "&numCounters"}, {out.name, "&name"}, {&out.nameLength, "&nameLength"},
      {&out.attribute, "&attribute"}, {&out.value, "&value"}, {&out.cycles, "&cycles"}};
  for (const auto& [pointer, name] : named)
    calls = std::regex_replace(calls, std::regex(RecordedPointer(pointer) + "\\b"), name);
  library.ClearCalls();
  return std::regex_replace(calls, std::regex("0x[0-9a-f]+\\b"), "P");
}

// A value no slot wrote keeps its 0xA5 bytes.
std::string ShownOutputs(const SlotOutputs& out) {
  if (OutputsUntouched(out)) return "out untouched\n";
  std::ostringstream text;
  text << "out sampleCount=" << out.sampleCount << " numCounters=" << out.numCounters
       << " name=" << std::string(out.name, strnlen(out.name, sizeof out.name))
       << " nameLength=" << out.nameLength << " attribute=" << out.attribute
       << " value=" << out.value << " cycles=" << out.cycles << "\n";
  return text.str();
}

class BindingCase : public testing::TestWithParam<std::string> {};

TEST_P(BindingCase, BindingAndEverySlotGoAsExpected) {
  const fs::path dir = kCases / GetParam();
  CounterDouble library;
  library.SetScript(ReadFile(dir / "script"));
  SlotOutputs out;
  std::ostringstream text;
  text << "BindCounterApi " << BindCounterApi() << ", CounterLibraryStatus "
       << CounterLibraryStatus << ", unbound entries "
       << std::count_if(std::begin(CounterLibraryEntries), std::end(CounterLibraryEntries),
                        [](const auto& entry) { return entry.entryPoint == &UnboundEntry; })
       << "\n" << TakeCalls(library, out) << "every slot";
  for (int32_t result : CallEverySlot(out)) text << ' ' << result;
  text << "\n" << TakeCalls(library, out) << ShownOutputs(out);
  EXPECT_EQ(text.str(), ReadFile(dir / "expected"));
}

INSTANTIATE_TEST_SUITE_P(Binding, BindingCase, testing::ValuesIn(CaseFolders(kCases)),
                         [](const auto& info) { return CaseTestName(info.param); });

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
      EXPECT_TRUE(library.NormalizedCalls().starts_with(ReadFile(kCases / "loader-run")));
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
  for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -3);
  EXPECT_TRUE(OutputsUntouched(out));
  EXPECT_EQ(BindCounterApi(), status);  // binding again changes nothing
  EXPECT_EQ(CounterApiTable.Shutdown(), -3);
}

}  // namespace
