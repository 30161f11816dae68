// Kestrel's counter library over NVML, under the counter library's file name
// (libnvpmapi.so, nvpmapi.dll): the GPUs' live readings through the counter
// interface that kestrelcli, the plug-in and kestrelsrv consume.
//
// Sampling is cheap: Sample only starts a new reading. GetCounterValue then
// makes the one NVML call that feeds its counter, once per Sample, and
// counters fed by the same call share it; so a poll of one source (Sample,
// GetCounterValue, GetCounterAttribute) makes at most one NVML reading call.
// PCIe throughput, slow to read, is read at most once a second per GPU and
// direction. The performance metrics come from a new metrics sample at most
// every 100 ms per GPU, and read 0 until two samples exist.
//
// Init answers NVML's failure code negated (the binder counts anything
// non-negative as success); the other functions answer NVML's own codes.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "counter_interface.h"
#include "counters.h"
#include "nvml_abi.h"
#include "platform.h"
#include "platform_abi.h"

namespace nvpm {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSlowInterval = std::chrono::seconds(1);
constexpr auto kMetricsInterval = std::chrono::milliseconds(100);
using counter_interface::kTypeAttribute;

struct Gpu {
  nvml::Device device = nullptr;
  nvml::PciInfo pci{};
  nvml::Return openResult = nvml::kSuccess;  // handle or bus id not to be had
  bool lost = false;

  Readings readings;
  uint64_t readAt[kFeedCount] = {};  // the Sample round of each feed's reading
  nvml::Return result[kFeedCount] = {};
  Clock::time_point slowAt[kFeedCount];  // when a slow feed was last read
  bool slowRead[kFeedCount] = {};

