// The server path of the binder and its bridges, through the COM stand-in
// and the counter-server double (which passes calls on to the
// counter-library double). Every test runs in a process of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "binding_slots.h"
#include "counted_com.h"
#include "counter_api.h"
#include "counter_double.h"
#include "server_interface.h"
#include "counter_server_double.h"
#include "scratch.h"
#include "steered_wow64.h"

using testing::ElementsAre;
using namespace testing_support;
namespace server = counter_server_double;

namespace {

constexpr HRESULT kServerGone = RPC_E_SERVER_UNAVAILABLE;

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
  // After the connection closed: every slot answers -5 without calling out
  // or writing anything, and COM's initialisation was given back once.
  void ExpectClosed(int uninitializeCalls = 1) {
    size_t callsSoFar = activity().calls.size();
    SlotOutputs out;
    for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -5);
    EXPECT_EQ(ShownOutputs(out), "out untouched\n");
    EXPECT_EQ(std::make_tuple(activity().objectsAlive, activity().calls.size(), com().uninitializeCalls,
                              com().unmatchedUninitializeCalls, com().depth),
              std::make_tuple(0, callsSoFar, uninitializeCalls, 0, 0));
  }

  CounterDouble library;
};

TEST_F(ServerPath, NotTakenWhenTheWow64QueryFailsOrSaysNo) {
  for (Wow64Answer answer : {Wow64Answer::QueryFails, Wow64Answer::No}) {
    SteerWow64(answer);
    EXPECT_EQ(BindCounterApi(), 0);
    EXPECT_EQ(std::make_pair(activity().objectsCreated, com().initializeCalls), std::make_pair(0, 0));
    EXPECT_EQ(library.Calls().at(1), "Init");  // the binder's own loader
  }
}

TEST_F(ServerPath, ConnectsAndEverySlotReachesItsServerMethodWithTheCallersArguments) {
  EXPECT_EQ(BindCounterApi(), 0);
  EXPECT_THAT(activity().calls, ElementsAre("Init"));
  EXPECT_EQ(std::make_pair(activity().objectsAlive, com().depth), std::make_pair(1, 1));
  // The binder did not load the library itself: only the server asked it.
  EXPECT_EQ(library.Calls().front(), "NVPMQueryInterface 0x38A4618F");

  activity().calls.clear();
  script().nameLengthOut = 42;  // the name's length must come back too
  // Shutdown's own code comes back, and the connection closes even when the
  // call fails: a server that died leaves a proxy that must be let go.
  Fail("Shutdown", kServerGone, true, 3);
  SlotOutputs out;
  out.sampleCount = 1;  // the capacity of the caller's one record
  EXPECT_EQ(CallEverySlot(out), (std::array<int32_t, kCounterSlotCount>{0, 0, 3}));
  std::string calls;
  for (const std::string& call : activity().calls) calls += call + "\n";
  EXPECT_EQ(WithNamedPointers(calls, out),
            ReadFile(std::filesystem::path(KESTREL_BINDING_DATA) / "every-slot-through-server"));
  EXPECT_EQ(ShownOutputs(out), "out sampleCount=0 numCounters=1 name=busy nameLength=42 "
                               "attribute=1 value=300 cycles=9\n");
  ExpectClosed();
}

// A connection that cannot be made, at any step, leaves no reference, COM
// as it was and the table unbound.
TEST_F(ServerPath, CreationFailuresLeaveNoConnectionNoReferenceAndTheTableAlone) {
  const std::tuple<const char*, HRESULT server::Script::*, int> cases[] = {
      {"CoCreateInstance", &server::Script::createResult, 0},
      {"OleRun", &server::Script::runResult, 2},  // IRunnableObject's query too
      {"QueryInterface", &server::Script::queryResult, 3},
  };
  for (const auto& [step, field, queryInterfaceCalls] : cases) {
    SCOPED_TRACE(step);
    server::TheActivity() = {};
    script() = {};
    script().*field = E_FAIL;
    ICounterServer* connection = reinterpret_cast<ICounterServer*>(0x1);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CreateCounterServer(&connection), E_FAIL);
    EXPECT_EQ(std::make_tuple(connection, activity().objectsAlive, activity().queryInterfaceCalls),
              std::make_tuple(nullptr, 0, queryInterfaceCalls));
    CoUninitialize();

    EXPECT_EQ(BindCounterApi(), -1);
    SlotOutputs out;
    for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -3);
    EXPECT_EQ(com().depth, 0);
  }
}

