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

#include "counter_api.h"
#include "counters.h"
#include "platform.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

using nvpm::PositionNamed;
constexpr uint32_t kPerGpu = nvpm::kCountersPerGpu;

const fs::path kData = KESTREL_NVML_LIBRARY_DATA;
// One GPU with a reading for every counter: the fake NVML's script.
const std::string kFullGpu = ReadFile(kData / "full-gpu");

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

std::string NameOf(uint32_t index) {
  char name[64] = {};
  uint32_t length = sizeof name;
  EXPECT_EQ(CounterApiTable.GetCounterName(index, name, &length), 0);
  return name;
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
  std::string table, rows;
  for (const std::string& line : SplitLines(ReadFile(kData / "counters")))
    if (!line.starts_with("#")) rows += line + "\n";
  for (uint32_t i = 0; i < kPerGpu; ++i) {
    const Value v = Poll(i);
    table += NameOf(i) + " " + std::to_string(v.type) + " " + std::to_string(v.value) + " " +
             std::to_string(v.cycles) + (v.result ? " failed " + std::to_string(v.result) : "") +
             "\n";
  }
  EXPECT_EQ(table, rows);  // a row for every counter, in order
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
  // Every NVML call the rounds make is logged.
  setenv("KESTREL_NVML_CALLS", (dir_ / "calls").c_str(), 1);
  constexpr long kRounds = 20;
  for (long round = 0; round < kRounds; ++round) {
    ASSERT_EQ(CounterApiTable.Sample(nullptr, nullptr), 0);
    uint64_t value, cycles;
    for (uint32_t i = 0; i < 2 * kPerGpu; ++i)
      CounterApiTable.GetCounterValue(i % kPerGpu, 0, &value, &cycles);
  }
  unsetenv("KESTREL_NVML_CALLS");
  std::map<std::string, long> calls;
  for (const std::string& call : SplitLines(ReadFile(dir_ / "calls")))
    ++calls[call.substr(0, call.find(' '))];
  std::string perRound;
  for (const auto& [function, count] : calls)
    if (!function.starts_with("nvmlGpm"))  // metrics samples go by time, not by round
        perRound += function + " " + std::to_string(count / kRounds) +
                  (count % kRounds ? " and " + std::to_string(count % kRounds) : "") + "\n";
  EXPECT_EQ(perRound, ReadFile(kData / "calls-per-round"));
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
  const std::string expected = ReadFile(kData / "readings");
  const auto answers = [this](const std::string& readings, const std::string& written) {
    SCOPED_TRACE(readings);
    const int32_t bound = Bind("gpu 0000:01:00.0\n" + readings + "\n");
    if (bound != 0) return "Init=" + std::to_string(bound);
    std::string shown;
    std::istringstream counters(written);
    for (std::string name; std::getline(counters, name, '=');) {
      const uint32_t counter = PositionNamed(name.c_str());
      const int32_t added = CounterApiTable.AddCounter(counter);
      const Value v = Poll(counter);
      EXPECT_EQ(v.result, added);
      shown += (shown.empty() ? "" : " ") + name + "=" +
               (added ? "!" + std::to_string(added) : std::to_string(v.value));
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
      EXPECT_EQ(NameOf(index), expected) << index;
      if (expected.ends_with("temperature_c")) {
        ASSERT_EQ(CounterApiTable.AddCounter(index), 0);
        EXPECT_EQ(Poll(index).value, 40u + gpu) << index;
      }
    }
    EXPECT_EQ(CounterApiTable.Shutdown(), 0);
  }
}

// Each line of driver-functions for the driver the fake NVML plays.
TEST(DriverFunctions, NewerFirstThenOlderElseRefused) {
  const std::string driver = std::getenv("KESTREL_NVML_DRIVER");
  const std::string table = ReadFile(kData / "driver-functions");
  ScratchDir dir;
  ASSERT_EQ(Bind(dir, kFullGpu), 0);
  int played = 0;  // lines of this driver: a driver the table lacks must fail
  const auto answers = [&](const std::string& input, const std::string& written) {
    std::istringstream words(input);
    std::string on, name, newer, older;
    words >> on >> name >> newer >> older;
    if (on != driver) return written;
    ++played;
    const uint32_t counter = PositionNamed(name.c_str());
    uint64_t value = 0, cycles = 0;
    std::string shown = std::to_string(CounterApiTable.AddCounter(counter)) + " ";
    CounterApiTable.Sample(nullptr, nullptr);
    shown += std::to_string(CounterApiTable.GetCounterValue(counter, 0, &value, &cycles));
    shown += " " + std::to_string(value);
    for (const std::string& function : {newer, older})
      if (Calls("nvmlDeviceGet" + function) > 0) shown += " " + function;
    return shown;
  };
  EXPECT_EQ(WorkedOut(table, answers), table);
  EXPECT_EQ(played, 3) << "driver-functions has no lines for " << driver;
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
}

}  // namespace
