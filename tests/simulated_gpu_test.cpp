// The simulated GPU, bound through the loader's search path as the README's
// first run binds it: its readings tell one story, sample after sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "counter_api.h"

namespace {

TEST(SimulatedGpu, ReadingsTellOneStory) {
  ASSERT_EQ(BindCounterApi(), 0);
  uint32_t count = 0;
  ASSERT_EQ(CounterApiTable.GetNumCounters(&count), 0);
  std::vector<std::string> names(count);
  std::vector<bool> raw(count);
  for (uint32_t i = 0; i < count; ++i) {
    char name[64] = {};
    uint32_t length = sizeof name;
    uint64_t type = 0;
    ASSERT_EQ(CounterApiTable.GetCounterName(i, name, &length), 0);
    ASSERT_EQ(CounterApiTable.GetCounterAttribute(i, 2, &type), 0);
    ASSERT_EQ(CounterApiTable.AddCounter(i), 0);
    names[i] = name;
    raw[i] = type != 0;
  }
  const auto busy = std::ranges::find(names, "gpu_busy") - names.begin();
  const auto idle = std::ranges::find(names, "gpu_idle") - names.begin();
  ASSERT_LT(busy, count);
  ASSERT_LT(idle, count);
  std::vector<double> perBusyCycle(count);  // each count against the load, as first sampled
  for (int sample = 0; sample < 4; ++sample) {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    ASSERT_EQ(CounterApiTable.Sample(nullptr, nullptr), 0);
    std::vector<uint64_t> values(count), cycles(count);
    for (uint32_t i = 0; i < count; ++i)
      ASSERT_EQ(CounterApiTable.GetCounterValue(i, 0, &values[i], &cycles[i]), 0);
    EXPECT_EQ(values[busy] + values[idle], cycles[busy]);
    ASSERT_GT(values[busy], 0u);
    for (uint32_t i = 0; i < count; ++i) {
      const std::string& name = names[i];
      SCOPED_TRACE(name);
      if (name.ends_with("_busy") || name.find("_waits_for_") != std::string::npos) {
        EXPECT_LE(values[i], values[busy]);
      }
      if (name.ends_with("_count") || name.ends_with("_bytes") || name.starts_with("inst_")) {
        ASSERT_TRUE(raw[i]);
        double ratio = static_cast<double>(values[i]) / static_cast<double>(values[busy]);
        if (sample == 0) perBusyCycle[i] = ratio;
        EXPECT_NEAR(ratio, perBusyCycle[i], perBusyCycle[i] * 1e-3);
      }
    }
  }
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
}

}  // namespace