  // Performance metrics: the two latest samples, older first.
  nvml::Return metricsSupport = nvml::kNotSupported;
  nvml::GpmSample samples[2] = {};
  int samplesTaken = 0;
  Clock::time_point sampledAt;
  nvml::GpmMetricsGet metrics{};
  nvml::Return metricsResult = nvml::kSuccess;
};

struct Counter {
  bool enabled = false;
  nvml::Return refusal = nvml::kInvalidArgument;  // why it is not enabled
};

struct State {
  std::mutex lock;
  bool initialised = false;
  Nvml nvml;
  std::vector<Gpu> gpus;  // in PCI bus order
  std::vector<Counter> counters;
  uint64_t round = 1;  // advanced by every Sample
};

State& state() {
  static State instance;
  return instance;
}

// Counter-major numbering: index = position * GPUs + GPU (see counters.h).
uint32_t PositionOf(const State& s, uint32_t index) {
  return index / static_cast<uint32_t>(s.gpus.size());
}
uint32_t GpuOf(const State& s, uint32_t index) {
  return index % static_cast<uint32_t>(s.gpus.size());
}

// A code that the binder makes itself would be taken for its own; such an
// NVML failure is reported as NVML's "unknown error".
int32_t InitFailure(nvml::Return code) {
  if (code <= 0 || counter_interface::IsBinderResult(-code)) return -nvml::kUnknown;
  return -code;
}

bool Resolve(Nvml& nvml) {
  int resolved = 0;
  int index = 0;
#define KESTREL_NVML_RESOLVE(name, params)                                                  \
  nvml.name = reinterpret_cast<decltype(nvml.name)>(platform::FindExport(nvml.library, #name)); \
  if (index++ < nvml::kRequiredFunctionCount && nvml.name != nullptr) ++resolved;
  KESTREL_NVML_FUNCTIONS(KESTREL_NVML_RESOLVE)
#undef KESTREL_NVML_RESOLVE
  return resolved == nvml::kRequiredFunctionCount;
}

void FreeSamples(State& s) {
  for (Gpu& gpu : s.gpus)
    for (nvml::GpmSample& sample : gpu.samples)
      if (sample != nullptr && s.nvml.nvmlGpmSampleFree != nullptr) {
        s.nvml.nvmlGpmSampleFree(sample);
        sample = nullptr;
      }
}

void Release(State& s, bool shutDown) {
  FreeSamples(s);
  if (shutDown) s.nvml.nvmlShutdown();
  platform::UnloadLibrary(s.nvml.library);
  s.nvml = Nvml{};
  s.gpus.clear();
  s.counters.clear();
  s.initialised = false;
}

bool BusOrder(const Gpu& a, const Gpu& b) {
  // GPUs whose bus id cannot be read go last, in enumeration order.
  if ((a.openResult != 0) != (b.openResult != 0)) return a.openResult == 0;
  if (a.openResult != 0) return false;
  return std::tie(a.pci.domain, a.pci.bus, a.pci.device) <
         std::tie(b.pci.domain, b.pci.bus, b.pci.device);
}

void OpenGpu(const Nvml& nvml, unsigned index, Gpu& gpu) {
  gpu.openResult = nvml.nvmlDeviceGetHandleByIndex_v2(index, &gpu.device);
  if (gpu.openResult == 0) gpu.openResult = nvml.nvmlDeviceGetPciInfo_v3(gpu.device, &gpu.pci);
  if (gpu.openResult != 0) return;
  if (nvml.nvmlGpmQueryDeviceSupport == nullptr || nvml.nvmlGpmSampleGet == nullptr ||
      nvml.nvmlGpmMetricsGet == nullptr || nvml.nvmlGpmSampleAlloc == nullptr) {
    gpu.metricsSupport = nvml::kFunctionNotFound;
    return;
  }
  nvml::GpmSupport support{};
  support.version = nvml::kGpmStructVersion;
  gpu.metricsSupport = nvml.nvmlGpmQueryDeviceSupport(gpu.device, &support);
  if (gpu.metricsSupport == 0 && !support.isSupportedDevice) gpu.metricsSupport = nvml::kNotSupported;
}

int32_t KESTREL_CDECL Init() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.initialised) return 0;  // one NVML initialisation, enabled counters kept
  s.nvml.library = platform::LoadGpuManagementLibrary();
  if (s.nvml.library == nullptr) return -nvml::kLibraryNotFound;
  if (!Resolve(s.nvml)) {
    Release(s, false);
    return -nvml::kFunctionNotFound;
  }
  nvml::Return result = s.nvml.nvmlInit_v2();
  if (result != 0) {
    Release(s, false);
    return InitFailure(result);
  }
  unsigned count = 0;
  result = s.nvml.nvmlDeviceGetCount_v2(&count);
  if (result == 0 && count == 0) result = nvml::kNotFound;
  if (result != 0) {
    Release(s, true);
    return InitFailure(result);
  }
  s.gpus.resize(count);
  for (unsigned index = 0; index < count; ++index) OpenGpu(s.nvml, index, s.gpus[index]);
  std::stable_sort(s.gpus.begin(), s.gpus.end(), BusOrder);
  s.counters.assign(s.gpus.size() * kCountersPerGpu, Counter{});
  s.initialised = true;
  return 0;
}

int32_t KESTREL_CDECL Shutdown() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.initialised) return nvml::kUninitialized;
  Release(s, true);
  return 0;
}

int32_t KESTREL_CDECL GetNumCounters(uint32_t* count) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.initialised) return nvml::kUninitialized;
  if (count == nullptr) return nvml::kInvalidArgument;
  *count = static_cast<uint32_t>(s.counters.size());
  return 0;
}

std::string CounterName(const State& s, uint32_t index) {
  const char* name = kCounters[PositionOf(s, index)].name;
  if (s.gpus.size() == 1) return name;
  return "gpu" + std::to_string(GpuOf(s, index)) + "_" + name;
}

// Copies as much of the name as fits, always terminated, and gives back the
// length the whole name needs.
int32_t KESTREL_CDECL GetCounterName(uint32_t index, char* name, uint32_t* length) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.initialised) return nvml::kUninitialized;
  if (index >= s.counters.size() || length == nullptr) return nvml::kInvalidArgument;
  if (*length == 0) return 0;
  if (name == nullptr) return nvml::kInvalidArgument;
  std::string full = CounterName(s, index);
  size_t copied = std::min<size_t>(full.size(), *length - 1);
  std::memcpy(name, full.data(), copied);
  name[copied] = '\0';
  *length = static_cast<uint32_t>(full.size() + 1);
  return 0;
}

