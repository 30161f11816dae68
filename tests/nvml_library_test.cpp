// The counter library over NVML, bound by the real binder through the
// loader's search path, with the fake NVML behind it (both found through
// LD_LIBRARY_PATH). Each test runs in a process of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "counter_api.h"
#include "platform.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

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

  static long Calls(const char* function) {
    using Count = long (*)(const char*);
    void* fake = platform::LoadLibraryByName("libnvidia-ml.so.1");
    auto count = reinterpret_cast<Count>(platform::FindExport(fake, "FakeNvmlCalls"));
    return count(function);
  }

  // Every call that reads the GPU, as opposed to setting up.
  static long ReadingCalls() { return Calls("reading"); }

  static std::string Name(uint32_t index) {
    char name[64] = {};
    uint32_t length = sizeof name;
    EXPECT_EQ(CounterApiTable.GetCounterName(index, name, &length), 0);
    return name;
  }

  struct Value {
    int32_t result;
    uint64_t value, cycles;
  };
  // One poll, as the plug-in makes it.
  static Value Poll(uint32_t index) {
    Value v{};
    uint64_t type = 0;
    uint32_t count = 0;
    EXPECT_EQ(CounterApiTable.Sample(nullptr, &count), 0);
    v.result = CounterApiTable.GetCounterValue(index, 0, &v.value, &v.cycles);
    EXPECT_EQ(CounterApiTable.GetCounterAttribute(index, 2, &type), 0);
    return v;
  }

  ScratchDir dir_;
};

struct Expected {
  std::string name;
  uint64_t type;  // 1 raw, 0 percentage
  uint64_t value;
  uint64_t cycles;
};

// Every counter of the block, as its reading in kFullGpu makes it.
std::vector<Expected> Mapping() {
  std::vector<Expected> mapping;
  const fs::path table = fs::path(KESTREL_NVML_LIBRARY_DATA) / "counters";
  for (const std::string& line : SplitLines(ReadFile(table))) {
    std::istringstream fields(line);
    Expected counter;
    if (line[0] != '#' && fields >> counter.name >> counter.type >> counter.value >> counter.cycles)
      mapping.push_back(counter);
  }
  return mapping;
}

