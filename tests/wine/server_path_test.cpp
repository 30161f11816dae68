// The server path end to end: the counter table bound through kestrelsrv.exe,
// started by real COM under Wine, over the counter-library double. Every
// test runs in a process of its own (the table is process-wide) and, since
// COM may hand one client's server to another client that is activating at
// the same moment, alone among the tests that start kestrelsrv.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "binding_slots.h"
#include "counter_api.h"
#include "counter_double.h"
#include "server_support.h"

using testing::ElementsAre;
using testing::ElementsAreArray;
using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

constexpr DWORD kServerExitWaitMs = 5000;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class ServerPath : public testing::Test {
 protected:
  void SetUp() override { library.SetScript("counter 1 300 9 busy\n"); }
  // Whatever the test did, no server outlives it.
  void TearDown() override {
    CounterApiTable.Shutdown();
    EndServersOfThisProcess();
  }
  // The library's calls since the server's loader ran, pointers as P.
  std::vector<std::string> CallsAfterLoading() {
    std::vector<std::string> calls = SplitLines(library.NormalizedCalls()), after;
    for (const std::string& call : calls)
      if (call.rfind("NVPMQueryInterface", 0) != 0 && call != "Init") after.push_back(call);
    return after;
  }

  CounterDouble library;
};

TEST_F(ServerPath, EverySlotReachesTheLibraryInTheServerWithTheCallersArguments) {
  ASSERT_EQ(BindCounterApi(), 0);
  // The client itself never loaded the library: only the server did.
  EXPECT_EQ(GetModuleHandleA("nvpmapi.dll"), nullptr);
  EXPECT_THAT(library.Calls(), testing::Contains("Init"));
  HANDLE server = OpenTheServerProcess();

  SlotOutputs out;
  out.sampleCount = 1;
  std::array<int32_t, kCounterSlotCount> expected{};
  EXPECT_EQ(CallEverySlot(out), expected);
  EXPECT_THAT(CallsAfterLoading(),
              ElementsAreArray(std::vector<std::string>{
                  "CounterCall0 100", "RemoveAllCounters", "CounterCall3 103", "CounterCall4",
                  "CounterCall5 105", "CounterCall6 106", "CounterCall7 107", "CounterCall8 108",
                  "CounterCall9 109", "CounterCall10 1 2 3 4", "Sample P P 1", "GetNumCounters P",
                  "GetCounterName 0 P P 200", "CounterCall14 114 214", "GetCounterAttribute 0 2 P",
                  "GetCounterValue 0 0 P P", "AddCounter 0", "CounterCall18 118", "Shutdown"}));
  // What the library wrote in the server came back into the caller's
  // variables.
  EXPECT_EQ(out.sampleCount, 0u);  // nothing was enabled yet
  EXPECT_EQ(out.numCounters, 1u);
  EXPECT_STREQ(out.name, "busy");
  EXPECT_EQ(out.nameLength, 5u);
  EXPECT_EQ(out.attribute, 1u);
  EXPECT_EQ(out.value, 300u);
  EXPECT_EQ(out.cycles, 9u);
  // Shutdown released the one object, so the server ended by itself.
  EXPECT_EQ(WaitForSingleObject(server, kServerExitWaitMs), WAIT_OBJECT_0);
  CloseHandle(server);
}

TEST_F(ServerPath, ServerCodesComeBackAndKeepTheConnection) {
  library.SetScript("counter 1 300 9 busy\nfail GetCounterValue 7\n");
  ASSERT_EQ(BindCounterApi(), 0);
  uint64_t value = 0xA5A5A5A5A5A5A5A5ull, cycles = value;
  EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), 7);
  // The library wrote nothing, and nothing else did on the way back.
  EXPECT_EQ(value, 0xA5A5A5A5A5A5A5A5ull);
  EXPECT_EQ(cycles, 0xA5A5A5A5A5A5A5A5ull);
  EXPECT_EQ(CounterApiTable.AddCounter(0), 0);
  EXPECT_EQ(CounterApiTable.AddCounter(5), 7);  // the double's "no such counter"
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_THAT(CallsAfterLoading(),
              ElementsAre("GetCounterValue 0 0 P P", "AddCounter 0", "AddCounter 5", "Shutdown"));
}

TEST_F(ServerPath, TheServersInitCodeIsTheBindersResultAndTheBridgesStay) {
  library.SetScript("init -7\n");
  EXPECT_EQ(BindCounterApi(), -7);
  // The server's own table is unresolved: its slots answer -3, through an
  // open connection.
  EXPECT_EQ(CounterApiTable.AddCounter(0), -3);
  EXPECT_EQ(CounterApiTable.Shutdown(), -3);
  EXPECT_EQ(CounterApiTable.Shutdown(), -5);
}