int32_t KESTREL_CDECL GetCounterAttribute(uint32_t index, uint32_t attribute, uint64_t* value) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.initialised) return nvml::kUninitialized;
  if (index >= s.counters.size() || attribute != kTypeAttribute || value == nullptr)
    return nvml::kInvalidArgument;
  *value = kCounters[PositionOf(s, index)].type == kRaw ? 1 : 0;
  return 0;
}

// One NVML call for `feed`, whatever was read before.
nvml::Return Call(const Nvml& n, Gpu& gpu, Feed feed) {
  return kFeedCalls[feed].call(n, gpu.device, gpu.readings);
}

// The feed's reading for this Sample round: read now, unless it was read in
// this round already (or, for a slow feed, less than a second ago).
nvml::Return Read(State& s, Gpu& gpu, Feed feed) {
  if (gpu.readAt[feed] == s.round) return gpu.result[feed];
  if (kFeedCalls[feed].slow) {
    Clock::time_point now = Clock::now();
    if (gpu.slowRead[feed] && gpu.result[feed] == 0 && now - gpu.slowAt[feed] < kSlowInterval)
      return 0;
    gpu.slowRead[feed] = true;
    gpu.slowAt[feed] = now;
  }
  gpu.readAt[feed] = s.round;
  gpu.result[feed] = Call(s.nvml, gpu, feed);
  if (gpu.result[feed] == nvml::kGpuIsLost) gpu.lost = true;
  return gpu.result[feed];
}

// A new metrics sample when the latest is more than 100 ms old; the metrics
// between the two latest once there are two.
nvml::Return ReadMetrics(const Nvml& n, Gpu& gpu) {
  Clock::time_point now = Clock::now();
  if (gpu.samplesTaken > 0 && now - gpu.sampledAt <= kMetricsInterval) return gpu.metricsResult;
  std::swap(gpu.samples[0], gpu.samples[1]);
  nvml::Return result = n.nvmlGpmSampleGet(gpu.device, gpu.samples[1]);
  if (result != 0) {
    // The older sample stays usable; the failed one is taken again.
    std::swap(gpu.samples[0], gpu.samples[1]);
    if (result == nvml::kGpuIsLost) gpu.lost = true;
    return gpu.metricsResult = result;
  }
  gpu.sampledAt = now;
  if (++gpu.samplesTaken < 2) return gpu.metricsResult = 0;
  gpu.samplesTaken = 2;
  nvml::GpmMetricsGet& m = gpu.metrics;
  m = nvml::GpmMetricsGet{};
  m.version = nvml::kGpmStructVersion;
  m.sample1 = gpu.samples[0];
  m.sample2 = gpu.samples[1];
  for (const CounterDefinition& definition : kCounters)
    if (definition.feed == kMetrics) m.metrics[m.numMetrics++].metricId = definition.metric;
  result = n.nvmlGpmMetricsGet(&m);
  if (result == nvml::kGpuIsLost) gpu.lost = true;
  return gpu.metricsResult = result;
}

int32_t KESTREL_CDECL AddCounter(uint32_t index) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.initialised) return nvml::kUninitialized;
  if (index >= s.counters.size()) return nvml::kInvalidArgument;
  Counter& counter = s.counters[index];
  if (counter.enabled) return 0;
  Gpu& gpu = s.gpus[GpuOf(s, index)];
  const CounterDefinition& definition = kCounters[PositionOf(s, index)];
  nvml::Return result = gpu.openResult;
  if (result == 0 && gpu.lost) result = nvml::kGpuIsLost;
  if (result == 0 && definition.feed == kMetrics) {
    result = gpu.metricsSupport;
    for (nvml::GpmSample& sample : gpu.samples)
      if (result == 0 && sample == nullptr) result = s.nvml.nvmlGpmSampleAlloc(&sample);
  } else if (result == 0) {
    if (definition.base != kNoFeed) result = Call(s.nvml, gpu, definition.base);
    // Trying the reading tells whether this GPU offers it.
    if (result == 0) {
      gpu.readAt[definition.feed] = 0;
      result = Read(s, gpu, definition.feed);
    }
  }
  if (result == nvml::kGpuIsLost) gpu.lost = true;
  counter.enabled = result == 0;
  counter.refusal = result == 0 ? nvml::kInvalidArgument : result;
  return result;
}

