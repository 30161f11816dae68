// The counter library over NVML, bound by the real binder through the
// loader's search path, with the fake NVML behind it (both found through
// LD_LIBRARY_PATH). Each test runs in a process of its own. Several GPUs'
// order and names show in kestrelcli's cases (nvml/).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

#include "counter_api.h"
#include "platform.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::string_literals;

namespace {

constexpr uint32_t kPerGpu = 31;

// One GPU with a reading for every counter: the fake NVML's script.
const std::string kFullGpu = ReadFile(fs::path(KESTREL_NVML_LIBRARY_DATA) / "full-gpu");

class NvmlLibrary : public testing::Test {
 protected:
  // As the programs do at exit: the library gives back what NVML lent it.
  void TearDown() override { CounterApiTable.Shutdown(); }

  int32_t Bind(const std::string& script) {
    WriteFile(dir_ / "script", script);
    setenv("KESTREL_NVML_SCRIPT", (dir_ / "script").c_str(), 1);
    return BindCounterApi();
  }

  // How often the fake NVML was called: a function, or "reading" for every
  // call that reads the GPU, as opposed to setting up.
  static long Calls(const char* function) {
    void* fake = platform::LoadLibraryByName("libnvidia-ml.so.1");
    using Count = long (*)(const char*);
    return reinterpret_cast<Count>(platform::FindExport(fake, "FakeNvmlCalls"))(function);
  }

  struct Value {
    int32_t result;
    uint64_t value, cycles, type;
  };
  // One poll, as the plug-in makes it.
  static Value Poll(uint32_t index) {
    Value v{};
    uint32_t count = 0;
    EXPECT_EQ(CounterApiTable.Sample(nullptr, &count), 0);
    v.result = CounterApiTable.GetCounterValue(index, 0, &v.value, &v.cycles);
    EXPECT_EQ(CounterApiTable.GetCounterAttribute(index, 2, &v.type), 0);
    return v;
  }

