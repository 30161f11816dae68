// The server path end to end: the counter table bound through kestrelsrv.exe,
// started by real COM under Wine, over the counter-library double; what
// crosses the process boundary, proved against real memory (the caller's
// buffers are followed by an inaccessible page, so a proxy that reads or
// writes one byte past them faults); and kestrelsrv's self-registration for
// the user, which leaves the machine's (the one COM under Wine reads) as it
// is. Every test runs in a process of its own (the table is process-wide)
// and, since COM may hand one client's server to another client that is
// activating at the same moment, alone among the tests that start kestrelsrv.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <thread>
#include <tuple>

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

constexpr DWORD kServerExitWaitMs = 5000;
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
  void ExpectServerEnds(HANDLE server) {
    EXPECT_EQ(WaitForSingleObject(server, kServerExitWaitMs), WAIT_OBJECT_0);
    CloseHandle(server);
  }

  CounterDouble library;
};

TEST_F(ServerPath, EverySlotReachesTheLibraryInTheServerWithTheCallersArguments) {
  ASSERT_EQ(BindCounterApi(), 0);
  // The client itself never loaded the library: only the server did.
  EXPECT_EQ(GetModuleHandleA("nvpmapi.dll"), nullptr);
  HANDLE server = OpenTheServerProcess();

  SlotOutputs out;
  out.sampleCount = 1;
  EXPECT_EQ(CallEverySlot(out), (std::array<int32_t, kCounterSlotCount>{}));
  EXPECT_EQ(CallsAfterLoading(), ReadFile(KESTREL_BINDING_DATA "/every-slot-in-the-server"));
  // What the library wrote in the server came back into the caller's
  // variables (no counter was enabled yet, so no sample).
  EXPECT_EQ(std::tuple(out.sampleCount, out.numCounters, std::string(out.name), out.nameLength,
                       out.attribute, out.value, out.cycles),
            std::tuple(0u, 1u, std::string("busy"), 5u, 1u, 300u, 9u));
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

TEST_F(ServerPath, SampleCarriesOneRecordWhateverTheCapacitySays) {
  ASSERT_EQ(BindCounterApi(), 0);
  ASSERT_EQ(CounterApiTable.AddCounter(0), 0);

  // A caller's own record, with a count far above one record.
  GuardedBytes record(sizeof(CounterSampleRecord));
  uint32_t count = 500;
  EXPECT_EQ(CounterApiTable.Sample(static_cast<CounterSampleRecord*>(record.data()), &count), 0);
  EXPECT_EQ(count, 1u);  // the library's answer: one counter enabled
  // No buffer, and a count that the caller never set.
  count = 0xA5A5A5A5;
  EXPECT_EQ(CounterApiTable.Sample(nullptr, &count), 0);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(CounterApiTable.Sample(nullptr, nullptr), 0);
  // The library in the server was told of room for at most one record.
  EXPECT_EQ(CallsAfterLoading(), "AddCounter 0\nSample P P 1\nSample P P 1\nSample P P 0\n");
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
}

// The server has exactly the 200 bytes that travelled: a caller's larger
// length must not let the library write past them in the server.
TEST_F(ServerPath, ALengthAboveTheBufferReachesTheLibraryAsTheBuffersSize) {
  ASSERT_EQ(BindCounterApi(), 0);
  char name[kNameBufferSize];
  uint32_t length = 4096;
  EXPECT_EQ(CounterApiTable.GetCounterName(0, name, &length), 0);
  EXPECT_EQ(std::make_pair(std::string(name), length), std::make_pair(std::string("busy"), 5u));
  EXPECT_EQ(SplitLines(library.NormalizedCalls()).back(), "GetCounterName 0 P P 200");
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
}

TEST_F(ServerPath, AServerSendingBackALongerNameLengthCannotWritePastTheBuffer) {
  // The library answers with the length its whole name needs.
  const std::string longName(64 * 1024 - 1, 'n');
  library.SetScript("counter 1 300 9 " + longName + "\n");
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  ICounterServer* server = nullptr;
  ASSERT_EQ(CreateCounterServer(&server), S_OK);
  int32_t result = -5;
  ASSERT_EQ(server->Init(&result), S_OK);
  ASSERT_EQ(result, 0);

  GuardedBytes name(kNameBufferSize);
  std::memset(name.data(), 'x', kNameBufferSize);
  uint32_t length = kNameBufferSize;
  result = -5;
  EXPECT_EQ(server->GetCounterName(0, static_cast<char*>(name.data()), &length, &result), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(static_cast<char*>(name.data()), longName.substr(0, kNameBufferSize - 1));
  // The server's length arrives as it sent it; the buffer took no more than
  // its 200 bytes (one more would have faulted on the page behind them).
  EXPECT_EQ(length, 64u * 1024);

  EXPECT_EQ(server->Shutdown(&result), S_OK);
  server->Release();
  CoUninitialize();
}

const std::string kServer = KESTRELSRV;
int RunServerProgram(std::vector<std::string> arguments) {
  ProgramOptions options;
  options.arguments = arguments;
  return RunProgram(kServer, options).exitCode;
}
const std::string kClassKey = "Software\\Classes\\CLSID\\{7B7162C4-3C2E-4A53-9541-485B0AB5E175}";
const std::string kInterfaceKey =
    "Software\\Classes\\Interface\\{834874B0-02EF-48B8-83DD-E2FDCEAEA575}";
const std::string kProxyKey = "Software\\Classes\\CLSID\\{834874B0-02EF-48B8-83DD-E2FDCEAEA575}";

// As the program sees its own path: Windows separators.
std::string WindowsPath(fs::path path) { return path.make_preferred().string(); }

// Registration for the machine, each view with its own proxy DLL, is what
// the setup program does; its test checks the keys, and that a client cannot
// connect once they are gone.
TEST(ServerRegistration, PerUserKeysByDefaultAndTheirRemoval) {
  std::string server = "\"";  // built up in place: GCC 12 warns wrongly about "\"" + text
  server.append(WindowsPath(kServer)).append("\"");
  const std::string proxy = WindowsPath(fs::path(kServer).parent_path() / "kestrelps64.dll");
  const std::pair<std::string, std::string> keys[] = {
      {kClassKey + "\\LocalServer32", server},
      {kInterfaceKey + "\\ProxyStubClsid32", "{834874B0-02EF-48B8-83DD-E2FDCEAEA575}"},
      {kProxyKey + "\\InprocServer32", proxy}};
  for (bool registered : {true, false, false}) {  // removing what is not there is no error
    ASSERT_EQ(RunServerProgram({registered ? "/RegServer" : "/UnregServer"}), 0);
    for (const auto& [key, value] : keys)
      EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, key, nullptr), registered ? value : "<missing>");
    if (registered) {
      EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kProxyKey + "\\InprocServer32", "ThreadingModel"), "Both");
    }
    // The machine's registration is another scope and stays.
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kClassKey + "\\LocalServer32", nullptr), server);
  }
}

TEST(ServerRegistration, AnythingElseOnTheCommandLineIsRefused) {
  EXPECT_EQ(RunServerProgram({}), 2);
  EXPECT_EQ(RunServerProgram({"/RegServer", "/Everyone"}), 2);
}

}  // namespace
