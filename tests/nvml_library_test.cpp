// The counter library over NVML, bound by the real binder through the
// loader's search path, with the fake NVML behind it (both found through
// LD_LIBRARY_PATH). Each test runs in a process of its own; DriverFunctions
// runs once for each driver the fake plays (KESTREL_NVML_DRIVER).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "counter_api.h"
#include "counters.h"
#include "platform.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::string_literals;

namespace {

using nvpm::PositionNamed;
constexpr uint32_t kPerGpu = nvpm::kCountersPerGpu;

// One GPU with a reading for every counter: the fake NVML's script.
const std::string kFullGpu = ReadFile(fs::path(KESTREL_NVML_LIBRARY_DATA) / "full-gpu");

int32_t Bind(const ScratchDir& dir, const std::string& script) {
  WriteFile(dir / "script", script);
  setenv("KESTREL_NVML_SCRIPT", (dir / "script").c_str(), 1);
  return BindCounterApi();
}

// How often the fake NVML was called: a function, or "reading" for every
// call that reads the GPU, as opposed to setting up.
long Calls(const std::string& function) {
  void* fake = platform::LoadLibraryByName("libnvidia-ml.so.1");
  using Count = long (*)(const char*);
  return reinterpret_cast<Count>(platform::FindExport(fake, "FakeNvmlCalls"))(function.c_str());
}

class NvmlLibrary : public testing::Test {
 protected:
  // As the programs do at exit: the library gives back what NVML lent it.
  void TearDown() override { CounterApiTable.Shutdown(); }
  int32_t Bind(const std::string& script) { return ::Bind(dir_, script); }

