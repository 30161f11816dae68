// The counters this library offers, for every GPU: one row each in
// kCounters, and the NVML calls that feed them, one row each in the feed
// table (counters.cpp). Counter index = position in kCounters * number of
// GPUs + GPU, so that a counter added at the end of the table moves no index
// a configuration already holds.
#pragma once

#include <cstdint>
#include <iterator>

#include "nvml_abi.h"

namespace nvpm {

// NVML's functions as resolved from the driver's library: null where the
// driver lacks one.
struct Nvml {
  void* library = nullptr;
#define KESTREL_NVML_MEMBER(name, params) nvml::Return(NVML_CALL* name) params = nullptr;
  KESTREL_NVML_FUNCTIONS(KESTREL_NVML_MEMBER)
#undef KESTREL_NVML_MEMBER
};

// What NVML filled in, per GPU: each feed's call writes its own fields.
struct Readings {
  nvml::Utilization utilization{};
  unsigned encoder = 0;
  unsigned decoder = 0;
  unsigned fan = 0;
  nvml::Memory memory{};
  unsigned powerMw = 0;
  unsigned powerLimitMw = 0;
  unsigned clockMhz[3] = {};  // graphics, SM, memory
  unsigned maxSmClockMhz = 0;
  unsigned temperatureC = 0;
  unsigned pcieKbps[2] = {};  // TX, RX
  unsigned long long throttleReasons = 0;
  unsigned long long energyMj = 0;
  unsigned pcieReplays = 0;
  unsigned long long eccErrors[2] = {};  // corrected, uncorrected
};

// The feeds, by name: each is one NVML call (its row in the feed table says
// which, and what it fills in), but kMetrics, the GPU's performance metrics.
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
  kMaxClockSm,
  kTemperature,
  kPcieTx,
  kPcieRx,
  kThrottle,
  kEnergy,
  kPcieReplay,
  kEccCorrected,
  kEccUncorrected,
  kMetrics,
  kFeedCount,
  kNoFeed = kFeedCount
};

struct FeedCall {
  Feed feed;
  // One NVML call, whatever was read before: the current function where the
  // driver has it, else the one it replaced; kFunctionNotFound with neither.
  nvml::Return (*call)(const Nvml& n, nvml::Device device, Readings& into);
  bool slow;  // read at most once a second per GPU
};

// Indexed by Feed; kMetrics has no call of its own here.
extern const FeedCall kFeedCalls[kFeedCount];

struct Reading {
  uint64_t value = 0;
  uint64_t cycles = 0;
};

enum Type : bool { kPercentage = false, kRaw = true };

struct CounterDefinition {
  const char* name;
  Type type;  // a percentage reads value / cycles * 100
  Feed feed;
  Reading (*from)(const Readings&);  // null for kMetrics
  unsigned metric = 0;               // the GPM metric of a kMetrics counter
  // A feed read once, when the counter is enabled, for a base that would
  // otherwise take a second NVML call per poll.
  Feed base = kNoFeed;
};

// How a row makes its reading of what its feed filled in.
inline constexpr uint64_t kMiB = 1024 * 1024;
constexpr Reading Raw(uint64_t value) { return {value, 1}; }
constexpr Reading Percent(uint64_t value) { return {value, 100}; }
constexpr Reading Share(uint64_t value, uint64_t of) { return {value, of}; }
constexpr Reading AnyOf(unsigned long long reasons, unsigned long long mask) {
  return Raw((reasons & mask) != 0 ? 1 : 0);
}

