// A fake NVML for the tests, built as libnvidia-ml.so.1 / nvml.dll: found
// the loader's usual way on Linux, and where a driver installs it (the
// system folder) on Windows.
//
// Scripted by the file named in KESTREL_NVML_SCRIPT, read at nvmlInit_v2,
// one directive a line:
//   init CODE                  nvmlInit_v2 answers CODE
//   count CODE                 nvmlDeviceGetCount_v2 answers CODE
//   gpu BUSID                  a GPU ("0000:65:00.0"), enumerated in script order
//   FIELD V1[,V2...]           a reading of the latest GPU: the n-th call that
//                              reads it gets Vn, the last value repeating
//   metric ID V1[,V2...]       a performance metric, by NVML's metric id
//   gpm 1                      the latest GPU supports performance metrics
//   fail FUNCTION CODE [AFTER] FUNCTION (or * for every call on this GPU)
//                              answers CODE, after AFTER calls that succeed;
//                              nvmlDeviceGetHandleByIndex_v2 too
//   # ...                      a comment
// Fields: utilization_gpu utilization_memory encoder decoder fan memory_total
// memory_used (without the reserve, as nvidia-smi shows it) memory_reserved
// power power_limit clock_graphics clock_sm clock_mem max_clock_sm
// temperature (may be negative) pcie_tx pcie_rx throttle energy pcie_replay
// ecc_corrected ecc_uncorrected.
//
// Each call is counted by name (FakeNvmlCalls) and, with KESTREL_NVML_CALLS
// set, appended to that file as "FUNCTION [BUSID]". Structure versions are
// checked strictly, and two metrics samples must be more than 100 ms apart.
// Any function can be left out of a build, as a driver lacks it, by defining
// KESTREL_FAKE_NVML_WITHOUT_<function> (doubles/CMakeLists.txt builds the
// variants).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fake_nvml_abi.h"
#include "platform_abi.h"

namespace {

using namespace fake_nvml;
using Return = nvmlReturn_t;

struct Failure {
  std::string function;
  Return code = 0;
  int after = 0;
};

struct FakeGpu {
  std::string busId;
  unsigned domain = 0, bus = 0, device = 0;
  std::map<std::string, std::vector<long long>> fields;
  std::map<unsigned, std::vector<double>> metrics;
  bool gpm = false;
  std::vector<Failure> failures;
  std::map<std::string, int> calls;  // per function, on this GPU
};

struct FakeSample {
  FakeGpu* gpu = nullptr;
  std::chrono::steady_clock::time_point at;
};

struct Fake {
  Return initResult = 0;
  Return countResult = 0;
  std::vector<FakeGpu> gpus;
  int initialised = 0;
  std::map<std::string, long> calls;
  int metricsCalls = 0;
};

Fake& fake() {
  static Fake instance;
  return instance;
}

void Record(const char* function, const FakeGpu* gpu) {
  ++fake().calls[function];
  const char* path = std::getenv("KESTREL_NVML_CALLS");
  if (path == nullptr || *path == '\0') return;
  if (FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%s%s%s\n", function, gpu ? " " : "", gpu ? gpu->busId.c_str() : "");
    std::fclose(file);
  }
}

void ReadScript() {
  Fake& f = fake();
  f.initResult = 0;
  f.countResult = 0;
  f.gpus.clear();
  const char* path = std::getenv("KESTREL_NVML_SCRIPT");
  if (path == nullptr) return;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string directive;
    words >> directive;
    FakeGpu* gpu = f.gpus.empty() ? nullptr : &f.gpus.back();
    if (directive.empty() || directive[0] == '#') continue;
    if (directive == "init") {
      words >> f.initResult;
    } else if (directive == "count") {
      words >> f.countResult;
    } else if (directive == "gpu") {
      FakeGpu added;
      words >> added.busId;
      std::sscanf(added.busId.c_str(), "%x:%x:%x", &added.domain, &added.bus, &added.device);
      f.gpus.push_back(added);
    } else if (gpu == nullptr) {
      continue;
    } else if (directive == "gpm") {
      words >> gpu->gpm;
    } else if (directive == "fail") {
      Failure failure;
      words >> failure.function >> failure.code >> failure.after;
      gpu->failures.push_back(failure);
    } else if (directive == "metric") {
      unsigned id = 0;
      std::string list;
      words >> id >> list;
      std::istringstream values(list);
      std::string value;
      while (std::getline(values, value, ',')) gpu->metrics[id].push_back(std::stod(value));
    } else {
      std::string list, value;
      words >> list;
      std::istringstream values(list);
      while (std::getline(values, value, ','))
        gpu->fields[directive].push_back(std::stoll(value, nullptr, 0));
    }
  }
}