int32_t KESTREL_CDECL RemoveAllCounters() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.initialised) return nvml::kUninitialized;
  std::fill(s.counters.begin(), s.counters.end(), Counter{});
  return 0;
}

// No records are written: the values are had through GetCounterValue.
int32_t KESTREL_CDECL Sample(void*, uint32_t* count) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.initialised) return nvml::kUninitialized;
  ++s.round;
  if (count != nullptr)
    *count = static_cast<uint32_t>(std::count_if(
        s.counters.begin(), s.counters.end(), [](const Counter& c) { return c.enabled; }));
  return 0;
}

int32_t KESTREL_CDECL GetCounterValue(uint32_t index, uint32_t, uint64_t* value,
                                      uint64_t* cycles) {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.initialised) return nvml::kUninitialized;
  if (index >= s.counters.size() || value == nullptr || cycles == nullptr)
    return nvml::kInvalidArgument;
  Gpu& gpu = s.gpus[GpuOf(s, index)];
  if (gpu.lost) return nvml::kGpuIsLost;
  const Counter& counter = s.counters[index];
  if (!counter.enabled) return counter.refusal;
  const CounterDefinition& definition = kCounters[PositionOf(s, index)];
  Reading reading;
  if (definition.feed == kMetrics) {
    if (gpu.readAt[kMetrics] != s.round) {
      gpu.readAt[kMetrics] = s.round;
      gpu.result[kMetrics] = ReadMetrics(s.nvml, gpu);
    }
    if (gpu.result[kMetrics] != 0) return gpu.result[kMetrics];
    if (gpu.samplesTaken >= 2) {
      const nvml::GpmMetricsGet& m = gpu.metrics;
      for (unsigned i = 0; i < m.numMetrics && i < nvml::kGpmMetricsMax; ++i) {
        if (m.metrics[i].metricId != definition.metric) continue;
        if (m.metrics[i].nvmlReturn != 0) return m.metrics[i].nvmlReturn;
        reading = FromMetric(definition, m.metrics[i].value);
      }
    }
  } else {
    nvml::Return result = Read(s, gpu, definition.feed);
    if (result != 0) return result;
    reading = definition.from(gpu.readings);
  }
  *value = reading.value;
  *cycles = reading.cycles;
  return 0;
}

using Function = void (*)();
template <class F>
Function AsFunction(F function) {
  return reinterpret_cast<Function>(function);
}

}  // namespace
}  // namespace nvpm

// The functions the programs call; every other identifier is answered with
// null, which the programs report as a function this library lacks.
extern "C" KESTREL_EXPORT nvpm::Function KESTREL_CDECL NVPMQueryInterface(uint32_t identifier) {
  using namespace nvpm;
  switch (identifier) {
    case counter_interface::kInit: return AsFunction(Init);
    case counter_interface::kShutdown: return AsFunction(Shutdown);
    case counter_interface::kGetNumCounters: return AsFunction(GetNumCounters);
    case counter_interface::kGetCounterName: return AsFunction(GetCounterName);
    case counter_interface::kGetCounterAttribute: return AsFunction(GetCounterAttribute);
    case counter_interface::kAddCounter: return AsFunction(AddCounter);
    case counter_interface::kRemoveAllCounters: return AsFunction(RemoveAllCounters);
    case counter_interface::kSample: return AsFunction(Sample);
    case counter_interface::kGetCounterValue: return AsFunction(GetCounterValue);
    default: return nullptr;
  }
}
