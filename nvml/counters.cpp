// The feed table: each NVML call that feeds counters, with the older
// function it falls back on, and the readings it fills in.
#include "counters.h"

#include <cmath>

namespace nvpm {
namespace {

using nvml::Device;
using nvml::Return;
constexpr Return kMissing = nvml::kFunctionNotFound;

Return Utilization(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetUtilizationRates ? n.nvmlDeviceGetUtilizationRates(d, &r.utilization)
                                         : kMissing;
}

Return Encoder(const Nvml& n, Device d, Readings& r) {
  unsigned ignoredPeriod = 0;
  return n.nvmlDeviceGetEncoderUtilization
             ? n.nvmlDeviceGetEncoderUtilization(d, &r.encoder, &ignoredPeriod)
             : kMissing;
}

Return Decoder(const Nvml& n, Device d, Readings& r) {
  unsigned ignoredPeriod = 0;
  return n.nvmlDeviceGetDecoderUtilization
             ? n.nvmlDeviceGetDecoderUtilization(d, &r.decoder, &ignoredPeriod)
             : kMissing;
}

Return Fan(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetFanSpeed ? n.nvmlDeviceGetFanSpeed(d, &r.fan) : kMissing;
}

// Memory as nvidia-smi shows it (used without the driver's reserve) where
// the driver has the newer call; the older one counts the reserve as used.
Return Memory(const Nvml& n, Device d, Readings& r) {
  if (n.nvmlDeviceGetMemoryInfo_v2) {
    nvml::MemoryV2 v2{};
    v2.version = nvml::kMemoryV2Version;
    Return result = n.nvmlDeviceGetMemoryInfo_v2(d, &v2);
    if (result == 0) r.memory = {v2.total, v2.free, v2.used};
    return result;
  }
  return n.nvmlDeviceGetMemoryInfo ? n.nvmlDeviceGetMemoryInfo(d, &r.memory) : kMissing;
}

Return Power(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetPowerUsage ? n.nvmlDeviceGetPowerUsage(d, &r.powerMw) : kMissing;
}

Return PowerLimit(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetEnforcedPowerLimit ? n.nvmlDeviceGetEnforcedPowerLimit(d, &r.powerLimitMw)
                                           : kMissing;
}

template <unsigned kClock>
Return Clock(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetClockInfo ? n.nvmlDeviceGetClockInfo(d, kClock, &r.clockMhz[kClock])
                                  : kMissing;
}

Return MaxClockSm(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetMaxClockInfo
             ? n.nvmlDeviceGetMaxClockInfo(d, nvml::kClockSm, &r.maxSmClockMhz)
             : kMissing;
}

Return Temperature(const Nvml& n, Device d, Readings& r) {
  if (n.nvmlDeviceGetTemperatureV) {
    nvml::Temperature t{};
    t.version = nvml::kTemperatureVersion;
    t.sensorType = static_cast<int>(nvml::kTemperatureGpu);
    Return result = n.nvmlDeviceGetTemperatureV(d, &t);
    // The counter is unsigned: a die below freezing reads 0, not 4 billion.
    if (result == 0) r.temperatureC = t.temperature > 0 ? static_cast<unsigned>(t.temperature) : 0;
    return result;
  }
  return n.nvmlDeviceGetTemperature
             ? n.nvmlDeviceGetTemperature(d, nvml::kTemperatureGpu, &r.temperatureC)
             : kMissing;
}

template <unsigned kDirection>
Return Pcie(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetPcieThroughput
             ? n.nvmlDeviceGetPcieThroughput(d, kDirection, &r.pcieKbps[kDirection])
             : kMissing;
}

Return Throttle(const Nvml& n, Device d, Readings& r) {
  if (n.nvmlDeviceGetCurrentClocksEventReasons)
    return n.nvmlDeviceGetCurrentClocksEventReasons(d, &r.throttleReasons);
  return n.nvmlDeviceGetCurrentClocksThrottleReasons
             ? n.nvmlDeviceGetCurrentClocksThrottleReasons(d, &r.throttleReasons)
             : kMissing;
}

Return Energy(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetTotalEnergyConsumption
             ? n.nvmlDeviceGetTotalEnergyConsumption(d, &r.energyMj)
             : kMissing;
}

Return PcieReplay(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetPcieReplayCounter ? n.nvmlDeviceGetPcieReplayCounter(d, &r.pcieReplays)
                                          : kMissing;
}

template <int kType>
Return Ecc(const Nvml& n, Device d, Readings& r) {
  return n.nvmlDeviceGetTotalEccErrors
             ? n.nvmlDeviceGetTotalEccErrors(d, kType, nvml::kEccVolatile, &r.eccErrors[kType])
             : kMissing;
}

// A percentage metric keeps two decimals.
constexpr double kMetricScale = 100.0;
constexpr uint64_t kMetricCycles = 10000;

}  // namespace

// PCIe throughput is slow to read.
constexpr FeedCall kFeedCalls[kFeedCount] = {
    {kUtilization, Utilization, false},
    {kEncoder, Encoder, false},
    {kDecoder, Decoder, false},
    {kFan, Fan, false},
    {kMemory, Memory, false},
    {kPower, Power, false},
    {kPowerLimit, PowerLimit, false},
    {kClockGraphics, Clock<nvml::kClockGraphics>, false},
    {kClockSm, Clock<nvml::kClockSm>, false},
    {kClockMem, Clock<nvml::kClockMem>, false},
    {kMaxClockSm, MaxClockSm, false},
    {kTemperature, Temperature, false},
    {kPcieTx, Pcie<nvml::kPcieTx>, true},
    {kPcieRx, Pcie<nvml::kPcieRx>, true},
    {kThrottle, Throttle, false},
    {kEnergy, Energy, false},
    {kPcieReplay, PcieReplay, false},
    {kEccCorrected, Ecc<nvml::kEccCorrected>, false},
    {kEccUncorrected, Ecc<nvml::kEccUncorrected>, false},
    {kMetrics, nullptr, false},
};

// A row out of place, or missing, would feed its counters another call's
// reading.
constexpr bool EachFeedInItsPlace() {
  for (unsigned i = 0; i < kFeedCount; ++i)
    if (kFeedCalls[i].feed != i) return false;
  return true;
}
static_assert(EachFeedInItsPlace());

Reading FromMetric(const CounterDefinition& definition, double value) {
  // NaN, negative or absurd figures read as 0 rather than as a wrapped count.
  const bool raw = definition.type == kRaw;
  if (!(value > 0.0) || value > 1e15) return raw ? Raw(0) : Reading{0, kMetricCycles};
  if (raw) return Raw(static_cast<uint64_t>(std::llround(value)));
  return {static_cast<uint64_t>(std::llround(value * kMetricScale)), kMetricCycles};
}

}  // namespace nvpm
