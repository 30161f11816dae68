// A fake NVML for the tests, built as libnvidia-ml.so.1 / nvml.dll, found
// the loader's usual way like the driver's own.
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
//                              answers CODE, after AFTER calls that succeed
//   # ...                      a comment
// Fields: utilization_gpu utilization_memory encoder decoder fan memory_total
// memory_used power power_limit clock_graphics clock_sm clock_mem
// max_clock_sm temperature pcie_tx pcie_rx throttle.
//
// Each call is counted by name (FakeNvmlCalls) and, with KESTREL_NVML_CALLS
// set, appended to that file as "FUNCTION [BUSID]". Structure versions are
// checked strictly, and two metrics samples must be more than 100 ms apart.
// Built with KESTREL_FAKE_NVML_OLD it lacks the functions an older driver
// lacks (performance metrics, encoder and decoder, PCIe throughput, throttle
// reasons); with KESTREL_FAKE_NVML_BROKEN it also lacks nvmlDeviceGetPciInfo_v3.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "nvml_abi.h"
#include "platform_abi.h"

namespace {

using nvml::Return;
constexpr Return kArgumentVersionMismatch = 25;

struct Failure {
  std::string function;
  Return code = 0;
  int after = 0;
};

struct FakeGpu {
  std::string busId;
  unsigned domain = 0, bus = 0, device = 0;
  std::map<std::string, std::vector<unsigned long long>> fields;
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
        gpu->fields[directive].push_back(std::stoull(value, nullptr, 0));
    }
  }
}

FakeGpu* GpuOf(nvml::Device device) {
  auto index = reinterpret_cast<uintptr_t>(device);
  if (index == 0 || index > fake().gpus.size()) return nullptr;
  return &fake().gpus[index - 1];
}

// The common entry of every device call: records it and decides its result.
Return Enter(const char* function, nvml::Device device, FakeGpu** gpu) {
  *gpu = GpuOf(device);
  Record(function, *gpu);
  if (fake().initialised == 0) return nvml::kUninitialized;
  if (*gpu == nullptr) return nvml::kInvalidArgument;
  int done = (*gpu)->calls[function]++;
  for (const Failure& failure : (*gpu)->failures)
    if ((failure.function == function || failure.function == "*") && done >= failure.after)
      return failure.code;
  return nvml::kSuccess;
}

unsigned long long Field(FakeGpu* gpu, const char* name, const char* function) {
  auto found = gpu->fields.find(name);
  if (found == gpu->fields.end() || found->second.empty()) return 0;
  size_t call = static_cast<size_t>(gpu->calls[function] - 1);
  return found->second[call < found->second.size() ? call : found->second.size() - 1];
}

template <class T>
Return ReadField(const char* function, nvml::Device device, const char* name, T* out) {
  FakeGpu* gpu;
  Return result = Enter(function, device, &gpu);
  if (result != 0) return result;
  if (out == nullptr) return nvml::kInvalidArgument;
  *out = static_cast<T>(Field(gpu, name, function));
  return 0;
}

}  // namespace

#define FAKE_EXPORT extern "C" KESTREL_EXPORT Return NVML_CALL

FAKE_EXPORT nvmlInit_v2() {
  Record("nvmlInit_v2", nullptr);
  if (fake().initialised == 0) ReadScript();
  if (fake().initResult != 0) return fake().initResult;
  ++fake().initialised;
  return 0;
}

FAKE_EXPORT nvmlShutdown() {
  Record("nvmlShutdown", nullptr);
  if (fake().initialised == 0) return nvml::kUninitialized;
  --fake().initialised;
  return 0;
}

FAKE_EXPORT nvmlDeviceGetCount_v2(unsigned* count) {
  Record("nvmlDeviceGetCount_v2", nullptr);
  if (fake().initialised == 0) return nvml::kUninitialized;
  if (fake().countResult != 0) return fake().countResult;
  *count = static_cast<unsigned>(fake().gpus.size());
  return 0;
}

