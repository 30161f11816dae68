// The part of NVML's C interface that the counter library uses, declared
// here: result codes, the structures it fills in and the functions it
// resolves by name. Also the fake NVML of the tests implements it.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define NVML_CALL __cdecl
#else
#define NVML_CALL
#endif

namespace nvml {

using Return = int32_t;  // nvmlReturn_t, an enum of int size

inline constexpr Return kSuccess = 0;
inline constexpr Return kUninitialized = 1;
inline constexpr Return kInvalidArgument = 2;
inline constexpr Return kNotSupported = 3;
inline constexpr Return kNoPermission = 4;
inline constexpr Return kNotFound = 6;
inline constexpr Return kDriverNotLoaded = 9;
inline constexpr Return kLibraryNotFound = 12;
inline constexpr Return kFunctionNotFound = 13;
inline constexpr Return kGpuIsLost = 15;
inline constexpr Return kLibRmVersionMismatch = 18;
inline constexpr Return kArgumentVersionMismatch = 25;
inline constexpr Return kUnknown = 999;

using Device = struct DeviceOpaque*;
using GpmSample = struct GpmSampleOpaque*;

struct PciInfo {  // nvmlPciInfo_t, as filled in by nvmlDeviceGetPciInfo_v3
  char busIdLegacy[16];
  unsigned domain;
  unsigned bus;
  unsigned device;
  unsigned pciDeviceId;
  unsigned pciSubSystemId;
  char busId[32];
};

struct Utilization {  // nvmlUtilization_t
  unsigned gpu;
  unsigned memory;
};

struct Memory {  // nvmlMemory_t, bytes; used includes the driver's reserve
  unsigned long long total;
  unsigned long long free;
  unsigned long long used;
};

// A versioned struct carries its size and version in its first field.
constexpr unsigned StructVersion(unsigned size, unsigned version) { return size | version << 24; }

struct MemoryV2 {  // nvmlMemory_v2_t, bytes; used leaves the reserve out
  unsigned version;  // kMemoryV2Version
  unsigned long long total;
  unsigned long long reserved;
  unsigned long long free;
  unsigned long long used;
};
inline constexpr unsigned kMemoryV2Version = StructVersion(sizeof(MemoryV2), 2);

struct Temperature {  // nvmlTemperature_t
  unsigned version;  // kTemperatureVersion
  int sensorType;
  int temperature;  // degrees Celsius
};
inline constexpr unsigned kTemperatureVersion = StructVersion(sizeof(Temperature), 1);

inline constexpr unsigned kClockGraphics = 0;
inline constexpr unsigned kClockSm = 1;
inline constexpr unsigned kClockMem = 2;
inline constexpr unsigned kTemperatureGpu = 0;
inline constexpr unsigned kPcieTx = 0;  // KB/s
inline constexpr unsigned kPcieRx = 1;

inline constexpr int kEccCorrected = 0;  // nvmlMemoryErrorType_t
inline constexpr int kEccUncorrected = 1;
inline constexpr int kEccVolatile = 0;  // nvmlEccCounterType_t: since the driver loaded

// The clock event (formerly throttle) reasons, the same bits under both names.
inline constexpr unsigned long long kThrottleSwPowerCap = 0x4;
inline constexpr unsigned long long kThrottleHwSlowdown = 0x8;
inline constexpr unsigned long long kThrottleSwThermal = 0x20;
inline constexpr unsigned long long kThrottleHwThermal = 0x40;
inline constexpr unsigned long long kThrottleHwPowerBrake = 0x80;

struct GpmSupport {  // nvmlGpmSupport_t
  unsigned version;  // kGpmStructVersion
  unsigned isSupportedDevice;
};

inline constexpr unsigned kGpmStructVersion = 1;
// The struct's version never changed with its array's size (98, then 210,
// then 333), so a driver fills only numMetrics entries: the largest keeps a
// driver that writes more within ours.
inline constexpr unsigned kGpmMetricsMax = 333;

struct GpmMetric {  // nvmlGpmMetric_t
  unsigned metricId;
  Return nvmlReturn;
  double value;
  struct {
    char* shortName;
    char* longName;
    char* unit;
  } metricInfo;
};

struct GpmMetricsGet {  // nvmlGpmMetricsGet_t
  unsigned version;  // kGpmStructVersion
  unsigned numMetrics;
  GpmSample sample1;
  GpmSample sample2;
  GpmMetric metrics[kGpmMetricsMax];
};

inline constexpr unsigned kGpmGraphicsUtil = 1;
inline constexpr unsigned kGpmSmUtil = 2;
inline constexpr unsigned kGpmSmOccupancy = 3;
inline constexpr unsigned kGpmAnyTensorUtil = 5;
inline constexpr unsigned kGpmDramBwUtil = 10;
inline constexpr unsigned kGpmFp64Util = 11;
inline constexpr unsigned kGpmFp32Util = 12;
inline constexpr unsigned kGpmFp16Util = 13;
inline constexpr unsigned kGpmNvlinkTotalRxPerSec = 60;
inline constexpr unsigned kGpmNvlinkTotalTxPerSec = 61;

// The functions, each X(name, parameters).
#define KESTREL_NVML_FUNCTIONS(X)                                                  \
  X(nvmlInit_v2, ())                                                               \
  X(nvmlShutdown, ())                                                              \
  X(nvmlDeviceGetCount_v2, (unsigned* count))                                      \
  X(nvmlDeviceGetHandleByIndex_v2, (unsigned index, nvml::Device* device))        \
  X(nvmlDeviceGetPciInfo_v3, (nvml::Device device, nvml::PciInfo* pci))           \
  X(nvmlDeviceGetUtilizationRates, (nvml::Device device, nvml::Utilization* u))   \
  X(nvmlDeviceGetEncoderUtilization,                                               \
    (nvml::Device device, unsigned* utilization, unsigned* periodUs))              \
  X(nvmlDeviceGetDecoderUtilization,                                               \
    (nvml::Device device, unsigned* utilization, unsigned* periodUs))              \
  X(nvmlDeviceGetFanSpeed, (nvml::Device device, unsigned* speed))                 \
  X(nvmlDeviceGetMemoryInfo, (nvml::Device device, nvml::Memory* memory))          \
  X(nvmlDeviceGetMemoryInfo_v2, (nvml::Device device, nvml::MemoryV2* memory))     \
  X(nvmlDeviceGetPowerUsage, (nvml::Device device, unsigned* milliwatts))          \
  X(nvmlDeviceGetEnforcedPowerLimit, (nvml::Device device, unsigned* milliwatts))  \
  X(nvmlDeviceGetClockInfo, (nvml::Device device, unsigned type, unsigned* mhz))   \
  X(nvmlDeviceGetMaxClockInfo, (nvml::Device device, unsigned type, unsigned* mhz)) \
  X(nvmlDeviceGetTemperature, (nvml::Device device, unsigned sensor, unsigned* c)) \
  X(nvmlDeviceGetTemperatureV, (nvml::Device device, nvml::Temperature* t))        \
  X(nvmlDeviceGetPcieThroughput, (nvml::Device device, unsigned counter, unsigned* kbps)) \
  X(nvmlDeviceGetCurrentClocksThrottleReasons,                                     \
    (nvml::Device device, unsigned long long* reasons))                            \
  X(nvmlDeviceGetCurrentClocksEventReasons,                                        \
    (nvml::Device device, unsigned long long* reasons))                            \
  X(nvmlDeviceGetTotalEnergyConsumption, (nvml::Device device, unsigned long long* mj)) \
  X(nvmlDeviceGetPcieReplayCounter, (nvml::Device device, unsigned* count))        \
  X(nvmlDeviceGetTotalEccErrors,                                                   \
    (nvml::Device device, int errorType, int counterType, unsigned long long* count)) \
  X(nvmlGpmQueryDeviceSupport, (nvml::Device device, nvml::GpmSupport* support))  \
  X(nvmlGpmSampleAlloc, (nvml::GpmSample* sample))                                 \
  X(nvmlGpmSampleFree, (nvml::GpmSample sample))                                   \
  X(nvmlGpmSampleGet, (nvml::Device device, nvml::GpmSample sample))              \
  X(nvmlGpmMetricsGet, (nvml::GpmMetricsGet* metrics))

// How many of them a library must export for the counters to be offered at
// all: the first five. The others are optional; a counter that needs a
// missing one is refused with kFunctionNotFound.
inline constexpr int kRequiredFunctionCount = 5;

}  // namespace nvml
