// The server path of the binder and its bridges, through the COM stand-in
// and the counter-server double (which passes calls on to the
// counter-library double). Every test runs in a process of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "binding_slots.h"
#include "counted_com.h"
#include "counter_api.h"
#include "counter_double.h"
#include "counter_server.h"
#include "counter_server_double.h"
#include "steered_wow64.h"

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing_support::CounterDouble;
using testing_support::SteerWow64;
using testing_support::Wow64Answer;
namespace server = counter_server_double;

namespace {

constexpr HRESULT kServerGone = RPC_E_SERVER_UNAVAILABLE;

std::string Hex(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  return pointer ? text : "null";
}

class ServerPath : public testing::Test {
 protected:
  void SetUp() override {
    library.SetScript("counter 1 300 9 busy\n");
    server::Register();
  }
  const ComActivity& com() const { return CurrentComActivity(); }
  server::Activity& activity() { return server::TheActivity(); }
  server::Script& script() { return server::TheScript(); }
  void Fail(const std::string& method, HRESULT result, bool storesCode = false, int32_t code = 0) {
    script().faults[method] = {result, storesCode, code};
  }

  CounterDouble library;
};

TEST_F(ServerPath, NotTakenWhenTheWow64QueryFailsOrSaysNo) {
  for (Wow64Answer answer : {Wow64Answer::QueryFails, Wow64Answer::No}) {
    SteerWow64(answer);
    EXPECT_EQ(BindCounterApi(), 0);
    EXPECT_EQ(activity().objectsCreated, 0);
    EXPECT_EQ(com().initializeCalls, 0);
    EXPECT_EQ(library.Calls().at(1), "Init");  // the binder's own loader
  }
}

TEST_F(ServerPath, ConnectsInitialisesAndInstallsBridges) {
  EXPECT_EQ(BindCounterApi(), 0);
  EXPECT_THAT(activity().calls, ElementsAre("Init"));
  EXPECT_EQ(activity().objectsAlive, 1);
  EXPECT_EQ(com().depth, 1);
  // The binder did not load the library itself: only the server asked it.
  EXPECT_EQ(library.Calls().front(), "NVPMQueryInterface 0x38A4618F");
  EXPECT_EQ(CounterApiTable.AddCounter(0), 0);
  EXPECT_EQ(activity().calls.back(), "AddCounter 0");
}

TEST_F(ServerPath, EverySlotReachesItsServerMethodWithTheCallersArguments) {
  ASSERT_EQ(BindCounterApi(), 0);
  activity().calls.clear();
  SlotOutputs out;
  out.sampleCount = 1;  // the capacity of the caller's one record
  auto results = CallEverySlot(out);
  std::array<int32_t, kCounterSlotCount> expected{};
  EXPECT_EQ(results, expected);
  EXPECT_THAT(activity().calls,
              ElementsAreArray(std::vector<std::string>{
                  "CounterCall0 100", "RemoveAllCounters", "CounterCall3 103",
                  "CounterCall4", "CounterCall5 105", "CounterCall6 106", "CounterCall7 107",
                  "CounterCall8 108", "CounterCall9 109", "CounterCall10 1 2 3 4",
                  // A caller's buffer keeps the caller's count as its capacity.
                  "Sample 1 " + Hex(&out.sample) + " " + Hex(&out.sampleCount) + " 1",
                  "GetNumCounters " + Hex(&out.numCounters),
                  "GetCounterName 0 " + Hex(out.name) + " " + Hex(&out.nameLength) + " 200",
                  "CounterCall14 114 214", "GetCounterAttribute 0 2 " + Hex(&out.attribute),
                  "GetCounterValue 0 0 " + Hex(&out.value) + " " + Hex(&out.cycles),
                  "AddCounter 0", "CounterCall18 118", "Shutdown",
              }));
}

TEST_F(ServerPath, AfterShutdownEverySlotAnswersMinusFiveWithoutCallingOut) {
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_THAT(activity().calls, ElementsAre("Init", "Shutdown"));
  EXPECT_EQ(activity().objectsAlive, 0);
  SlotOutputs out;
  for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -5);
  EXPECT_TRUE(OutputsUntouched(out));
  EXPECT_THAT(activity().calls, ElementsAre("Init", "Shutdown"));
  EXPECT_EQ(com().uninitializeCalls, 1);
  EXPECT_EQ(com().depth, 0);
}