FakeGpu* GpuOf(nvmlDevice_t device) {
  auto index = reinterpret_cast<uintptr_t>(device);
  if (index == 0 || index > fake().gpus.size()) return nullptr;
  return &fake().gpus[index - 1];
}

// The scripted failure of FUNCTION's call number `done` on this GPU, or 0.
Return Scripted(const FakeGpu& gpu, const char* function, int done) {
  for (const Failure& failure : gpu.failures)
    if ((failure.function == function || failure.function == "*") && done >= failure.after)
      return failure.code;
  return NVML_SUCCESS;
}

// The common entry of every device call: records it and decides its result.
Return Enter(const char* function, nvmlDevice_t device, FakeGpu** gpu) {
  *gpu = GpuOf(device);
  Record(function, *gpu);
  if (fake().initialised == 0) return NVML_ERROR_UNINITIALIZED;
  if (*gpu == nullptr) return NVML_ERROR_INVALID_ARGUMENT;
  return Scripted(**gpu, function, (*gpu)->calls[function]++);
}

long long Field(FakeGpu* gpu, const char* name, const char* function) {
  auto found = gpu->fields.find(name);
  if (found == gpu->fields.end() || found->second.empty()) return 0;
  size_t call = static_cast<size_t>(gpu->calls[function] - 1);
  return found->second[call < found->second.size() ? call : found->second.size() - 1];
}

template <class T>
Return ReadField(const char* function, nvmlDevice_t device, const char* name, T* out) {
  FakeGpu* gpu;
  Return result = Enter(function, device, &gpu);
  if (result != 0) return result;
  if (out == nullptr) return NVML_ERROR_INVALID_ARGUMENT;
  *out = static_cast<T>(Field(gpu, name, function));
  return 0;
}

}  // namespace

