// The counter library's NVML declarations against the fake NVML's, written
// apart from each other: every struct's size, every field's offset and
// size, every constant. Checked when this file compiles, in every build that
// has the library.
#include <cstddef>

#include "fake_nvml_abi.h"
#include "nvml_abi.h"

namespace {

namespace f = fake_nvml;

#define SAME_SIZE(ours, theirs) static_assert(sizeof(nvml::ours) == sizeof(f::theirs), #ours)
#define SAME_FIELD(ours, theirs, field)                                                  \
  static_assert(offsetof(nvml::ours, field) == offsetof(f::theirs, field), #ours "." #field); \
  static_assert(sizeof(nvml::ours::field) == sizeof(f::theirs::field), #ours "." #field)
#define SAME_VALUE(ours, theirs) static_assert(nvml::ours == f::theirs, #ours)

static_assert(sizeof(nvml::Return) == sizeof(f::nvmlReturn_t));
static_assert(sizeof(nvml::Device) == sizeof(f::nvmlDevice_t));
static_assert(sizeof(nvml::GpmSample) == sizeof(f::nvmlGpmSample_t));

SAME_SIZE(PciInfo, nvmlPciInfo_t);
SAME_FIELD(PciInfo, nvmlPciInfo_t, busIdLegacy);
SAME_FIELD(PciInfo, nvmlPciInfo_t, domain);
SAME_FIELD(PciInfo, nvmlPciInfo_t, bus);
SAME_FIELD(PciInfo, nvmlPciInfo_t, device);
SAME_FIELD(PciInfo, nvmlPciInfo_t, pciDeviceId);
SAME_FIELD(PciInfo, nvmlPciInfo_t, pciSubSystemId);
SAME_FIELD(PciInfo, nvmlPciInfo_t, busId);

SAME_SIZE(Utilization, nvmlUtilization_t);
SAME_FIELD(Utilization, nvmlUtilization_t, gpu);
SAME_FIELD(Utilization, nvmlUtilization_t, memory);

SAME_SIZE(Memory, nvmlMemory_t);
SAME_FIELD(Memory, nvmlMemory_t, total);
SAME_FIELD(Memory, nvmlMemory_t, free);
SAME_FIELD(Memory, nvmlMemory_t, used);

SAME_SIZE(MemoryV2, nvmlMemory_v2_t);
SAME_FIELD(MemoryV2, nvmlMemory_v2_t, version);
SAME_FIELD(MemoryV2, nvmlMemory_v2_t, total);
SAME_FIELD(MemoryV2, nvmlMemory_v2_t, reserved);
SAME_FIELD(MemoryV2, nvmlMemory_v2_t, free);
SAME_FIELD(MemoryV2, nvmlMemory_v2_t, used);
SAME_VALUE(kMemoryV2Version, nvmlMemory_v2);

SAME_SIZE(Temperature, nvmlTemperature_t);
SAME_FIELD(Temperature, nvmlTemperature_t, version);
SAME_FIELD(Temperature, nvmlTemperature_t, sensorType);
SAME_FIELD(Temperature, nvmlTemperature_t, temperature);
SAME_VALUE(kTemperatureVersion, nvmlTemperature_v1);

SAME_SIZE(GpmSupport, nvmlGpmSupport_t);
SAME_FIELD(GpmSupport, nvmlGpmSupport_t, version);
SAME_FIELD(GpmSupport, nvmlGpmSupport_t, isSupportedDevice);

SAME_SIZE(GpmMetric, nvmlGpmMetric_t);
SAME_FIELD(GpmMetric, nvmlGpmMetric_t, metricId);
SAME_FIELD(GpmMetric, nvmlGpmMetric_t, nvmlReturn);
SAME_FIELD(GpmMetric, nvmlGpmMetric_t, value);
SAME_FIELD(GpmMetric, nvmlGpmMetric_t, metricInfo);
static_assert(offsetof(nvml::GpmMetric, metricInfo.shortName) ==
              offsetof(f::nvmlGpmMetric_t, metricInfo.shortName));
static_assert(offsetof(nvml::GpmMetric, metricInfo.longName) ==
              offsetof(f::nvmlGpmMetric_t, metricInfo.longName));
static_assert(offsetof(nvml::GpmMetric, metricInfo.unit) ==
              offsetof(f::nvmlGpmMetric_t, metricInfo.unit));

SAME_SIZE(GpmMetricsGet, nvmlGpmMetricsGet_t);
SAME_FIELD(GpmMetricsGet, nvmlGpmMetricsGet_t, version);
SAME_FIELD(GpmMetricsGet, nvmlGpmMetricsGet_t, numMetrics);
SAME_FIELD(GpmMetricsGet, nvmlGpmMetricsGet_t, sample1);
SAME_FIELD(GpmMetricsGet, nvmlGpmMetricsGet_t, sample2);
SAME_FIELD(GpmMetricsGet, nvmlGpmMetricsGet_t, metrics);

SAME_VALUE(kSuccess, NVML_SUCCESS);
SAME_VALUE(kUninitialized, NVML_ERROR_UNINITIALIZED);
SAME_VALUE(kInvalidArgument, NVML_ERROR_INVALID_ARGUMENT);
SAME_VALUE(kNotSupported, NVML_ERROR_NOT_SUPPORTED);
SAME_VALUE(kNoPermission, NVML_ERROR_NO_PERMISSION);
SAME_VALUE(kNotFound, NVML_ERROR_NOT_FOUND);
SAME_VALUE(kDriverNotLoaded, NVML_ERROR_DRIVER_NOT_LOADED);
SAME_VALUE(kLibraryNotFound, NVML_ERROR_LIBRARY_NOT_FOUND);
SAME_VALUE(kFunctionNotFound, NVML_ERROR_FUNCTION_NOT_FOUND);
SAME_VALUE(kGpuIsLost, NVML_ERROR_GPU_IS_LOST);
SAME_VALUE(kLibRmVersionMismatch, NVML_ERROR_LIB_RM_VERSION_MISMATCH);
SAME_VALUE(kArgumentVersionMismatch, NVML_ERROR_ARGUMENT_VERSION_MISMATCH);
SAME_VALUE(kUnknown, NVML_ERROR_UNKNOWN);

SAME_VALUE(kClockGraphics, NVML_CLOCK_GRAPHICS);
SAME_VALUE(kClockSm, NVML_CLOCK_SM);
SAME_VALUE(kClockMem, NVML_CLOCK_MEM);
SAME_VALUE(kTemperatureGpu, NVML_TEMPERATURE_GPU);
SAME_VALUE(kPcieTx, NVML_PCIE_UTIL_TX_BYTES);
SAME_VALUE(kPcieRx, NVML_PCIE_UTIL_RX_BYTES);
SAME_VALUE(kEccCorrected, NVML_MEMORY_ERROR_TYPE_CORRECTED);
SAME_VALUE(kEccUncorrected, NVML_MEMORY_ERROR_TYPE_UNCORRECTED);
SAME_VALUE(kEccVolatile, NVML_VOLATILE_ECC);

SAME_VALUE(kThrottleSwPowerCap, nvmlClocksEventReasonSwPowerCap);
SAME_VALUE(kThrottleHwSlowdown, nvmlClocksEventReasonHwSlowdown);
SAME_VALUE(kThrottleSwThermal, nvmlClocksEventReasonSwThermalSlowdown);
SAME_VALUE(kThrottleHwThermal, nvmlClocksEventReasonHwThermalSlowdown);
SAME_VALUE(kThrottleHwPowerBrake, nvmlClocksEventReasonHwPowerBrakeSlowdown);

SAME_VALUE(kGpmStructVersion, NVML_GPM_SUPPORT_VERSION);
SAME_VALUE(kGpmStructVersion, NVML_GPM_METRICS_GET_VERSION);
SAME_VALUE(kGpmMetricsMax, NVML_GPM_METRIC_MAX);
SAME_VALUE(kGpmGraphicsUtil, NVML_GPM_METRIC_GRAPHICS_UTIL);
SAME_VALUE(kGpmSmUtil, NVML_GPM_METRIC_SM_UTIL);
SAME_VALUE(kGpmSmOccupancy, NVML_GPM_METRIC_SM_OCCUPANCY);
SAME_VALUE(kGpmAnyTensorUtil, NVML_GPM_METRIC_ANY_TENSOR_UTIL);
SAME_VALUE(kGpmDramBwUtil, NVML_GPM_METRIC_DRAM_BW_UTIL);
SAME_VALUE(kGpmFp64Util, NVML_GPM_METRIC_FP64_UTIL);
SAME_VALUE(kGpmFp32Util, NVML_GPM_METRIC_FP32_UTIL);
SAME_VALUE(kGpmFp16Util, NVML_GPM_METRIC_FP16_UTIL);
SAME_VALUE(kGpmNvlinkTotalRxPerSec, NVML_GPM_METRIC_NVLINK_TOTAL_RX_PER_SEC);
SAME_VALUE(kGpmNvlinkTotalTxPerSec, NVML_GPM_METRIC_NVLINK_TOTAL_TX_PER_SEC);

}  // namespace