TEST_F(ServerPath, ResultsComeFromTheServerAndOutValuesPassThrough) {
  ASSERT_EQ(BindCounterApi(), 0);
  uint64_t value = 0, cycles = 0, type = 0;
  uint32_t count = 0;
  EXPECT_EQ(CounterApiTable.GetNumCounters(&count), 0);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), 0);
  EXPECT_EQ(value, 300u);
  EXPECT_EQ(cycles, 9u);
  EXPECT_EQ(CounterApiTable.GetCounterAttribute(0, 2, &type), 0);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(CounterApiTable.AddCounter(5), 7);  // the library's own code
}

TEST_F(ServerPath, ANonZeroServerCodeWithASuccessfulCallKeepsTheConnection) {
  ASSERT_EQ(BindCounterApi(), 0);
  Fail("AddCounter", S_OK, true, 42);
  EXPECT_EQ(CounterApiTable.AddCounter(0), 42);
  EXPECT_EQ(CounterApiTable.RemoveAllCounters(), 0);
  EXPECT_EQ(activity().objectsAlive, 1);
  EXPECT_EQ(com().uninitializeCalls, 0);
}

TEST_F(ServerPath, AFailedCallClosesTheConnectionAndReturnsMinusFiveOrTheStoredCode) {
  for (bool storesCode : {false, true}) {
    SCOPED_TRACE(storesCode ? "code stored" : "no code stored");
    ASSERT_EQ(BindCounterApi(), 0);
    int uninitializedBefore = com().uninitializeCalls;
    Fail("AddCounter", kServerGone, storesCode, 11);
    EXPECT_EQ(CounterApiTable.AddCounter(0), storesCode ? 11 : -5);
    // The close asked the server to shut down, gave back the reference and
    // COM's initialisation, once.
    EXPECT_EQ(activity().calls.back(), "Shutdown");
    EXPECT_EQ(activity().objectsAlive, 0);
    EXPECT_EQ(com().uninitializeCalls, uninitializedBefore + 1);
    EXPECT_EQ(com().depth, 0);
    size_t callsSoFar = activity().calls.size();
    SlotOutputs out;
    for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -5);
    EXPECT_TRUE(OutputsUntouched(out));
    EXPECT_EQ(activity().calls.size(), callsSoFar);
    EXPECT_EQ(com().uninitializeCalls, uninitializedBefore + 1);
    script().faults.clear();
  }
}

TEST_F(ServerPath, ShutdownTwiceReturnsTheServersCodeThenMinusFive) {
  ASSERT_EQ(BindCounterApi(), 0);
  Fail("Shutdown", S_OK, true, 3);
  EXPECT_EQ(CounterApiTable.Shutdown(), 3);
  EXPECT_EQ(CounterApiTable.Shutdown(), -5);
  EXPECT_EQ(com().uninitializeCalls, 1);
  EXPECT_EQ(com().unmatchedUninitializeCalls, 0);
  EXPECT_EQ(activity().objectsAlive, 0);
}

TEST_F(ServerPath, AFailingServerShutdownStillClosesEverything) {
  ASSERT_EQ(BindCounterApi(), 0);
  Fail("Shutdown", kServerGone);
  EXPECT_EQ(CounterApiTable.Shutdown(), -5);
  EXPECT_EQ(activity().objectsAlive, 0);
  EXPECT_EQ(com().depth, 0);
  EXPECT_EQ(CounterApiTable.AddCounter(0), -5);
}

