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
#include "scratch.h"
#include "counter_api.h"
#include "counter_double.h"
#include "server_support.h"

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
  std::string CallsAfterLoading() {
    std::string after;
    for (const std::string& call : SplitLines(library.NormalizedCalls()))
      if (call.rfind("NVPMQueryInterface", 0) != 0 && call != "Init") after += call + "\n";
    return after;
  }
  HANDLE ExpectServerEnds(HANDLE server) {
    EXPECT_EQ(WaitForSingleObject(server, kServerExitWaitMs), WAIT_OBJECT_0);
    CloseHandle(server);
    return nullptr;
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
  EXPECT_EQ(CallEverySlot(out), (std::array<int32_t, kCounterSlotCount>{}));
  EXPECT_EQ(CallsAfterLoading(), ReadFile(KESTREL_BINDING_DATA "/every-slot-in-the-server"));
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
  ExpectServerEnds(server);
}

// What the server's library answers, an Init code included, comes back
// through kestrelsrv in the NVML cases run through it; how the bridges
// handle codes and a closed connection, the Linux tests show.

// Shutdown returns the server's code, and the server ends; then -5 without
// a call, until a binding connects again.
TEST_F(ServerPath, ShutdownClosesUntilABindingConnectsAgain) {
  library.SetScript("counter 1 300 9 busy\nfail Shutdown 6\n");
  ASSERT_EQ(BindCounterApi(), 0);
  HANDLE server = OpenTheServerProcess();
  EXPECT_EQ(CounterApiTable.Shutdown(), 6);
  EXPECT_EQ(CounterApiTable.Shutdown(), -5);
  EXPECT_EQ(CounterApiTable.AddCounter(0), -5);
  ExpectServerEnds(server);

  library.SetScript("counter 1 300 9 busy\n");
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(ServerProcessesOfThisProcess().size(), 1u);
  EXPECT_EQ(CounterApiTable.AddCounter(0), 0);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_EQ(CallsAfterLoading(), "Shutdown\nAddCounter 0\nShutdown\n");
}

// A closed connection answers every slot with -5, writes no out-value and
// gave back the thread's COM initialisation.
void ExpectClosed() {
  SlotOutputs out;
  for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -5);
  EXPECT_TRUE(OutputsUntouched(out));
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
    for (int tick = 0; tick < 2000 && !killed; ++tick, Sleep(10)) {
      std::vector<std::string> calls = library.Calls();
      killed = std::find(calls.begin(), calls.end(), "AddCounter 0") != calls.end();
    }
    if (killed) Kill(server);
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
  EXPECT_EQ(CallsAfterLoading().find("RemoveAllCounters"), std::string::npos);
}

}  // namespace
