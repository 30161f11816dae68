// The counter library over NVML, bound by the real binder through the
// loader's search path, with the fake NVML behind it (both found through
// LD_LIBRARY_PATH). Each test runs in a process of its own; DriverFunctions
// runs once for each driver the fake plays (KESTREL_NVML_DRIVER).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "counter_api.h"
#include "platform.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::string_literals;

namespace {

constexpr uint32_t kPerGpu = 35;
constexpr uint32_t kFirstMetric = 21, kLastMetric = 30;

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

// Every counter of a GPU as its reading in full-gpu makes it: the
// table in counters, line for line; they stay enabled through a second Init.
TEST_F(NvmlLibrary, EveryCounterMapsItsReadingAndInitTwiceKeepsThem) {
  ASSERT_EQ(Bind(kFullGpu), 0);
  uint32_t count = 0;
  ASSERT_EQ(CounterApiTable.GetNumCounters(&count), 0);
  ASSERT_EQ(count, kPerGpu);
  for (uint32_t i = 0; i < kPerGpu; ++i) ASSERT_EQ(CounterApiTable.AddCounter(i), 0) << i;
  // The metrics need two samples more than 100 ms apart (until then they
  // read 0 of 0, as nvml/metrics-need-two-samples shows).
  Poll(kFirstMetric);
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
  for (uint32_t i = kFirstMetric; i <= kLastMetric; ++i) Poll(i);
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
  CounterApiTable.GetCounterValue(1 * 2, 0, &value, &cycles);  // memory_busy, same GPU and round
  EXPECT_EQ(Calls("nvmlDeviceGetUtilizationRates") - utilization, 1);

  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Poll(16 * 2);  // pcie_tx_kbps of the first GPU
  Poll(16 * 2);
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
      {"fail nvmlDeviceGetHandleByIndex_v2 4", 0, 4},  // counted, yet not to be had
      {"fail nvmlDeviceGetTotalEnergyConsumption 3", 31, 3},  // before Volta
      {"fail nvmlDeviceGetPcieReplayCounter 3", 32, 3},
      {"fail nvmlDeviceGetTotalEccErrors 3", 33, 3},  // no ECC, or ECC off
      {"fail nvmlDeviceGetTotalEccErrors 3", 34, 3},
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

// NVML's failure codes at Init come back negated, but those the binder makes
// itself, which would read as its own: each reads as NVML's "unknown error".
TEST_F(NvmlLibrary, InitFailureNeverAnswersABinderCode) {
  const std::pair<int32_t, int32_t> codes[] = {
      {1, -999}, {2, -999}, {3, -999}, {5, -999}, {4, -4}, {9, -9}, {999, -999}};
  for (const auto& [code, answer] : codes)
    EXPECT_EQ(Bind("init " + std::to_string(code) + "\n"), answer) << code;
}

TEST_F(NvmlLibrary, LostGpuFailsAloneWith15) {
  ASSERT_EQ(Bind("gpu 0000:01:00.0\ntemperature 40\nfail * 15 2\n"
                 "gpu 0000:02:00.0\ntemperature 41\n"),
            0);
  const uint32_t first = 13 * 2, second = 13 * 2 + 1;  // temperature_c of each
  ASSERT_EQ(CounterApiTable.AddCounter(first), 0);
  ASSERT_EQ(CounterApiTable.AddCounter(second), 0);
  EXPECT_EQ(Poll(first).result, 0);
  EXPECT_EQ(Poll(first).result, 15);
  long calls = Calls("nvmlDeviceGetTemperatureV");
  EXPECT_EQ(Poll(first).result, 15);  // without asking a lost GPU again
  EXPECT_EQ(Calls("nvmlDeviceGetTemperatureV"), calls);
  EXPECT_EQ(CounterApiTable.AddCounter(0), 15);
  Value other = Poll(second);
  EXPECT_EQ(std::make_pair(other.result, other.value), std::make_pair(0, uint64_t{41}));
}

// Counter by counter, then GPU by GPU: index = position * GPUs + GPU, so
// that with any number of GPUs a position keeps the place it has in the
// one-GPU table (counters), and each index reads its own GPU.
TEST_F(NvmlLibrary, CounterMajorOrderForOneTwoAndThreeGpus) {
  std::vector<std::string> names;
  for (const std::string& line :
       SplitLines(ReadFile(fs::path(KESTREL_NVML_LIBRARY_DATA) / "counters")))
    if (!line.starts_with("#")) names.push_back(line.substr(0, line.find(' ')));
  ASSERT_EQ(names.size(), kPerGpu);
  for (uint32_t gpus = 1; gpus <= 3; ++gpus) {
    SCOPED_TRACE(gpus);
    std::string script;  // bus order differs from enumeration order
    for (uint32_t g = gpus; g-- > 0;)
      script += "gpu 0000:0" + std::to_string(g + 1) + ":00.0\ntemperature " +
                std::to_string(40 + g) + "\n";
    ASSERT_EQ(Bind(script), 0);
    uint32_t count = 0;
    ASSERT_EQ(CounterApiTable.GetNumCounters(&count), 0);
    ASSERT_EQ(count, kPerGpu * gpus);
    for (uint32_t index = 0; index < count; ++index) {
      const uint32_t gpu = index % gpus;
      std::string expected = names[index / gpus];
      if (gpus > 1) expected = "gpu" + std::to_string(gpu) + "_" + expected;
      char name[64] = {};
      uint32_t length = sizeof name;
      ASSERT_EQ(CounterApiTable.GetCounterName(index, name, &length), 0);
      EXPECT_EQ(name, expected) << index;
      if (expected.ends_with("temperature_c")) {
        ASSERT_EQ(CounterApiTable.AddCounter(index), 0);
        EXPECT_EQ(Poll(index).value, 40u + gpu) << index;
      }
    }
    EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  }
}

// A reading feeds exactly its counters: each throttle reason bit alone sets
// exactly its flag; a die below freezing reads 0, not a wrapped count.
TEST_F(NvmlLibrary, EachReadingFeedsExactlyItsCounter) {
  constexpr uint32_t kPower = 18, kThermal = 19, kSlowdown = 20, kTemperature = 13;
  const std::tuple<const char*, uint32_t, uint64_t> readings[] = {
      {"throttle 0x4", kPower, 1},     {"throttle 0x80", kPower, 1},
      {"throttle 0x20", kThermal, 1},  {"throttle 0x40", kThermal, 1},
      {"throttle 0x8", kSlowdown, 1},  {"throttle 0x1", 0, 0},  // idle: none of them
      {"throttle 0x10", 0, 0},         {"throttle 0x100", 0, 0},
      {"temperature -5", kTemperature, 0}, {"temperature 61", kTemperature, 61},
  };
  for (const auto& [reading, counter, value] : readings) {
    SCOPED_TRACE(reading);
    ASSERT_EQ(Bind("gpu 0000:01:00.0\n"s + reading + "\n"), 0);
    for (uint32_t flag : {kPower, kThermal, kSlowdown}) {
      ASSERT_EQ(CounterApiTable.AddCounter(flag), 0);
      EXPECT_EQ(Poll(flag).value, flag == counter ? value : 0) << flag;
    }
    if (counter == kTemperature) {
      ASSERT_EQ(CounterApiTable.AddCounter(counter), 0);
      EXPECT_EQ(Poll(counter).value, value);
    }
    EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  }
}

// The function that replaced a deprecated one is called where the driver
// has it, the older one where it has only that; with neither the counter is
// refused with 13. Memory used differs: the older call counts the reserve.
TEST(DriverFunctions, NewerFirstThenOlderElseRefused) {
  const std::string driver = std::getenv("KESTREL_NVML_DRIVER");
  const bool hasNew = driver == "both" || driver == "new";
  const bool hasOld = driver == "both" || driver == "old";
  struct Pair {
    uint32_t counter;
    const char *newer, *older;
    uint64_t newValue, oldValue;
  };
  const Pair pairs[] = {
      {19, "nvmlDeviceGetCurrentClocksEventReasons", "nvmlDeviceGetCurrentClocksThrottleReasons",
       1, 1},
      {13, "nvmlDeviceGetTemperatureV", "nvmlDeviceGetTemperature", 55, 55},
      {14, "nvmlDeviceGetMemoryInfo_v2", "nvmlDeviceGetMemoryInfo", 2048, 2560},
  };
  ScratchDir dir;
  WriteFile(dir / "script", ReadFile(fs::path(KESTREL_NVML_LIBRARY_DATA) / "full-gpu"));
  setenv("KESTREL_NVML_SCRIPT", (dir / "script").c_str(), 1);
  ASSERT_EQ(BindCounterApi(), 0);
  void* fake = platform::LoadLibraryByName("libnvidia-ml.so.1");
  auto calls = reinterpret_cast<long (*)(const char*)>(platform::FindExport(fake, "FakeNvmlCalls"));
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(pair.newer);
    uint64_t value = 0, cycles = 0;
    ASSERT_EQ(CounterApiTable.AddCounter(pair.counter), hasNew || hasOld ? 0 : 13);
    CounterApiTable.Sample(nullptr, nullptr);
    ASSERT_EQ(CounterApiTable.GetCounterValue(pair.counter, 0, &value, &cycles),
              hasNew || hasOld ? 0 : 13);
    if (hasNew || hasOld) {
      EXPECT_EQ(value, hasNew ? pair.newValue : pair.oldValue);
    }
    EXPECT_EQ(calls(pair.newer) > 0, hasNew);
    EXPECT_EQ(calls(pair.older) > 0, hasOld && !hasNew);
  }
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
}

}  // namespace