TEST_F(ServerPath, NoBridgeCallsOutBeforeAConnectionExists) {
  script().createResult = REGDB_E_CLASSNOTREG;
  ASSERT_EQ(BindCounterApi(), -1);
  // Nothing was installed: the table still answers -3.
  SlotOutputs out;
  for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -3);
  EXPECT_EQ(com().uninitializeCalls, 1);  // the failed creation's own
  EXPECT_EQ(com().depth, 0);
}

TEST_F(ServerPath, CreationFailuresLeaveNoConnectionNoReferenceAndTheTableAlone) {
  struct Case {
    const char* step;
    HRESULT server::Script::*field;
    int queryInterfaceCalls;  // after CoCreateInstance's own
  } cases[] = {
      {"CoCreateInstance", &server::Script::createResult, 0},
      {"OleRun", &server::Script::runResult, 1},  // only for IRunnableObject
      {"QueryInterface", &server::Script::queryResult, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    server::TheActivity() = {};
    script() = {};
    script().*c.field = E_FAIL;
    ICounterServer* connection = reinterpret_cast<ICounterServer*>(0x1);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CreateCounterServer(&connection), E_FAIL);
    EXPECT_EQ(connection, nullptr);
    EXPECT_EQ(activity().objectsAlive, 0);
    int created = c.field == &server::Script::createResult ? 0 : 1;
    EXPECT_EQ(activity().objectsCreated, created);
    if (created) {
      EXPECT_EQ(activity().queryInterfaceCalls, 1 + c.queryInterfaceCalls);
    }
    CoUninitialize();

    EXPECT_EQ(BindCounterApi(), -1);
    EXPECT_EQ(CounterApiTable.Shutdown(), -3);
    EXPECT_EQ(com().depth, 0);
  }
}

TEST_F(ServerPath, InitStoringACodeReturnsItWithBridgesInstalled) {
  Fail("Init", S_OK, true, 9);
  EXPECT_EQ(BindCounterApi(), 9);
  EXPECT_EQ(activity().objectsAlive, 1);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);  // a bridge, reaching the server
  EXPECT_EQ(activity().calls.back(), "Shutdown");
  EXPECT_EQ(com().depth, 0);
}

TEST_F(ServerPath, InitStoringNothingLeavesMinusOneAndTheConnectionOpen) {
  Fail("Init", S_OK, false);
  EXPECT_EQ(BindCounterApi(), -1);
  EXPECT_EQ(activity().objectsAlive, 1);
  EXPECT_EQ(CounterApiTable.AddCounter(0), 0);
}

TEST_F(ServerPath, InitFailingAsACallClosesTheConnectionAndInstallsBridges) {
  for (bool storesCode : {false, true}) {
    SCOPED_TRACE(storesCode ? "code stored" : "no code stored");
    Fail("Init", kServerGone, storesCode, 4);
    EXPECT_EQ(BindCounterApi(), storesCode ? 4 : -1);
    EXPECT_EQ(activity().objectsAlive, 0);
    EXPECT_EQ(com().depth, 0);
    EXPECT_EQ(CounterApiTable.AddCounter(0), -5);  // bridges, with no connection
    EXPECT_EQ(CounterApiTable.Shutdown(), -5);
  }
}

