// NVML's interface as the fake NVML implements it, declared here on its own
// from NVML's documented layouts rather than taken from the counter library's
// nvml/nvml_abi.h: a slip in the library's declarations then shows as a
// difference between the two (doubles/nvml/layout_check.cpp) instead of
// hiding behind the same slip in the fake.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define FAKE_NVML_CALL __cdecl
#else
#define FAKE_NVML_CALL
#endif

namespace fake_nvml {

typedef int nvmlReturn_t;
constexpr nvmlReturn_t NVML_SUCCESS = 0;
constexpr nvmlReturn_t NVML_ERROR_UNINITIALIZED = 1;
constexpr nvmlReturn_t NVML_ERROR_INVALID_ARGUMENT = 2;
constexpr nvmlReturn_t NVML_ERROR_NOT_SUPPORTED = 3;
constexpr nvmlReturn_t NVML_ERROR_NO_PERMISSION = 4;
constexpr nvmlReturn_t NVML_ERROR_NOT_FOUND = 6;
constexpr nvmlReturn_t NVML_ERROR_DRIVER_NOT_LOADED = 9;
constexpr nvmlReturn_t NVML_ERROR_LIBRARY_NOT_FOUND = 12;
constexpr nvmlReturn_t NVML_ERROR_FUNCTION_NOT_FOUND = 13;
constexpr nvmlReturn_t NVML_ERROR_GPU_IS_LOST = 15;
constexpr nvmlReturn_t NVML_ERROR_LIB_RM_VERSION_MISMATCH = 18;
constexpr nvmlReturn_t NVML_ERROR_ARGUMENT_VERSION_MISMATCH = 25;
constexpr nvmlReturn_t NVML_ERROR_UNKNOWN = 999;

typedef struct nvmlDevice_st* nvmlDevice_t;
typedef struct nvmlGpmSample_st* nvmlGpmSample_t;

typedef struct {
  char busIdLegacy[16];
  unsigned int domain;
  unsigned int bus;
  unsigned int device;
  unsigned int pciDeviceId;
  unsigned int pciSubSystemId;
  char busId[32];
} nvmlPciInfo_t;

typedef struct {
  unsigned int gpu;
  unsigned int memory;
} nvmlUtilization_t;

typedef struct {
  unsigned long long total;
  unsigned long long free;
  unsigned long long used;
} nvmlMemory_t;

typedef struct {
  unsigned int version;
  unsigned long long total;
  unsigned long long reserved;
  unsigned long long free;
  unsigned long long used;
} nvmlMemory_v2_t;
constexpr unsigned int nvmlMemory_v2 = 0x02000028;

typedef struct {
  unsigned int version;
  int sensorType;
  int temperature;
} nvmlTemperature_t;
constexpr unsigned int nvmlTemperature_v1 = 0x0100000C;

constexpr unsigned int NVML_CLOCK_GRAPHICS = 0;
constexpr unsigned int NVML_CLOCK_SM = 1;
constexpr unsigned int NVML_CLOCK_MEM = 2;
constexpr unsigned int NVML_TEMPERATURE_GPU = 0;
constexpr unsigned int NVML_PCIE_UTIL_TX_BYTES = 0;
constexpr unsigned int NVML_PCIE_UTIL_RX_BYTES = 1;
constexpr int NVML_MEMORY_ERROR_TYPE_CORRECTED = 0;
constexpr int NVML_MEMORY_ERROR_TYPE_UNCORRECTED = 1;
constexpr int NVML_VOLATILE_ECC = 0;

constexpr unsigned long long nvmlClocksEventReasonSwPowerCap = 0x4ULL;
constexpr unsigned long long nvmlClocksEventReasonHwSlowdown = 0x8ULL;
constexpr unsigned long long nvmlClocksEventReasonSwThermalSlowdown = 0x20ULL;
constexpr unsigned long long nvmlClocksEventReasonHwThermalSlowdown = 0x40ULL;
constexpr unsigned long long nvmlClocksEventReasonHwPowerBrakeSlowdown = 0x80ULL;

constexpr unsigned int NVML_GPM_SUPPORT_VERSION = 1;
constexpr unsigned int NVML_GPM_METRICS_GET_VERSION = 1;
constexpr unsigned int NVML_GPM_METRIC_MAX = 333;

typedef struct {
  unsigned int version;
  unsigned int isSupportedDevice;
} nvmlGpmSupport_t;

typedef struct {
  unsigned int metricId;
  nvmlReturn_t nvmlReturn;
  double value;
  struct {
    char* shortName;
    char* longName;
    char* unit;
  } metricInfo;
} nvmlGpmMetric_t;

typedef struct {
  unsigned int version;
  unsigned int numMetrics;
  nvmlGpmSample_t sample1;
  nvmlGpmSample_t sample2;
  nvmlGpmMetric_t metrics[NVML_GPM_METRIC_MAX];
} nvmlGpmMetricsGet_t;

constexpr unsigned int NVML_GPM_METRIC_GRAPHICS_UTIL = 1;
constexpr unsigned int NVML_GPM_METRIC_SM_UTIL = 2;
constexpr unsigned int NVML_GPM_METRIC_SM_OCCUPANCY = 3;
constexpr unsigned int NVML_GPM_METRIC_ANY_TENSOR_UTIL = 5;
constexpr unsigned int NVML_GPM_METRIC_DRAM_BW_UTIL = 10;
constexpr unsigned int NVML_GPM_METRIC_FP64_UTIL = 11;
constexpr unsigned int NVML_GPM_METRIC_FP32_UTIL = 12;
constexpr unsigned int NVML_GPM_METRIC_FP16_UTIL = 13;
constexpr unsigned int NVML_GPM_METRIC_NVLINK_TOTAL_RX_PER_SEC = 60;
constexpr unsigned int NVML_GPM_METRIC_NVLINK_TOTAL_TX_PER_SEC = 61;

}  // namespace fake_nvml
