// What crosses the process boundary, proved against real memory: the
// caller's buffers are followed by an inaccessible page, so a proxy that
// reads or writes one byte past them faults. Run alone among the tests that
// start kestrelsrv.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "counter_api.h"
#include "counter_interface.h"
#include "counter_double.h"
#include "server_support.h"

using namespace testing_support;

namespace {

constexpr uint32_t kNameBufferSize = counter_interface::kNameBufferSize;

class ServerMarshalling : public testing::Test {
 protected:
  void SetUp() override { library.SetScript("counter 1 300 9 busy\n"); }
  void TearDown() override {
    CounterApiTable.Shutdown();
    EndServersOfThisProcess();
  }
  CounterDouble library;
};

TEST_F(ServerMarshalling, SampleCarriesOneRecordWhateverTheCapacitySays) {
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
  std::vector<std::string> samples;
  for (const std::string& call : SplitLines(library.NormalizedCalls()))
    if (call.rfind("Sample ", 0) == 0) samples.push_back(call);
  EXPECT_EQ(samples, (std::vector<std::string>{"Sample P P 1", "Sample P P 1", "Sample P P 0"}));
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
}

// The server has exactly the 200 bytes that travelled: a caller's larger
// length must not let the library write past them in the server.
TEST_F(ServerMarshalling, ALengthAboveTheBufferReachesTheLibraryAsTheBuffersSize) {
  ASSERT_EQ(BindCounterApi(), 0);
  char name[kNameBufferSize];
  uint32_t length = 4096;
  EXPECT_EQ(CounterApiTable.GetCounterName(0, name, &length), 0);
  EXPECT_STREQ(name, "busy");
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(SplitLines(library.NormalizedCalls()).back(), "GetCounterName 0 P P 200");
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
}

TEST_F(ServerMarshalling, AServerSendingBackALongerNameLengthCannotWritePastTheBuffer) {
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

}  // namespace