TEST_F(ServerPath, SampleWithoutABufferUsesOnePlaceholderRecord) {
  ASSERT_EQ(BindCounterApi(), 0);
  activity().calls.clear();
  // A count the caller set high must not let the server write past the one
  // placeholder record (the double fills as many as the capacity allows).
  uint32_t count = 2;
  EXPECT_EQ(CounterApiTable.Sample(nullptr, &count), 0);
  EXPECT_EQ(count, 0u);  // the library's answer reaches the caller
  EXPECT_THAT(activity().calls.back(), testing::MatchesRegex("Sample 1 0x[0-9a-f]+ " +
                                                             Hex(&count) + " 2"));
  count = 0;
  EXPECT_EQ(CounterApiTable.Sample(nullptr, &count), 0);
  EXPECT_THAT(activity().calls.back(), testing::StartsWith("Sample 0 0x"));
  // No count either: capacity 0 and a placeholder count holding 0.
  EXPECT_EQ(CounterApiTable.Sample(nullptr, nullptr), 0);
  EXPECT_THAT(activity().calls.back(), testing::MatchesRegex("Sample 0 0x[0-9a-f]+ 0x[0-9a-f]+ 0"));
  // A caller's own record: its count is the capacity.
  CounterSampleRecord record;
  count = 1;
  EXPECT_EQ(CounterApiTable.Sample(&record, &count), 0);
  EXPECT_EQ(activity().calls.back(), "Sample 1 " + Hex(&record) + " " + Hex(&count) + " 1");
}

TEST_F(ServerPath, GetCounterNamePassesTheCallersLengthBothWays) {
  ASSERT_EQ(BindCounterApi(), 0);
  script().nameLengthOut = 42;
  char name[200];
  uint32_t length = 200;
  EXPECT_EQ(CounterApiTable.GetCounterName(0, name, &length), 0);
  EXPECT_STREQ(name, "busy");
  EXPECT_EQ(length, 42u);
  EXPECT_EQ(activity().calls.back(),
            "GetCounterName 0 " + Hex(name) + " " + Hex(&length) + " 200");
}

// The host asks for the count again while it polls: the same server, with
// the counters it enabled, answers.
TEST_F(ServerPath, BindingAgainKeepsALiveConnectionAndInitsThroughIt) {
  ASSERT_EQ(BindCounterApi(), 0);
  ASSERT_EQ(CounterApiTable.AddCounter(0), 0);
  for (int binding = 0; binding < 9; ++binding) ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(activity().objectsCreated, 1);
  EXPECT_EQ(com().depth, 1);
  EXPECT_EQ(std::count(activity().calls.begin(), activity().calls.end(), "Init"), 10);
  EXPECT_THAT(library.CallsWithoutQueries(), testing::Not(testing::HasSubstr("RemoveAllCounters")));
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_EQ(activity().objectsAlive, 0);
  EXPECT_EQ(com().depth, 0);
  EXPECT_EQ(activity().addRefs, activity().releases);
  // A binding after the close connects again.
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(activity().objectsCreated, 2);
  EXPECT_EQ(CounterApiTable.AddCounter(0), 0);
}

// A connection closed by a failed call, or one whose Init fails as a COM
// call, is replaced; a replacement that cannot be made leaves none.
TEST_F(ServerPath, BindingAgainReplacesAConnectionThatIsGone) {
  ASSERT_EQ(BindCounterApi(), 0);
  Fail("AddCounter", kServerGone);
  EXPECT_EQ(CounterApiTable.AddCounter(0), -5);
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(activity().objectsCreated, 2);
  EXPECT_EQ(activity().objectsAlive, 1);

  Fail("Init", kServerGone);
  script().runResult = E_FAIL;
  EXPECT_EQ(BindCounterApi(), -1);
  EXPECT_EQ(activity().objectsCreated, 3);
  EXPECT_EQ(activity().objectsAlive, 0);
  EXPECT_EQ(com().depth, 0);
  EXPECT_EQ(CounterApiTable.AddCounter(0), -5);
  EXPECT_EQ(CounterApiTable.Shutdown(), -5);
  EXPECT_EQ(com().unmatchedUninitializeCalls, 0);
}

TEST_F(ServerPath, AConnectionMadeWithoutItsOwnComInitialisationDoesNotUndoAnother) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);  // the host set this thread up its own way
  FailCoInitialize(RPC_E_CHANGED_MODE);
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_EQ(com().uninitializeCalls, 0);
  EXPECT_EQ(com().depth, 1);
}

}  // namespace
