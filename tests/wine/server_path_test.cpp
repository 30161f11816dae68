// The server path end to end: the counter table bound through kestrelsrv.exe,
// started by real COM under Wine, over the counter-library double; what
// crosses the process boundary, proved against real memory (the caller's
// buffers are followed by an inaccessible page, so a proxy that reads or
// writes one byte past them faults); and kestrelsrv's self-registration for
// the user, which leaves the machine's (the one COM under Wine reads) as it
// is. Every test runs in a process of its own (the table is process-wide)
// and, since COM may hand one client's server to another client that is
// activating at the same moment, alone among the tests that start kestrelsrv.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "binding_slots.h"
#include "scratch.h"
#include "counter_api.h"
#include "counter_double.h"
#include "counter_interface.h"
#include "process.h"
#include "server_support.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

constexpr uint32_t kNameBufferSize = counter_interface::kNameBufferSize;

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
    return std::regex_replace(library.CallsWithoutQueries(), std::regex("(^|\n)(Init\n)+"), "$1");
  }

  CounterDouble library;
};

// A closed connection answers every slot with -5, writes no out-value and
// gave back the thread's COM initialisation.
void ExpectClosed() {
  SlotOutputs out;
  for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -5);
  EXPECT_EQ(ShownOutputs(out), "out untouched\n");
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

// Every slot with the caller's arguments and Shutdown's own code back. The
// caller's capacity and name length above what the server holds (one
// record, the 200 bytes that travelled) reach the library as that: more
// would let it write past the server's buffers.
TEST_F(ServerPath, EverySlotReachesTheLibraryInTheServerWithTheCallersArguments) {
  library.SetScript("counter 1 300 9 busy\nfail Shutdown 6\n");
  ASSERT_EQ(BindCounterApi(), 0);
  // The client itself never loaded the library: only the server did.
  EXPECT_EQ(GetModuleHandleA("nvpmapi.dll"), nullptr);
  HANDLE server = OpenTheServerProcess();

  SlotOutputs out;
  out.sampleCount = 500;
  out.nameLength = 4096;
  EXPECT_EQ(CallEverySlot(out), (std::array<int32_t, kCounterSlotCount>{0, 0, 6}));
  EXPECT_EQ(CallsAfterLoading(), ReadFile(KESTREL_BINDING_DATA "/every-slot-in-the-server"));
  // What the library wrote in the server came back into the caller's
  // variables (no counter was enabled yet, so no sample).
  EXPECT_EQ(ShownOutputs(out), "out sampleCount=0 numCounters=1 name=busy nameLength=5 "
                               "attribute=1 value=300 cycles=9\n");
  // Shutdown released the one object, so the server ended by itself; then
  // -5 without a call, until a binding connects again.
  EXPECT_EQ(WaitForSingleObject(server, 5000), WAIT_OBJECT_0);
  CloseHandle(server);
  ExpectClosed();

  library.SetScript("counter 1 300 9 busy\n");
  library.ClearCalls();
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(ServerProcessesOfThisProcess().size(), 1u);
  EXPECT_EQ(CounterApiTable.AddCounter(0), 0);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_EQ(CallsAfterLoading(), "AddCounter 0\nShutdown\n");
}

// What the server's library answers, an Init code included, comes back
// through kestrelsrv in the NVML cases run through it; how the bridges
// handle codes and a closed connection, the Linux tests show.

// A server killed between calls, or during one (the library announces the
// call before it sleeps in it): the next call, or the one in flight, ends
// with -5 as soon as the server is gone, not when the library's call would
// have, and the connection is closed.
TEST_F(ServerPath, AServerKilledBetweenOrDuringCallsClosesTheConnection) {
  for (bool duringACall : {false, true}) {
    SCOPED_TRACE(duringACall ? "during a call" : "between calls");
    library.SetScript(std::string("counter 1 300 9 busy\n") +
                      (duringACall ? "sleep AddCounter 8000\n" : ""));
    library.ClearCalls();
    ASSERT_EQ(BindCounterApi(), 0);
    HANDLE server = OpenTheServerProcess();
    std::atomic<bool> killed{false};
    std::thread killer([&] {
      for (int tick = 0; tick < 2000 && !killed; ++tick, Sleep(10)) {
        std::vector<std::string> calls = library.Calls();
        killed = !duringACall ||
                 std::find(calls.begin(), calls.end(), "AddCounter 0") != calls.end();
      }
      if (killed) Kill(server);
    });
    if (!duringACall) killer.join();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CounterApiTable.AddCounter(0), -5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    if (duringACall) killer.join();
    CloseHandle(server);
    EXPECT_TRUE(killed);
    ExpectClosed();
  }
}