TEST_F(NvmlLibrary, EveryCounterMapsItsReading) {
  ASSERT_EQ(Bind(kFullGpu), 0);
  uint32_t count = 0;
  ASSERT_EQ(CounterApiTable.GetNumCounters(&count), 0);
  ASSERT_EQ(count, kPerGpu);
  const std::vector<Expected> mapping = Mapping();
  ASSERT_EQ(mapping.size(), kPerGpu);
  for (uint32_t i = 0; i < kPerGpu; ++i) ASSERT_EQ(CounterApiTable.AddCounter(i), 0) << i;
  // The metrics need two samples more than 100 ms apart: until then 0 of 0.
  Value first = Poll(21);
  EXPECT_EQ(first.result, 0);
  EXPECT_EQ(first.value + first.cycles, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  for (uint32_t i = 0; i < kPerGpu; ++i) {
    SCOPED_TRACE(mapping[i].name);
    EXPECT_EQ(Name(i), mapping[i].name);
    uint64_t type = 9;
    EXPECT_EQ(CounterApiTable.GetCounterAttribute(i, 2, &type), 0);
    EXPECT_EQ(type, mapping[i].type);
    Value v = Poll(i);
    EXPECT_EQ(v.result, 0);
    EXPECT_EQ(v.value, mapping[i].value);
    EXPECT_EQ(v.cycles, mapping[i].cycles);
  }
  // One metrics sample per round: a second round within 100 ms takes none.
  long samples = Calls("nvmlGpmSampleGet");
  for (uint32_t i = 21; i < kPerGpu; ++i) Poll(i);
  EXPECT_EQ(Calls("nvmlGpmSampleGet"), samples);
}

TEST_F(NvmlLibrary, GpusInBusOrderWithPrefixedNames) {
  ASSERT_EQ(Bind("gpu 0000:b3:00.0\ntemperature 70\n"
                 "gpu 0001:02:00.0\ntemperature 90\n"
                 "gpu 0000:17:00.0\ntemperature 50\n"),
            0);
  uint32_t count = 0;
  ASSERT_EQ(CounterApiTable.GetNumCounters(&count), 0);
  ASSERT_EQ(count, 3 * kPerGpu);
  EXPECT_EQ(Name(0), "gpu0_gpu_busy");
  EXPECT_EQ(Name(3 * kPerGpu - 11), "gpu2_throttle_hw_slowdown");
  const uint64_t expected[] = {50, 70, 90};
  for (uint32_t gpu = 0; gpu < 3; ++gpu) {
    uint32_t index = gpu * kPerGpu + 13;
    EXPECT_EQ(Name(index), "gpu" + std::to_string(gpu) + "_temperature_c");
    ASSERT_EQ(CounterApiTable.AddCounter(index), 0);
    EXPECT_EQ(Poll(index).value, expected[gpu]);
  }
}

// A poll makes at most one NVML reading; counters fed by one call share
// it; PCIe throughput is read at most once a second.
TEST_F(NvmlLibrary, OneReadingPerPollAndPcieOnceASecond) {
  ASSERT_EQ(Bind(std::string(kFullGpu) + "gpu 0000:02:00.0\npcie_tx 5\n"), 0);
  for (uint32_t i = 0; i < 2 * kPerGpu; ++i) CounterApiTable.AddCounter(i);
  long before = ReadingCalls();
  long pcie = Calls("nvmlDeviceGetPcieThroughput");
  for (uint32_t i = 0; i < 2 * kPerGpu; ++i) {
    long start = ReadingCalls();
    Poll(i);
    EXPECT_LE(ReadingCalls() - start, 1) << i;
  }
  EXPECT_LE(ReadingCalls() - before, 2 * kPerGpu);
  EXPECT_EQ(Calls("nvmlDeviceGetPcieThroughput"), pcie);  // read by AddCounter just now

  // Utilization feeds two counters: one call after one Sample.
  long utilization = Calls("nvmlDeviceGetUtilizationRates");
  uint32_t count = 0;
  uint64_t value, cycles;
  CounterApiTable.Sample(nullptr, &count);
  CounterApiTable.GetCounterValue(0, 0, &value, &cycles);
  CounterApiTable.GetCounterValue(1, 0, &value, &cycles);
  EXPECT_EQ(Calls("nvmlDeviceGetUtilizationRates") - utilization, 1);

  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Poll(16);
  Poll(16);
  EXPECT_EQ(Calls("nvmlDeviceGetPcieThroughput") - pcie, 1);
}

struct Refusal {
  const char* script;
  uint32_t counter;
  int32_t code;
};

// AddCounter refuses what this GPU cannot read, with NVML's code.
const Refusal kRefusals[] = {
    {"gpu 0000:01:00.0\nfail nvmlDeviceGetFanSpeed 3\n", 4, 3},
    {"gpu 0000:01:00.0\nfail nvmlDeviceGetUtilizationRates 3\n", 1, 3},  // MIG mode
    {"gpu 0000:01:00.0\nfail * 4\n", 13, 4},
    {"gpu 0000:01:00.0\n", 21, 3},                                       // no metrics
    {"gpu 0000:01:00.0\nfail nvmlDeviceGetEnforcedPowerLimit 3\n", 6, 3},
    {"gpu 0000:01:00.0\nfail nvmlDeviceGetPciInfo_v3 15\n", 0, 15},
};

TEST_F(NvmlLibrary, AddCounterRefusesWithNvmlsCode) {
  for (const Refusal& refusal : kRefusals) {
    SCOPED_TRACE(refusal.script);
    ASSERT_EQ(Bind(refusal.script), 0);
    EXPECT_EQ(CounterApiTable.AddCounter(refusal.counter), refusal.code);
    EXPECT_EQ(CounterApiTable.AddCounter(kPerGpu), 2);  // no such counter
    Value v{};
    EXPECT_EQ(CounterApiTable.GetCounterValue(refusal.counter, 0, &v.value, &v.cycles),
              refusal.code);
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
  EXPECT_EQ(other.result, 0);
  EXPECT_EQ(other.value, 41u);
}

TEST_F(NvmlLibrary, InitTwiceKeepsOneInitialisationAndTheCounters) {
  ASSERT_EQ(Bind(kFullGpu), 0);
  ASSERT_EQ(CounterApiTable.AddCounter(13), 0);
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(Calls("nvmlInit_v2"), 1);
  EXPECT_EQ(Poll(13).value, 55u);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_EQ(Calls("nvmlShutdown"), 1);
  EXPECT_EQ(CounterApiTable.Sample(nullptr, nullptr), 1);  // uninitialised
}

}  // namespace
