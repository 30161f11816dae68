// The counters this library offers, each fed by one NVML reading, for every
// GPU. They are numbered counter by counter: counter index = position in
// kCounters * number of GPUs + GPU, so that a counter added at the end of the
// table moves no index a configuration already holds.
#pragma once

#include <cstdint>

#include "nvml_abi.h"

namespace nvpm {

// What feeds a counter: one NVML call (the clocks and PCIe directions one
// call each), or the GPU's performance metrics.
enum Feed : uint8_t {
  kUtilization,
  kEncoder,
  kDecoder,
  kFan,
  kMemory,
  kPower,
  kPowerLimit,
  kClockGraphics,
  kClockSm,
  kClockMem,
  kTemperature,
  kPcieTx,
  kPcieRx,
  kThrottle,
  kEnergy,
  kPcieReplay,
  kEccCorrected,
  kEccUncorrected,
  kMetrics,
  kFeedCount
};

// One of the readings kept per GPU, as NVML filled it in.
struct Readings {
  nvml::Utilization utilization{};
  unsigned encoder = 0;
  unsigned decoder = 0;
  unsigned fan = 0;
  nvml::Memory memory{};
  unsigned powerMw = 0;
  unsigned powerLimitMw = 0;  // also the base of power_of_limit
  unsigned clockMhz[3] = {};  // graphics, SM, memory
  unsigned maxSmClockMhz = 0;
  unsigned temperatureC = 0;
  unsigned pcieKbps[2] = {};  // TX, RX
  unsigned long long throttleReasons = 0;
  unsigned long long energyMj = 0;
  unsigned pcieReplays = 0;
  unsigned long long eccErrors[2] = {};  // corrected, uncorrected
};

struct CounterDefinition {
  const char* name;
  bool raw;      // false: a percentage, value / cycles * 100
  Feed feed;
  unsigned metric;  // the GPM metric of a kMetrics counter
};

// New counters go at the end: a position, once given, keeps its meaning.
inline constexpr uint32_t kCountersPerGpu = 35;
extern const CounterDefinition kCounters[kCountersPerGpu];

// The two ratios whose base takes an NVML call of its own: it is read once,
// when the counter is enabled, so that a poll still makes one call.
inline constexpr uint32_t kPowerOfLimit = 6;  // power / enforced limit
inline constexpr uint32_t kSmClockOfMax = 7;  // SM clock / its maximum

struct Reading {
  uint64_t value = 0;
  uint64_t cycles = 0;
};

// The value and cycles of the counter at `position` in kCounters from the GPU's
// readings (for every feed but kMetrics).
Reading FromReadings(uint32_t position, const Readings& readings);

// The value and cycles of a metric counter whose metric read `value`.
Reading FromMetric(const CounterDefinition& definition, double value);

}  // namespace nvpm