// The plug-in binds again on every count, without a Shutdown in between:
// the same server, with the counters enabled before, goes on answering.
// Its samples carry one record whatever the capacity says. (How the bridge
// stands in for a missing buffer or count, the Linux tests show.)
TEST_F(ServerPath, BindingAgainKeepsTheServerAndItsCountersAndSamplesCarryOneRecord) {
  ASSERT_EQ(BindCounterApi(), 0);
  HANDLE first = OpenTheServerProcess();
  ASSERT_EQ(CounterApiTable.AddCounter(0), 0);
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(first);
  EXPECT_EQ(ServerProcessesOfThisProcess().size(), 1u);

  // A caller's own record, with a count far above one record.
  GuardedBytes record(sizeof(CounterSampleRecord));
  uint32_t count = 500;
  EXPECT_EQ(CounterApiTable.Sample(static_cast<CounterSampleRecord*>(record.data()), &count), 0);
  EXPECT_EQ(count, 1u);  // the library's answer: the one counter still enabled
  // No buffer and no count: a record of no capacity crosses.
  EXPECT_EQ(CounterApiTable.Sample(nullptr, nullptr), 0);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  // The library in the server was told of room for at most one record, and
  // the binding in between removed no counter.
  EXPECT_EQ(CallsAfterLoading(), "AddCounter 0\nSample P P 1\nSample P P 0\nShutdown\n");
}

// The library answers with the length its whole name needs: that length
// arrives as the server sent it, and the buffer takes no more than its 200
// bytes (one more would fault on the page behind them).
TEST_F(ServerPath, AServerSendingBackALongerNameLengthCannotWritePastTheBuffer) {
  const std::string longName(64 * 1024 - 1, 'n');
  library.SetScript("counter 1 300 9 " + longName + "\n");
  ASSERT_EQ(BindCounterApi(), 0);
  GuardedBytes name(kNameBufferSize);
  uint32_t length = kNameBufferSize;
  EXPECT_EQ(CounterApiTable.GetCounterName(0, static_cast<char*>(name.data()), &length), 0);
  EXPECT_EQ(static_cast<char*>(name.data()), longName.substr(0, kNameBufferSize - 1));
  EXPECT_EQ(length, 64u * 1024);
}

const std::string kServer = KESTRELSRV;
int RunServerProgram(std::vector<std::string> arguments) {
  ProgramOptions options;
  options.arguments = arguments;
  return RunProgram(kServer, options).exitCode;
}

// As the program sees its own path: Windows separators.
std::string WindowsPath(fs::path path) { return path.make_preferred().string(); }

// Registration for the machine, each view with its own proxy DLL, is what
// the setup program does; its test checks the keys, and that a client cannot
// connect once they are gone. Anything else on the command line is refused.
TEST(ServerRegistration, PerUserKeysByDefaultAndTheirRemovalElseRefused) {
  const std::string server = Quoted(WindowsPath(kServer));
  const std::vector<std::string> keys = {
      server, kInterface, WindowsPath(fs::path(kServer).parent_path() / "kestrelps64.dll"), "Both"};
  for (bool registered : {true, false, false}) {  // removing what is not there is no error
    ASSERT_EQ(RunServerProgram({registered ? "/RegServer" : "/UnregServer"}), 0);
    EXPECT_EQ(ServerRegistration(HKEY_CURRENT_USER),
              registered ? keys : std::vector<std::string>(4, "<missing>"));
    // The machine's registration is another scope and stays.
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kClassKey + "\\LocalServer32", nullptr), server);
  }
  EXPECT_EQ(RunServerProgram({}), 2);
  EXPECT_EQ(RunServerProgram({"/RegServer", "/Everyone"}), 2);
}

}  // namespace