#define FAKE_EXPORT extern "C" KESTREL_EXPORT Return FAKE_NVML_CALL

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlInit_v2
FAKE_EXPORT nvmlInit_v2() {
  Record("nvmlInit_v2", nullptr);
  if (fake().initialised == 0) ReadScript();
  if (fake().initResult != 0) return fake().initResult;
  ++fake().initialised;
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlShutdown
FAKE_EXPORT nvmlShutdown() {
  Record("nvmlShutdown", nullptr);
  if (fake().initialised == 0) return NVML_ERROR_UNINITIALIZED;
  --fake().initialised;
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetCount_v2
FAKE_EXPORT nvmlDeviceGetCount_v2(unsigned* count) {
  Record("nvmlDeviceGetCount_v2", nullptr);
  if (fake().initialised == 0) return NVML_ERROR_UNINITIALIZED;
  if (fake().countResult != 0) return fake().countResult;
  *count = static_cast<unsigned>(fake().gpus.size());
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetHandleByIndex_v2
// A GPU counted may still refuse its handle (no permission, say): its
// script's "fail nvmlDeviceGetHandleByIndex_v2 CODE" says so.
FAKE_EXPORT nvmlDeviceGetHandleByIndex_v2(unsigned index, nvmlDevice_t* device) {
  const char* function = "nvmlDeviceGetHandleByIndex_v2";
  Record(function, nullptr);
  if (fake().initialised == 0) return NVML_ERROR_UNINITIALIZED;
  if (index >= fake().gpus.size() || device == nullptr) return NVML_ERROR_INVALID_ARGUMENT;
  FakeGpu& gpu = fake().gpus[index];
  if (Return refused = Scripted(gpu, function, gpu.calls[function]++)) return refused;
  *device = reinterpret_cast<nvmlDevice_t>(static_cast<uintptr_t>(index + 1));
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetPciInfo_v3
FAKE_EXPORT nvmlDeviceGetPciInfo_v3(nvmlDevice_t device, nvmlPciInfo_t* pci) {
  FakeGpu* gpu;
  Return result = Enter("nvmlDeviceGetPciInfo_v3", device, &gpu);
  if (result != 0) return result;
  *pci = nvmlPciInfo_t{};
  std::snprintf(pci->busId, sizeof pci->busId, "%s", gpu->busId.c_str());
  pci->domain = gpu->domain;
  pci->bus = gpu->bus;
  pci->device = gpu->device;
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetUtilizationRates
FAKE_EXPORT nvmlDeviceGetUtilizationRates(nvmlDevice_t device, nvmlUtilization_t* u) {
  FakeGpu* gpu;
  const char* function = "nvmlDeviceGetUtilizationRates";
  Return result = Enter(function, device, &gpu);
  if (result != 0) return result;
  u->gpu = static_cast<unsigned>(Field(gpu, "utilization_gpu", function));
  u->memory = static_cast<unsigned>(Field(gpu, "utilization_memory", function));
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetFanSpeed
FAKE_EXPORT nvmlDeviceGetFanSpeed(nvmlDevice_t device, unsigned* speed) {
  return ReadField("nvmlDeviceGetFanSpeed", device, "fan", speed);
}
#endif

// The older call counts the driver's reserve as used; the newer leaves it out.
#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetMemoryInfo
FAKE_EXPORT nvmlDeviceGetMemoryInfo(nvmlDevice_t device, nvmlMemory_t* memory) {
  FakeGpu* gpu;
  const char* function = "nvmlDeviceGetMemoryInfo";
  Return result = Enter(function, device, &gpu);
  if (result != 0) return result;
  memory->total = Field(gpu, "memory_total", function);
  memory->used = Field(gpu, "memory_used", function) + Field(gpu, "memory_reserved", function);
  memory->free = memory->total - memory->used;
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetMemoryInfo_v2
FAKE_EXPORT nvmlDeviceGetMemoryInfo_v2(nvmlDevice_t device, nvmlMemory_v2_t* memory) {
  FakeGpu* gpu;
  const char* function = "nvmlDeviceGetMemoryInfo_v2";
  Return result = Enter(function, device, &gpu);
  if (result != 0) return result;
  if (memory->version != nvmlMemory_v2) return NVML_ERROR_ARGUMENT_VERSION_MISMATCH;
  memory->total = Field(gpu, "memory_total", function);
  memory->reserved = Field(gpu, "memory_reserved", function);
  memory->used = Field(gpu, "memory_used", function);
  memory->free = memory->total - memory->reserved - memory->used;
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetPowerUsage
FAKE_EXPORT nvmlDeviceGetPowerUsage(nvmlDevice_t device, unsigned* milliwatts) {
  return ReadField("nvmlDeviceGetPowerUsage", device, "power", milliwatts);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetEnforcedPowerLimit
FAKE_EXPORT nvmlDeviceGetEnforcedPowerLimit(nvmlDevice_t device, unsigned* milliwatts) {
  return ReadField("nvmlDeviceGetEnforcedPowerLimit", device, "power_limit", milliwatts);
}
#endif

namespace {
const char* const kClockFields[] = {"clock_graphics", "clock_sm", "clock_mem"};
}

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetClockInfo
FAKE_EXPORT nvmlDeviceGetClockInfo(nvmlDevice_t device, unsigned type, unsigned* mhz) {
  if (type > NVML_CLOCK_MEM) return NVML_ERROR_INVALID_ARGUMENT;
  return ReadField("nvmlDeviceGetClockInfo", device, kClockFields[type], mhz);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetMaxClockInfo
FAKE_EXPORT nvmlDeviceGetMaxClockInfo(nvmlDevice_t device, unsigned type, unsigned* mhz) {
  if (type != NVML_CLOCK_SM) return NVML_ERROR_NOT_SUPPORTED;
  return ReadField("nvmlDeviceGetMaxClockInfo", device, "max_clock_sm", mhz);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetTemperature
FAKE_EXPORT nvmlDeviceGetTemperature(nvmlDevice_t device, unsigned sensor, unsigned* c) {
  if (sensor != NVML_TEMPERATURE_GPU) return NVML_ERROR_INVALID_ARGUMENT;
  return ReadField("nvmlDeviceGetTemperature", device, "temperature", c);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetTemperatureV
FAKE_EXPORT nvmlDeviceGetTemperatureV(nvmlDevice_t device, nvmlTemperature_t* t) {
  if (t == nullptr || t->version != nvmlTemperature_v1) return NVML_ERROR_ARGUMENT_VERSION_MISMATCH;
  if (t->sensorType != static_cast<int>(NVML_TEMPERATURE_GPU)) return NVML_ERROR_INVALID_ARGUMENT;
  return ReadField("nvmlDeviceGetTemperatureV", device, "temperature", &t->temperature);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetEncoderUtilization
FAKE_EXPORT nvmlDeviceGetEncoderUtilization(nvmlDevice_t device, unsigned* u, unsigned* period) {
  *period = 167000;
  return ReadField("nvmlDeviceGetEncoderUtilization", device, "encoder", u);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetDecoderUtilization
FAKE_EXPORT nvmlDeviceGetDecoderUtilization(nvmlDevice_t device, unsigned* u, unsigned* period) {
  *period = 167000;
  return ReadField("nvmlDeviceGetDecoderUtilization", device, "decoder", u);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetPcieThroughput
FAKE_EXPORT nvmlDeviceGetPcieThroughput(nvmlDevice_t device, unsigned counter, unsigned* kbps) {
  if (counter > NVML_PCIE_UTIL_RX_BYTES) return NVML_ERROR_INVALID_ARGUMENT;
  return ReadField("nvmlDeviceGetPcieThroughput", device,
                   counter == NVML_PCIE_UTIL_TX_BYTES ? "pcie_tx" : "pcie_rx", kbps);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetCurrentClocksThrottleReasons
FAKE_EXPORT nvmlDeviceGetCurrentClocksThrottleReasons(nvmlDevice_t device,
                                                      unsigned long long* reasons) {
  return ReadField("nvmlDeviceGetCurrentClocksThrottleReasons", device, "throttle", reasons);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetCurrentClocksEventReasons
FAKE_EXPORT nvmlDeviceGetCurrentClocksEventReasons(nvmlDevice_t device,
                                                   unsigned long long* reasons) {
  return ReadField("nvmlDeviceGetCurrentClocksEventReasons", device, "throttle", reasons);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetTotalEnergyConsumption
FAKE_EXPORT nvmlDeviceGetTotalEnergyConsumption(nvmlDevice_t device, unsigned long long* mj) {
  return ReadField("nvmlDeviceGetTotalEnergyConsumption", device, "energy", mj);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetPcieReplayCounter
FAKE_EXPORT nvmlDeviceGetPcieReplayCounter(nvmlDevice_t device, unsigned* count) {
  return ReadField("nvmlDeviceGetPcieReplayCounter", device, "pcie_replay", count);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlDeviceGetTotalEccErrors
// Volatile counts only: the counters are since the driver loaded.
FAKE_EXPORT nvmlDeviceGetTotalEccErrors(nvmlDevice_t device, int errorType, int counterType,
                                        unsigned long long* count) {
  if (counterType != NVML_VOLATILE_ECC || errorType < NVML_MEMORY_ERROR_TYPE_CORRECTED ||
      errorType > NVML_MEMORY_ERROR_TYPE_UNCORRECTED)
    return NVML_ERROR_INVALID_ARGUMENT;
  return ReadField("nvmlDeviceGetTotalEccErrors", device,
                   errorType == NVML_MEMORY_ERROR_TYPE_CORRECTED ? "ecc_corrected"
                                                                 : "ecc_uncorrected",
                   count);
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlGpmQueryDeviceSupport
FAKE_EXPORT nvmlGpmQueryDeviceSupport(nvmlDevice_t device, nvmlGpmSupport_t* support) {
  FakeGpu* gpu;
  Return result = Enter("nvmlGpmQueryDeviceSupport", device, &gpu);
  if (result != 0) return result;
  if (support->version != NVML_GPM_SUPPORT_VERSION) return NVML_ERROR_ARGUMENT_VERSION_MISMATCH;
  support->isSupportedDevice = gpu->gpm ? 1 : 0;
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlGpmSampleAlloc
FAKE_EXPORT nvmlGpmSampleAlloc(nvmlGpmSample_t* sample) {
  Record("nvmlGpmSampleAlloc", nullptr);
  if (sample == nullptr) return NVML_ERROR_INVALID_ARGUMENT;
  *sample = reinterpret_cast<nvmlGpmSample_t>(new FakeSample);
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlGpmSampleFree
FAKE_EXPORT nvmlGpmSampleFree(nvmlGpmSample_t sample) {
  Record("nvmlGpmSampleFree", nullptr);
  delete reinterpret_cast<FakeSample*>(sample);
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlGpmSampleGet
FAKE_EXPORT nvmlGpmSampleGet(nvmlDevice_t device, nvmlGpmSample_t sample) {
  FakeGpu* gpu;
  Return result = Enter("nvmlGpmSampleGet", device, &gpu);
  if (result != 0) return result;
  if (sample == nullptr || !gpu->gpm) return NVML_ERROR_INVALID_ARGUMENT;
  auto* taken = reinterpret_cast<FakeSample*>(sample);
  taken->gpu = gpu;
  taken->at = std::chrono::steady_clock::now();
  return 0;
}
#endif

#ifndef KESTREL_FAKE_NVML_WITHOUT_nvmlGpmMetricsGet
FAKE_EXPORT nvmlGpmMetricsGet(nvmlGpmMetricsGet_t* m) {
  Record("nvmlGpmMetricsGet", nullptr);
  if (m == nullptr || m->version != NVML_GPM_METRICS_GET_VERSION)
    return NVML_ERROR_ARGUMENT_VERSION_MISMATCH;
  auto* first = reinterpret_cast<FakeSample*>(m->sample1);
  auto* second = reinterpret_cast<FakeSample*>(m->sample2);
  if (first == nullptr || second == nullptr || first->gpu == nullptr ||
      first->gpu != second->gpu || m->numMetrics > NVML_GPM_METRIC_MAX ||
      second->at - first->at <= std::chrono::milliseconds(100))
    return NVML_ERROR_INVALID_ARGUMENT;
  size_t call = static_cast<size_t>(fake().metricsCalls++);
  for (unsigned i = 0; i < m->numMetrics; ++i) {
    nvmlGpmMetric_t& metric = m->metrics[i];
    auto found = first->gpu->metrics.find(metric.metricId);
    if (found == first->gpu->metrics.end()) {
      metric.nvmlReturn = NVML_ERROR_NOT_SUPPORTED;
      continue;
    }
    const std::vector<double>& values = found->second;
    metric.nvmlReturn = 0;
    metric.value = values[call < values.size() ? call : values.size() - 1];
  }
  return 0;
}
#endif

// For the tests only: how often FUNCTION was called in this process; for
// "reading", how many calls read the GPU, as opposed to setting up.
extern "C" KESTREL_EXPORT long FAKE_NVML_CALL FakeNvmlCalls(const char* function) {
  auto count = [](const char* name) {
    auto found = fake().calls.find(name);
    return found == fake().calls.end() ? 0 : found->second;
  };
  if (std::strcmp(function, "reading") != 0) return count(function);
  long total = 0;
  for (const char* name :
       {"nvmlDeviceGetUtilizationRates", "nvmlDeviceGetEncoderUtilization",
        "nvmlDeviceGetDecoderUtilization", "nvmlDeviceGetFanSpeed", "nvmlDeviceGetMemoryInfo",
        "nvmlDeviceGetMemoryInfo_v2", "nvmlDeviceGetPowerUsage",
        "nvmlDeviceGetEnforcedPowerLimit", "nvmlDeviceGetClockInfo", "nvmlDeviceGetTemperature",
        "nvmlDeviceGetTemperatureV", "nvmlDeviceGetPcieThroughput",
        "nvmlDeviceGetCurrentClocksThrottleReasons", "nvmlDeviceGetCurrentClocksEventReasons",
        "nvmlDeviceGetTotalEnergyConsumption", "nvmlDeviceGetPcieReplayCounter",
        "nvmlDeviceGetTotalEccErrors", "nvmlGpmSampleGet"})
    total += count(name);
  return total;
}