FAKE_EXPORT nvmlDeviceGetHandleByIndex_v2(unsigned index, nvml::Device* device) {
  Record("nvmlDeviceGetHandleByIndex_v2", nullptr);
  if (fake().initialised == 0) return nvml::kUninitialized;
  if (index >= fake().gpus.size() || device == nullptr) return nvml::kInvalidArgument;
  *device = reinterpret_cast<nvml::Device>(static_cast<uintptr_t>(index + 1));
  return 0;
}

#ifndef KESTREL_FAKE_NVML_BROKEN
FAKE_EXPORT nvmlDeviceGetPciInfo_v3(nvml::Device device, nvml::PciInfo* pci) {
  FakeGpu* gpu;
  Return result = Enter("nvmlDeviceGetPciInfo_v3", device, &gpu);
  if (result != 0) return result;
  *pci = nvml::PciInfo{};
  std::snprintf(pci->busId, sizeof pci->busId, "%s", gpu->busId.c_str());
  pci->domain = gpu->domain;
  pci->bus = gpu->bus;
  pci->device = gpu->device;
  return 0;
}
#endif

FAKE_EXPORT nvmlDeviceGetUtilizationRates(nvml::Device device, nvml::Utilization* u) {
  FakeGpu* gpu;
  const char* function = "nvmlDeviceGetUtilizationRates";
  Return result = Enter(function, device, &gpu);
  if (result != 0) return result;
  u->gpu = static_cast<unsigned>(Field(gpu, "utilization_gpu", function));
  u->memory = static_cast<unsigned>(Field(gpu, "utilization_memory", function));
  return 0;
}

FAKE_EXPORT nvmlDeviceGetFanSpeed(nvml::Device device, unsigned* speed) {
  return ReadField("nvmlDeviceGetFanSpeed", device, "fan", speed);
}

FAKE_EXPORT nvmlDeviceGetMemoryInfo(nvml::Device device, nvml::Memory* memory) {
  FakeGpu* gpu;
  const char* function = "nvmlDeviceGetMemoryInfo";
  Return result = Enter(function, device, &gpu);
  if (result != 0) return result;
  memory->total = Field(gpu, "memory_total", function);
  memory->used = Field(gpu, "memory_used", function);
  memory->free = memory->total - memory->used;
  return 0;
}

FAKE_EXPORT nvmlDeviceGetPowerUsage(nvml::Device device, unsigned* milliwatts) {
  return ReadField("nvmlDeviceGetPowerUsage", device, "power", milliwatts);
}

FAKE_EXPORT nvmlDeviceGetEnforcedPowerLimit(nvml::Device device, unsigned* milliwatts) {
  return ReadField("nvmlDeviceGetEnforcedPowerLimit", device, "power_limit", milliwatts);
}

const char* const kClockFields[] = {"clock_graphics", "clock_sm", "clock_mem"};

FAKE_EXPORT nvmlDeviceGetClockInfo(nvml::Device device, unsigned type, unsigned* mhz) {
  if (type > 2) return nvml::kInvalidArgument;
  return ReadField("nvmlDeviceGetClockInfo", device, kClockFields[type], mhz);
}

FAKE_EXPORT nvmlDeviceGetMaxClockInfo(nvml::Device device, unsigned type, unsigned* mhz) {
  if (type != nvml::kClockSm) return nvml::kNotSupported;
  return ReadField("nvmlDeviceGetMaxClockInfo", device, "max_clock_sm", mhz);
}

FAKE_EXPORT nvmlDeviceGetTemperature(nvml::Device device, unsigned sensor, unsigned* c) {
  if (sensor != nvml::kTemperatureGpu) return nvml::kInvalidArgument;
  return ReadField("nvmlDeviceGetTemperature", device, "temperature", c);
}

#ifndef KESTREL_FAKE_NVML_OLD
FAKE_EXPORT nvmlDeviceGetEncoderUtilization(nvml::Device device, unsigned* u, unsigned* period) {
  *period = 167000;
  return ReadField("nvmlDeviceGetEncoderUtilization", device, "encoder", u);
}

FAKE_EXPORT nvmlDeviceGetDecoderUtilization(nvml::Device device, unsigned* u, unsigned* period) {
  *period = 167000;
  return ReadField("nvmlDeviceGetDecoderUtilization", device, "decoder", u);
}