// Init's outcome: the code it stores, else -1; a failed Init call closes
// the connection. Bridges are installed in every case.
TEST_F(ServerPath, InitsOutcomeIsTheResultAndBridgesAreInstalled) {
  const std::tuple<HRESULT, bool, int32_t, int> cases[] = {
      {S_OK, true, 9, 1}, {S_OK, false, -1, 1}, {kServerGone, false, -1, 0}, {kServerGone, true, 4, 0}};
  for (const auto& [callResult, storesCode, expected, alive] : cases) {
    SCOPED_TRACE(testing::Message() << callResult << " " << storesCode);
    Fail("Init", callResult, storesCode, expected);
    EXPECT_EQ(BindCounterApi(), expected);
    EXPECT_EQ(activity().objectsAlive, alive);
    EXPECT_EQ(CounterApiTable.AddCounter(0), alive ? 0 : -5);
    EXPECT_EQ(CounterApiTable.Shutdown(), alive ? 0 : -5);
    EXPECT_EQ(com().depth, 0);
  }
}

TEST_F(ServerPath, SampleWithoutABufferUsesOnePlaceholderRecord) {
  ASSERT_EQ(BindCounterApi(), 0);
  // A count the caller set high must not let the server write past the one
  // placeholder record (the double fills as many as the capacity allows).
  uint32_t count = 2;
  EXPECT_EQ(CounterApiTable.Sample(nullptr, &count), 0);
  EXPECT_EQ(count, 0u);  // the library's answer reaches the caller
  EXPECT_THAT(activity().calls.back(), testing::MatchesRegex("Sample 1 0x[0-9a-f]+ " + RecordedPointer(&count) + " 2"));
  // No count either: capacity 0 (not raised to the one record) and a
  // placeholder count holding 0.
  EXPECT_EQ(CounterApiTable.Sample(nullptr, nullptr), 0);
  EXPECT_THAT(activity().calls.back(), testing::MatchesRegex("Sample 0 0x[0-9a-f]+ 0x[0-9a-f]+ 0"));
}

// The host asks for the count again while it polls: the same server, with
// the counters it enabled, answers. A connection closed by a failed call or
// by Shutdown, or whose Init fails as a COM call, is replaced; a
// replacement that cannot be made leaves none.
TEST_F(ServerPath, BindingAgainKeepsALiveConnectionAndReplacesOneThatIsGone) {
  ASSERT_EQ(BindCounterApi(), 0);
  ASSERT_EQ(CounterApiTable.AddCounter(0), 0);
  for (int binding = 0; binding < 9; ++binding) ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(std::make_tuple(activity().objectsCreated, com().depth,
                            std::count(activity().calls.begin(), activity().calls.end(), "Init")),
            std::make_tuple(1, 1, 10));
  EXPECT_THAT(library.CallsWithoutQueries(), testing::Not(testing::HasSubstr("RemoveAllCounters")));

  Fail("AddCounter", kServerGone);
  EXPECT_EQ(CounterApiTable.AddCounter(0), -5);
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(std::make_pair(activity().objectsCreated, activity().objectsAlive), std::make_pair(2, 1));

  Fail("Shutdown", S_OK, true, 6);
  EXPECT_EQ(CounterApiTable.Shutdown(), 6);
  EXPECT_EQ(activity().addRefs, activity().releases);
  ExpectClosed(2);
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(activity().objectsCreated, 3);

  Fail("Init", kServerGone);
  script().runResult = E_FAIL;
  EXPECT_EQ(BindCounterApi(), -1);
  EXPECT_EQ(activity().objectsCreated, 4);
  ExpectClosed(4);
}

TEST_F(ServerPath, AConnectionMadeWithoutItsOwnComInitialisationDoesNotUndoAnother) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);  // the host set this thread up its own way
  FailCoInitialize(RPC_E_CHANGED_MODE);
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_EQ(std::make_pair(com().uninitializeCalls, com().depth), std::make_pair(0, 1));
}

}  // namespace
