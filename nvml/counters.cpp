#include "counters.h"

#include <cmath>

namespace nvpm {

const CounterDefinition kCounters[kCountersPerGpu] = {
    {"gpu_busy", false, kUtilization, 0},
    {"memory_busy", false, kUtilization, 0},
    {"encoder_busy", false, kEncoder, 0},
    {"decoder_busy", false, kDecoder, 0},
    {"fan_speed", false, kFan, 0},
    {"memory_used", false, kMemory, 0},
    {"power_of_limit", false, kPower, 0},
    {"sm_clock_of_max", false, kClockSm, 0},
    {"graphics_clock_mhz", true, kClockGraphics, 0},
    {"sm_clock_mhz", true, kClockSm, 0},
    {"memory_clock_mhz", true, kClockMem, 0},
    {"power_mw", true, kPower, 0},
    {"power_limit_mw", true, kPowerLimit, 0},
    {"temperature_c", true, kTemperature, 0},
    {"memory_used_mib", true, kMemory, 0},
    {"memory_total_mib", true, kMemory, 0},
    {"pcie_tx_kbps", true, kPcieTx, 0},
    {"pcie_rx_kbps", true, kPcieRx, 0},
    {"throttle_power", true, kThrottle, 0},
    {"throttle_thermal", true, kThrottle, 0},
    {"throttle_hw_slowdown", true, kThrottle, 0},
    {"graphics_activity", false, kMetrics, nvml::kGpmGraphicsUtil},
    {"sm_activity", false, kMetrics, nvml::kGpmSmUtil},
    {"sm_occupancy", false, kMetrics, nvml::kGpmSmOccupancy},
    {"tensor_activity", false, kMetrics, nvml::kGpmAnyTensorUtil},
    {"fp64_activity", false, kMetrics, nvml::kGpmFp64Util},
    {"fp32_activity", false, kMetrics, nvml::kGpmFp32Util},
    {"fp16_activity", false, kMetrics, nvml::kGpmFp16Util},
    {"dram_bandwidth", false, kMetrics, nvml::kGpmDramBwUtil},
    {"nvlink_rx_mibps", true, kMetrics, nvml::kGpmNvlinkTotalRxPerSec},
    {"nvlink_tx_mibps", true, kMetrics, nvml::kGpmNvlinkTotalTxPerSec},
    {"energy_mj", true, kEnergy, 0},
    {"pcie_replay_count", true, kPcieReplay, 0},
    {"ecc_corrected_count", true, kEccCorrected, 0},
    {"ecc_uncorrected_count", true, kEccUncorrected, 0},
};

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kPercent = 100;
// A metric percentage keeps two decimals.
constexpr double kMetricScale = 100.0;
constexpr uint64_t kMetricCycles = 10000;

Reading Raw(uint64_t value) { return {value, 1}; }
Reading Share(uint64_t value, uint64_t of) { return {value, of}; }
uint64_t Flag(bool set) { return set ? 1 : 0; }

}  // namespace

Reading FromReadings(uint32_t position, const Readings& r) {
  const unsigned long long throttle = r.throttleReasons;
  switch (position) {
    case 0: return Share(r.utilization.gpu, kPercent);
    case 1: return Share(r.utilization.memory, kPercent);
    case 2: return Share(r.encoder, kPercent);
    case 3: return Share(r.decoder, kPercent);
    case 4: return Share(r.fan, kPercent);
    case 5: return Share(r.memory.used, r.memory.total);
    case kPowerOfLimit: return Share(r.powerMw, r.powerLimitMw);
    case kSmClockOfMax: return Share(r.clockMhz[nvml::kClockSm], r.maxSmClockMhz);
    case 8: return Raw(r.clockMhz[nvml::kClockGraphics]);
    case 9: return Raw(r.clockMhz[nvml::kClockSm]);
    case 10: return Raw(r.clockMhz[nvml::kClockMem]);
    case 11: return Raw(r.powerMw);
    case 12: return Raw(r.powerLimitMw);
    case 13: return Raw(r.temperatureC);
    case 14: return Raw(r.memory.used / kMiB);
    case 15: return Raw(r.memory.total / kMiB);
    case 16: return Raw(r.pcieKbps[nvml::kPcieTx]);
    case 17: return Raw(r.pcieKbps[nvml::kPcieRx]);
    case 18:
      return Raw(Flag(throttle & (nvml::kThrottleSwPowerCap | nvml::kThrottleHwPowerBrake)));
    case 19:
      return Raw(Flag(throttle & (nvml::kThrottleSwThermal | nvml::kThrottleHwThermal)));
    case 20: return Raw(Flag(throttle & nvml::kThrottleHwSlowdown));
    case 31: return Raw(r.energyMj);
    case 32: return Raw(r.pcieReplays);
    case 33: return Raw(r.eccErrors[nvml::kEccCorrected]);
    case 34: return Raw(r.eccErrors[nvml::kEccUncorrected]);
    default: return {};
  }
}

Reading FromMetric(const CounterDefinition& definition, double value) {
  // NaN, negative or absurd figures read as 0 rather than as a wrapped count.
  if (!(value > 0.0) || value > 1e15) return definition.raw ? Raw(0) : Reading{0, kMetricCycles};
  if (definition.raw) return Raw(static_cast<uint64_t>(std::llround(value)));
  return {static_cast<uint64_t>(std::llround(value * kMetricScale)), kMetricCycles};
}

}  // namespace nvpm