// New counters go at the end: a position, once given, keeps its meaning.
// KESTREL_READ keeps a row on a line or two: its reading as an expression of
// `r`, the GPU's Readings.
#define KESTREL_READ(expression) [](const Readings& r) { return expression; }
inline constexpr CounterDefinition kCounters[] = {
    {"gpu_busy", kPercentage, kUtilization, KESTREL_READ(Percent(r.utilization.gpu))},
    {"memory_busy", kPercentage, kUtilization, KESTREL_READ(Percent(r.utilization.memory))},
    {"encoder_busy", kPercentage, kEncoder, KESTREL_READ(Percent(r.encoder))},
    {"decoder_busy", kPercentage, kDecoder, KESTREL_READ(Percent(r.decoder))},
    {"fan_speed", kPercentage, kFan, KESTREL_READ(Percent(r.fan))},
    {"memory_used", kPercentage, kMemory, KESTREL_READ(Share(r.memory.used, r.memory.total))},
    {"power_of_limit", kPercentage, kPower, KESTREL_READ(Share(r.powerMw, r.powerLimitMw)), 0,
     kPowerLimit},
    {"sm_clock_of_max", kPercentage, kClockSm,
     KESTREL_READ(Share(r.clockMhz[nvml::kClockSm], r.maxSmClockMhz)), 0, kMaxClockSm},
    {"graphics_clock_mhz", kRaw, kClockGraphics,
     KESTREL_READ(Raw(r.clockMhz[nvml::kClockGraphics]))},
    {"sm_clock_mhz", kRaw, kClockSm, KESTREL_READ(Raw(r.clockMhz[nvml::kClockSm]))},
    {"memory_clock_mhz", kRaw, kClockMem, KESTREL_READ(Raw(r.clockMhz[nvml::kClockMem]))},
    {"power_mw", kRaw, kPower, KESTREL_READ(Raw(r.powerMw))},
    {"power_limit_mw", kRaw, kPowerLimit, KESTREL_READ(Raw(r.powerLimitMw))},
    {"temperature_c", kRaw, kTemperature, KESTREL_READ(Raw(r.temperatureC))},
    {"memory_used_mib", kRaw, kMemory, KESTREL_READ(Raw(r.memory.used / kMiB))},
    {"memory_total_mib", kRaw, kMemory, KESTREL_READ(Raw(r.memory.total / kMiB))},
    {"pcie_tx_kbps", kRaw, kPcieTx, KESTREL_READ(Raw(r.pcieKbps[nvml::kPcieTx]))},
    {"pcie_rx_kbps", kRaw, kPcieRx, KESTREL_READ(Raw(r.pcieKbps[nvml::kPcieRx]))},
    {"throttle_power", kRaw, kThrottle,
     KESTREL_READ(AnyOf(r.throttleReasons,
                        nvml::kThrottleSwPowerCap | nvml::kThrottleHwPowerBrake))},
    {"throttle_thermal", kRaw, kThrottle,
     KESTREL_READ(AnyOf(r.throttleReasons, nvml::kThrottleSwThermal | nvml::kThrottleHwThermal))},
    {"throttle_hw_slowdown", kRaw, kThrottle,
     KESTREL_READ(AnyOf(r.throttleReasons, nvml::kThrottleHwSlowdown))},
    {"graphics_activity", kPercentage, kMetrics, nullptr, nvml::kGpmGraphicsUtil},
    {"sm_activity", kPercentage, kMetrics, nullptr, nvml::kGpmSmUtil},
    {"sm_occupancy", kPercentage, kMetrics, nullptr, nvml::kGpmSmOccupancy},
    {"tensor_activity", kPercentage, kMetrics, nullptr, nvml::kGpmAnyTensorUtil},
    {"fp64_activity", kPercentage, kMetrics, nullptr, nvml::kGpmFp64Util},
    {"fp32_activity", kPercentage, kMetrics, nullptr, nvml::kGpmFp32Util},
    {"fp16_activity", kPercentage, kMetrics, nullptr, nvml::kGpmFp16Util},
    {"dram_bandwidth", kPercentage, kMetrics, nullptr, nvml::kGpmDramBwUtil},
    {"nvlink_rx_mibps", kRaw, kMetrics, nullptr, nvml::kGpmNvlinkTotalRxPerSec},
    {"nvlink_tx_mibps", kRaw, kMetrics, nullptr, nvml::kGpmNvlinkTotalTxPerSec},
    {"energy_mj", kRaw, kEnergy, KESTREL_READ(Raw(r.energyMj))},
    {"pcie_replay_count", kRaw, kPcieReplay, KESTREL_READ(Raw(r.pcieReplays))},
    {"ecc_corrected_count", kRaw, kEccCorrected,
     KESTREL_READ(Raw(r.eccErrors[nvml::kEccCorrected]))},
    {"ecc_uncorrected_count", kRaw, kEccUncorrected,
     KESTREL_READ(Raw(r.eccErrors[nvml::kEccUncorrected]))},
};
#undef KESTREL_READ

inline constexpr uint32_t kCountersPerGpu = std::size(kCounters);

constexpr bool SameName(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

// The position of the counter named `name` in kCounters, or kCountersPerGpu.
constexpr uint32_t PositionNamed(const char* name) {
  for (uint32_t i = 0; i < kCountersPerGpu; ++i)
    if (SameName(kCounters[i].name, name)) return i;
  return kCountersPerGpu;
}

// Every metric row names its metric, no other row does, and no two rows
// share a name. (That a row reads its feed's reading, `from`, the library
// test shows by polling every counter: the sanitizer builds cannot compare
// a function's address at compile time.)
constexpr bool EveryRowSound() {
  for (uint32_t i = 0; i < kCountersPerGpu; ++i) {
    const CounterDefinition& c = kCounters[i];
    if ((c.feed == kMetrics) != (c.metric != 0) || c.base == kMetrics ||
        PositionNamed(c.name) != i)
      return false;
  }
  return true;
}
static_assert(EveryRowSound());

// The value and cycles of a metric counter whose metric read `value`.
Reading FromMetric(const CounterDefinition& definition, double value);

}  // namespace nvpm