  ScratchDir dir_;
};

// Every counter of a GPU's block as its reading in full-gpu makes it: the
// table in counters, line for line; they stay enabled through a second Init.
TEST_F(NvmlLibrary, EveryCounterMapsItsReadingAndInitTwiceKeepsThem) {
  ASSERT_EQ(Bind(kFullGpu), 0);
  uint32_t count = 0;
  ASSERT_EQ(CounterApiTable.GetNumCounters(&count), 0);
  ASSERT_EQ(count, kPerGpu);
  for (uint32_t i = 0; i < kPerGpu; ++i) ASSERT_EQ(CounterApiTable.AddCounter(i), 0) << i;
  // The metrics need two samples more than 100 ms apart (until then they
  // read 0 of 0, as nvml/metrics-need-two-samples shows).
  Poll(21);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const std::string expected = ReadFile(fs::path(KESTREL_NVML_LIBRARY_DATA) / "counters");
  std::string table;
  uint32_t index = 0;
  for (const std::string& line : SplitLines(expected)) {
    if (line.starts_with("#")) {
      table += line + "\n";
      continue;
    }
    char name[64] = {};
    uint32_t length = sizeof name;
    EXPECT_EQ(CounterApiTable.GetCounterName(index, name, &length), 0);
    Value v = Poll(index++);
    table += std::string(name) + " " + std::to_string(v.type) + " " + std::to_string(v.value) +
             " " + std::to_string(v.cycles) +
             (v.result ? " failed " + std::to_string(v.result) : "") + "\n";
  }
  EXPECT_EQ(table, expected);
  // One metrics sample per round: a second round within 100 ms takes none.
  long samples = Calls("nvmlGpmSampleGet");
  for (uint32_t i = 21; i < kPerGpu; ++i) Poll(i);
  EXPECT_EQ(Calls("nvmlGpmSampleGet"), samples);
  // Init again keeps the one initialisation and the enabled counters;
  // Shutdown gives it back.
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(Calls("nvmlInit_v2"), 1);
  EXPECT_EQ(Poll(13).value, 55u);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_EQ(Calls("nvmlShutdown"), 1);
  EXPECT_EQ(CounterApiTable.Sample(nullptr, nullptr), 1);  // uninitialised
}

// A poll makes at most one NVML reading; counters fed by one call share
// it; PCIe throughput is read at most once a second.
TEST_F(NvmlLibrary, OneReadingPerPollAndPcieOnceASecond) {
  ASSERT_EQ(Bind(std::string(kFullGpu) + "gpu 0000:02:00.0\npcie_tx 5\n"), 0);
  for (uint32_t i = 0; i < 2 * kPerGpu; ++i) CounterApiTable.AddCounter(i);
  long pcie = Calls("nvmlDeviceGetPcieThroughput");
  for (uint32_t i = 0; i < 2 * kPerGpu; ++i) {
    long start = Calls("reading");
    Poll(i);
    EXPECT_LE(Calls("reading") - start, 1) << i;
  }
  EXPECT_EQ(Calls("nvmlDeviceGetPcieThroughput"), pcie);  // read by AddCounter just now

  // Utilization feeds two counters: one call after one Sample.
  long utilization = Calls("nvmlDeviceGetUtilizationRates");
  uint64_t value, cycles;
  Poll(0);
  CounterApiTable.GetCounterValue(1, 0, &value, &cycles);  // in the same round
  EXPECT_EQ(Calls("nvmlDeviceGetUtilizationRates") - utilization, 1);

  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Poll(16);
  Poll(16);
  EXPECT_EQ(Calls("nvmlDeviceGetPcieThroughput") - pcie, 1);
}

// AddCounter refuses what this GPU cannot read, with NVML's code, and so
// does GetCounterValue after it.
TEST_F(NvmlLibrary, AddCounterRefusesWithNvmlsCode) {
  const std::tuple<const char*, uint32_t, int32_t> refusals[] = {
      {"fail nvmlDeviceGetFanSpeed 3", 4, 3},
      {"fail nvmlDeviceGetUtilizationRates 3", 1, 3},  // MIG mode
      {"fail * 4", 13, 4},
      {"", 21, 3},  // no metrics
      {"fail nvmlDeviceGetEnforcedPowerLimit 3", 6, 3},
      {"fail nvmlDeviceGetPciInfo_v3 15", 0, 15},
  };
  for (const auto& [failure, counter, code] : refusals) {
    SCOPED_TRACE(failure);
    ASSERT_EQ(Bind("gpu 0000:01:00.0\n"s + failure + "\n"), 0);
    EXPECT_EQ(CounterApiTable.AddCounter(counter), code);
    EXPECT_EQ(CounterApiTable.AddCounter(kPerGpu), 2);  // no such counter
    uint64_t value, cycles;
    EXPECT_EQ(CounterApiTable.GetCounterValue(counter, 0, &value, &cycles), code);
    EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  }
}

TEST_F(NvmlLibrary, LostGpuFailsAloneWith15) {
  ASSERT_EQ(Bind("gpu 0000:01:00.0\ntemperature 40\nfail * 15 2\n"
                 "gpu 0000:02:00.0\ntemperature 41\n"),
            0);
  ASSERT_EQ(CounterApiTable.AddCounter(13), 0);
  ASSERT_EQ(CounterApiTable.AddCounter(kPerGpu + 13), 0);
  EXPECT_EQ(Poll(13).result, 0);
  EXPECT_EQ(Poll(13).result, 15);
  long calls = Calls("nvmlDeviceGetTemperature");
  EXPECT_EQ(Poll(13).result, 15);  // without asking a lost GPU again
  EXPECT_EQ(Calls("nvmlDeviceGetTemperature"), calls);
  EXPECT_EQ(CounterApiTable.AddCounter(0), 15);
  Value other = Poll(kPerGpu + 13);
  EXPECT_EQ(std::make_pair(other.result, other.value), std::make_pair(0, uint64_t{41}));
}

}  // namespace