  struct Value { int32_t result; uint64_t value, cycles, type; };
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

// Every counter of a GPU as its reading in full-gpu makes it: the table in
// counters, row for row; they stay enabled through a second Init.
TEST_F(NvmlLibrary, EveryCounterMapsItsReadingAndInitTwiceKeepsThem) {
  ASSERT_EQ(Bind(kFullGpu), 0);
  for (uint32_t i = 0; i < kPerGpu; ++i) ASSERT_EQ(CounterApiTable.AddCounter(i), 0) << i;
  // The metrics need two samples more than 100 ms apart (until then they
  // read 0 of 0, as nvml/metrics-need-two-samples shows).
  Poll(PositionNamed("graphics_activity"));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const std::string expected = ReadFile(fs::path(KESTREL_NVML_LIBRARY_DATA) / "counters");
  std::string table, rows;
  uint32_t index = 0;
  for (const std::string& line : SplitLines(expected)) {
    if (line.starts_with("#")) continue;
    rows += line + "\n";
    char name[64] = {};
    uint32_t length = sizeof name;
    EXPECT_EQ(CounterApiTable.GetCounterName(index, name, &length), 0);
    Value v = Poll(index++);
    table += std::string(name) + " " + std::to_string(v.type) + " " + std::to_string(v.value) +
             " " + std::to_string(v.cycles) +
             (v.result ? " failed " + std::to_string(v.result) : "") + "\n";
  }
  EXPECT_EQ(table, rows);
  EXPECT_EQ(index, kPerGpu);  // a row for every counter
  // One metrics sample per round: a second round within 100 ms takes none.
  long samples = Calls("nvmlGpmSampleGet");
  for (uint32_t i = 0; i < kPerGpu; ++i)
    if (nvpm::kCounters[i].feed == nvpm::kMetrics) Poll(i);
  EXPECT_EQ(Calls("nvmlGpmSampleGet"), samples);
  // Init again keeps the one initialisation and the enabled counters;
  // Shutdown gives it back.
  ASSERT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(Calls("nvmlInit_v2"), 1);
  EXPECT_EQ(Poll(PositionNamed("temperature_c")).value, 55u);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  EXPECT_EQ(Calls("nvmlShutdown"), 1);
  EXPECT_EQ(CounterApiTable.Sample(nullptr, nullptr), 1);  // uninitialised
}

// Polled fast: one NVML call per feed per Sample round however many of its
// counters are read, PCIe once a second, the ratios' bases only when enabled.
TEST_F(NvmlLibrary, OneCallPerFeedPerRoundPcieOnceASecondBasesOnce) {
  // After full-gpu's limit and maximum clock, NVML answers others.
  ASSERT_EQ(Bind(kFullGpu + "power_limit 400000\nmax_clock_sm 1000\n"), 0);
  for (uint32_t i = 0; i < kPerGpu; ++i)  // all but power_limit_mw, which reads the limit anew
    ASSERT_EQ(CounterApiTable.AddCounter(i == PositionNamed("power_limit_mw") ? 0 : i), 0) << i;
  // NVML calls per round, by function ("nvmlDeviceGet" left out).
  const std::map<std::string, long> perRound = {
      {"UtilizationRates", 1}, {"EncoderUtilization", 1}, {"DecoderUtilization", 1},
      {"FanSpeed", 1}, {"MemoryInfo_v2", 1}, {"PowerUsage", 1}, {"EnforcedPowerLimit", 0},
      {"ClockInfo", 3}, {"MaxClockInfo", 0}, {"TemperatureV", 1}, {"PcieThroughput", 0},
      {"CurrentClocksEventReasons", 1}, {"TotalEnergyConsumption", 1},
      {"PcieReplayCounter", 1}, {"TotalEccErrors", 2}};
  auto calls = [](const std::string& function) { return Calls("nvmlDeviceGet" + function); };
  std::map<std::string, long> before;
  for (const auto& [function, count] : perRound) before[function] = calls(function);
  constexpr long kRounds = 20;
  for (long round = 0; round < kRounds; ++round) {
    ASSERT_EQ(CounterApiTable.Sample(nullptr, nullptr), 0);
    uint64_t value, cycles;
    for (uint32_t i = 0; i < 2 * kPerGpu; ++i)
      CounterApiTable.GetCounterValue(i % kPerGpu, 0, &value, &cycles);
  }
  for (const auto& [function, count] : perRound)
    EXPECT_EQ(calls(function) - before[function], kRounds * count) << function;
  // The bases as read when enabled, though NVML would now answer otherwise.
  EXPECT_EQ(Poll(PositionNamed("power_of_limit")).cycles, 200000u);
  EXPECT_EQ(Poll(PositionNamed("sm_clock_of_max")).cycles, 2000u);
  // A poll makes one NVML call at most; a second on, each PCIe direction
  // is read again, once.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  const long pcie = Calls("nvmlDeviceGetPcieThroughput");
  for (uint32_t i = 0; i < 2 * kPerGpu; ++i) {
    const long start = Calls("reading");
    Poll(i % kPerGpu);
    EXPECT_LE(Calls("reading") - start, 1) << i;
  }
  EXPECT_EQ(Calls("nvmlDeviceGetPcieThroughput") - pcie, 2);
}

// Each line of readings: what binding, or the counters it feeds, answer.
TEST_F(NvmlLibrary, EachReadingFeedsExactlyItsCountersOrRefusesThem) {
  const std::string expected = ReadFile(fs::path(KESTREL_NVML_LIBRARY_DATA) / "readings");
  const auto answers = [this](const std::string& readings, const std::string& written) {
    SCOPED_TRACE(readings);
    const int32_t bound = Bind("gpu 0000:01:00.0\n" + readings + "\n");
    if (bound != 0) return "Init=" + std::to_string(bound);
    std::string shown;
    std::istringstream counters(written);
    for (std::string name; std::getline(counters, name, '=');) {
      const uint32_t counter = PositionNamed(name.c_str());
      const int32_t added = CounterApiTable.AddCounter(counter);
      shown += (shown.empty() ? "" : " ") + name + "=";
      if (added) {
        uint64_t value, cycles;
        EXPECT_EQ(CounterApiTable.GetCounterValue(counter, 0, &value, &cycles), added);
        shown += "!" + std::to_string(added);
      } else {
        shown += std::to_string(Poll(counter).value);
      }
      counters.ignore(1 << 20, ' ');
    }
    EXPECT_EQ(CounterApiTable.AddCounter(kPerGpu), 2);  // no such counter
    CounterApiTable.Shutdown();
    return shown;
  };
  EXPECT_EQ(WorkedOut(expected, answers), expected);
}

TEST_F(NvmlLibrary, LostGpuFailsAloneWith15) {
  ASSERT_EQ(
      Bind("gpu 0000:01:00.0\ntemperature 40\nfail * 15 2\ngpu 0000:02:00.0\ntemperature 41\n"), 0);
  const uint32_t first = PositionNamed("temperature_c") * 2, second = first + 1;
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
// one-GPU table (counters, checked above), and each index reads its own GPU.
TEST_F(NvmlLibrary, CounterMajorOrderForOneTwoAndThreeGpus) {
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
      std::string expected = nvpm::kCounters[index / gpus].name;
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

// The function that replaced a deprecated one is called where the driver
// has it, the older one where it has only that; with neither the counter is
// refused with 13. Memory used differs: the older call counts the reserve.
TEST(DriverFunctions, NewerFirstThenOlderElseRefused) {
  const std::string driver = std::getenv("KESTREL_NVML_DRIVER");
  const bool hasNew = driver == "both" || driver == "new",
             hasOld = driver == "both" || driver == "old";
  const int32_t refusal = hasNew || hasOld ? 0 : nvml::kFunctionNotFound;
  const std::tuple<const char*, const char*, const char*, uint64_t, uint64_t> pairs[] = {
      {"throttle_thermal", "CurrentClocksEventReasons", "CurrentClocksThrottleReasons", 1, 1},
      {"temperature_c", "TemperatureV", "Temperature", 55, 55},
      {"memory_used_mib", "MemoryInfo_v2", "MemoryInfo", 2048, 2560}};
  ScratchDir dir;
  ASSERT_EQ(Bind(dir, kFullGpu), 0);
  for (const auto& [name, newer, older, newValue, oldValue] : pairs) {
    SCOPED_TRACE(name);
    const uint32_t counter = PositionNamed(name);
    uint64_t value = 0, cycles = 0;
    ASSERT_EQ(CounterApiTable.AddCounter(counter), refusal);
    CounterApiTable.Sample(nullptr, nullptr);
    ASSERT_EQ(CounterApiTable.GetCounterValue(counter, 0, &value, &cycles), refusal);
    EXPECT_EQ(value, refusal != 0 ? 0 : hasNew ? newValue : oldValue);
    EXPECT_EQ(Calls("nvmlDeviceGet"s + newer) > 0, hasNew);
    EXPECT_EQ(Calls("nvmlDeviceGet"s + older) > 0, hasOld && !hasNew);
  }
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
}

}  // namespace