TEST_F(ServerPath, ShutdownTwiceReturnsTheServersCodeThenMinusFive) {
  library.SetScript("counter 1 300 9 busy\nfail Shutdown 6\n");
  ASSERT_EQ(BindCounterApi(), 0);
  HANDLE server = OpenTheServerProcess();
  EXPECT_EQ(CounterApiTable.Shutdown(), 6);
  EXPECT_EQ(CounterApiTable.Shutdown(), -5);
  EXPECT_EQ(WaitForSingleObject(server, kServerExitWaitMs), WAIT_OBJECT_0);
  CloseHandle(server);
  EXPECT_EQ(CallsAfterLoading(), std::vector<std::string>{"Shutdown"});
}

// A closed connection answers every slot with -5 at once, writes no
// out-value and gave back the thread's COM initialisation. A cross-process
// call, even a failing one, costs a millisecond or so under Wine; a thousand
// rounds over all 19 slots in well under that per slot show none is made.
void ExpectClosed() {
  auto start = Clock::now();
  for (int round = 0; round < 1000; ++round) {
    SlotOutputs out;
    for (int32_t result : CallEverySlot(out)) ASSERT_EQ(result, -5);
    ASSERT_TRUE(OutputsUntouched(out));
  }
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST_F(ServerPath, AServerKilledBetweenCallsClosesTheConnection) {
  ASSERT_EQ(BindCounterApi(), 0);
  uint32_t count = 0;
  ASSERT_EQ(CounterApiTable.GetNumCounters(&count), 0);
  HANDLE server = OpenTheServerProcess();
  Kill(server);
  CloseHandle(server);

  auto start = Clock::now();
  EXPECT_EQ(CounterApiTable.AddCounter(0), -5);
  EXPECT_LT(SecondsSince(start), 5.0);
  ExpectClosed();
}

TEST_F(ServerPath, AServerKilledDuringACallClosesTheConnection) {
  library.SetScript("counter 1 300 9 busy\nsleep AddCounter 8000\n");
  ASSERT_EQ(BindCounterApi(), 0);
  HANDLE server = OpenTheServerProcess();
  // The library announces the call before it sleeps in it.
  std::atomic<bool> killed{false};
  std::thread killer([&] {
    auto start = Clock::now();
    while (SecondsSince(start) < 20) {
      std::vector<std::string> calls = library.Calls();
      if (std::find(calls.begin(), calls.end(), "AddCounter 0") != calls.end()) {
        Kill(server);
        killed = true;
        return;
      }
      Sleep(10);
    }
  });

  auto start = Clock::now();
  EXPECT_EQ(CounterApiTable.AddCounter(0), -5);
  double took = SecondsSince(start);
  killer.join();
  CloseHandle(server);
  EXPECT_TRUE(killed);
  // It ended with the server, not when the library's call would have.
  EXPECT_LT(took, 6.0);
  ExpectClosed();
}

TEST_F(ServerPath, ABindingAfterACloseConnectsAgain) {
  ASSERT_EQ(BindCounterApi(), 0);
  HANDLE first = OpenTheServerProcess();
  ASSERT_EQ(CounterApiTable.Shutdown(), 0);
  ASSERT_EQ(WaitForSingleObject(first, kServerExitWaitMs), WAIT_OBJECT_0);
  CloseHandle(first);
  EXPECT_EQ(CounterApiTable.AddCounter(0), -5);

  library.ClearCalls();
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(ServerProcessesOfThisProcess().size(), 1u);
  EXPECT_EQ(CounterApiTable.AddCounter(0), 0);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_THAT(CallsAfterLoading(), ElementsAre("AddCounter 0", "Shutdown"));
}

// The plug-in binds again on every count, without a Shutdown in between:
// the same server, with the counters enabled before, goes on answering.
TEST_F(ServerPath, BindingAgainKeepsTheServerAndItsCounters) {
  ASSERT_EQ(BindCounterApi(), 0);
  HANDLE first = OpenTheServerProcess();
  ASSERT_EQ(CounterApiTable.AddCounter(0), 0);
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(first);
  EXPECT_EQ(ServerProcessesOfThisProcess().size(), 1u);
  uint32_t count = 0;
  uint64_t value = 0, cycles = 0;
  ASSERT_EQ(CounterApiTable.Sample(nullptr, &count), 0);
  ASSERT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), 0);
  EXPECT_EQ(value, 300u);
  EXPECT_EQ(cycles, 9u);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_THAT(CallsAfterLoading(), testing::Not(testing::Contains("RemoveAllCounters")));
}

}  // namespace
