// The binder on the direct path, against the counter-library double found
// through LD_LIBRARY_PATH. Every test runs in a process of its own.
// Each folder of binding/ is a case: the double's `script`, and `expected`,
// what binding under it, calling every slot once (CallEverySlot) and then
// binding again gives: the results, the calls the library got, pointers to
// the caller's out-values by their names and any other pointer as P, and the
// out-values afterwards. The unusable-* cases run alone, with no counter
// library on the search path (KESTREL_EXPECT_LOAD_ERROR then holds the
// system's reason) and with one that lacks NVPMQueryInterface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
  std::string calls = WithNamedPointers(ReadFile(library.callsPath()), out);
  library.ClearCalls();
  return calls;
}

class BindingCase : public testing::TestWithParam<std::string> {};

TEST_P(BindingCase, BindingAndEverySlotGoAsExpected) {
  const fs::path dir = kCases / GetParam();
  CounterDouble library;
  library.SetScript(ReadIfPresent(dir / "script"));
  SlotOutputs out;
  std::ostringstream text;
  text << "BindCounterApi " << BindCounterApi() << ", CounterLibraryStatus "
       << CounterLibraryStatus << ", unbound entries "
       << std::count_if(std::begin(CounterLibraryEntries), std::end(CounterLibraryEntries),
                        [](const auto& entry) { return entry.entryPoint == &UnboundEntry; })
       << "\n" << TakeCalls(library, out) << "every slot";
  for (int32_t result : CallEverySlot(out)) text << ' ' << result;
  text << "\n" << TakeCalls(library, out) << ShownOutputs(out);
  text << "again BindCounterApi " << BindCounterApi();
  text << ", Shutdown " << CounterApiTable.Shutdown() << "\n";
  EXPECT_EQ(text.str(), ReadFile(dir / "expected"));
  if (const char* reason = std::getenv("KESTREL_EXPECT_LOAD_ERROR")) {
    EXPECT_STREQ(platform::LastLoadError(), reason);
  }
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

}  // namespace