FAKE_EXPORT nvmlDeviceGetPcieThroughput(nvml::Device device, unsigned counter, unsigned* kbps) {
  if (counter > 1) return nvml::kInvalidArgument;
  return ReadField("nvmlDeviceGetPcieThroughput", device, counter == 0 ? "pcie_tx" : "pcie_rx",
                   kbps);
}

FAKE_EXPORT nvmlDeviceGetCurrentClocksThrottleReasons(nvml::Device device,
                                                      unsigned long long* reasons) {
  return ReadField("nvmlDeviceGetCurrentClocksThrottleReasons", device, "throttle", reasons);
}

FAKE_EXPORT nvmlGpmQueryDeviceSupport(nvml::Device device, nvml::GpmSupport* support) {
  FakeGpu* gpu;
  Return result = Enter("nvmlGpmQueryDeviceSupport", device, &gpu);
  if (result != 0) return result;
  if (support->version != nvml::kGpmStructVersion) return kArgumentVersionMismatch;
  support->isSupportedDevice = gpu->gpm ? 1 : 0;
  return 0;
}

FAKE_EXPORT nvmlGpmSampleAlloc(nvml::GpmSample* sample) {
  Record("nvmlGpmSampleAlloc", nullptr);
  if (sample == nullptr) return nvml::kInvalidArgument;
  *sample = reinterpret_cast<nvml::GpmSample>(new FakeSample);
  return 0;
}

FAKE_EXPORT nvmlGpmSampleFree(nvml::GpmSample sample) {
  Record("nvmlGpmSampleFree", nullptr);
  delete reinterpret_cast<FakeSample*>(sample);
  return 0;
}

FAKE_EXPORT nvmlGpmSampleGet(nvml::Device device, nvml::GpmSample sample) {
  FakeGpu* gpu;
  Return result = Enter("nvmlGpmSampleGet", device, &gpu);
  if (result != 0) return result;
  if (sample == nullptr || !gpu->gpm) return nvml::kInvalidArgument;
  auto* taken = reinterpret_cast<FakeSample*>(sample);
  taken->gpu = gpu;
  taken->at = std::chrono::steady_clock::now();
  return 0;
}

FAKE_EXPORT nvmlGpmMetricsGet(nvml::GpmMetricsGet* m) {
  Record("nvmlGpmMetricsGet", nullptr);
  if (m == nullptr || m->version != nvml::kGpmStructVersion) return kArgumentVersionMismatch;
  auto* first = reinterpret_cast<FakeSample*>(m->sample1);
  auto* second = reinterpret_cast<FakeSample*>(m->sample2);
  if (first == nullptr || second == nullptr || first->gpu == nullptr ||
      first->gpu != second->gpu || m->numMetrics > nvml::kGpmMetricsMax ||
      second->at - first->at <= std::chrono::milliseconds(100))
    return nvml::kInvalidArgument;
  size_t call = static_cast<size_t>(fake().metricsCalls++);
  for (unsigned i = 0; i < m->numMetrics; ++i) {
    nvml::GpmMetric& metric = m->metrics[i];
    auto found = first->gpu->metrics.find(metric.metricId);
    if (found == first->gpu->metrics.end()) {
      metric.nvmlReturn = nvml::kNotSupported;
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
extern "C" KESTREL_EXPORT long NVML_CALL FakeNvmlCalls(const char* function) {
  auto count = [](const char* name) {
    auto found = fake().calls.find(name);
    return found == fake().calls.end() ? 0 : found->second;
  };
  if (std::strcmp(function, "reading") != 0) return count(function);
  long total = 0;
  for (const char* name :
       {"nvmlDeviceGetUtilizationRates", "nvmlDeviceGetEncoderUtilization",
        "nvmlDeviceGetDecoderUtilization", "nvmlDeviceGetFanSpeed", "nvmlDeviceGetMemoryInfo",
        "nvmlDeviceGetPowerUsage", "nvmlDeviceGetEnforcedPowerLimit", "nvmlDeviceGetClockInfo",
        "nvmlDeviceGetTemperature", "nvmlDeviceGetPcieThroughput",
        "nvmlDeviceGetCurrentClocksThrottleReasons", "nvmlGpmSampleGet"})
    total += count(name);
  return total;
}
