// A simulated counter library: a plausible GPU with a few dozen counters,
// raw and percentage, whose readings move over time. It lets the programs
// show something on a machine without the vendor's library.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform_abi.h"
#include "vendor_ids.h"

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kNotInitialised = 2;
constexpr int32_t kNoSuchCounter = 7;
constexpr int32_t kNoSuchAttribute = 9;

// One story: the GPU's load (gpu_busy) rises and falls; gpu_idle is the
// rest of the time; each unit is busy for a share of the time the GPU is, so
// never more; the work counts grow with the load. Hit rates and other ratios
// move on their own.
enum class Kind {
  Load,   // gpu_busy: the percentage of time the GPU works
  Idle,   // gpu_idle: 100 - the load
  Unit,   // a percentage of time: `base` percent of the time the GPU works
  Ratio,  // a percentage that is no share of time
  Count,  // raw: `base` events per second at the mean load, in step with it
  Raw,    // raw, moving on its own
};

struct SimulatedCounter {
  const char* name;
  Kind kind;
  double base;    // see Kind
  double swing;   // how far the reading moves, as a fraction of base
  double period;  // seconds for one full swing
};

constexpr double kMeanLoad = 65.0;
constexpr SimulatedCounter kLoad = {"gpu_busy", Kind::Load, kMeanLoad, 0.3, 17.0};

const SimulatedCounter kCounters[] = {
    {"gpu_idle", Kind::Idle, 0, 0, 1},
    kLoad,
    {"vertex_attribute_count", Kind::Count, 4.2e6, 0, 1},
    {"geom_busy", Kind::Unit, 18.0, 0.5, 7.0},
    {"primitive_count", Kind::Count, 1.4e6, 0, 1},
    {"culled_primitive_count", Kind::Count, 3.1e5, 0, 1},
    {"triangle_count", Kind::Count, 1.3e6, 0, 1},
    {"vertex_count", Kind::Count, 3.9e6, 0, 1},
    {"fast_z_count", Kind::Count, 8.8e6, 0, 1},
    {"shaded_pixel_count", Kind::Count, 2.1e8, 0, 1},
    {"rop_busy", Kind::Unit, 63.0, 0.3, 6.0},
    {"shader_busy", Kind::Unit, 90.0, 0.1, 8.0},
    {"shader_waits_for_texture", Kind::Unit, 28.0, 0.6, 10.0},
    {"shader_waits_for_geom", Kind::Unit, 6.0, 0.8, 10.0},
    {"shader_waits_for_rop", Kind::Unit, 11.0, 0.7, 10.0},
    {"texture_busy", Kind::Unit, 58.0, 0.4, 12.0},
    {"texture_waits_for_fb", Kind::Unit, 14.0, 0.6, 12.0},
    {"texture_waits_for_shader", Kind::Unit, 8.0, 0.7, 12.0},
    {"texture_sample_base_level_rate", Kind::Ratio, 61.0, 0.2, 15.0},
    {"texture_sample_average_level", Kind::Raw, 2.0, 0.5, 15.0},
    {"inst_executed_vs", Kind::Count, 6.0e7, 0, 1},
    {"inst_executed_ps", Kind::Count, 9.5e8, 0, 1},
    {"inst_executed_cs", Kind::Count, 1.2e8, 0, 1},
    {"sm_efficiency", Kind::Ratio, 83.0, 0.15, 19.0},
    {"warp_occupancy", Kind::Ratio, 57.0, 0.3, 14.0},
    {"l2_read_hit_rate", Kind::Ratio, 76.0, 0.1, 23.0},
    {"l2_write_hit_rate", Kind::Ratio, 91.0, 0.05, 23.0},
    {"fb_read_bytes", Kind::Count, 3.4e9, 0, 1},
    {"fb_write_bytes", Kind::Count, 1.1e9, 0, 1},
    {"pcie_rx_bytes", Kind::Count, 1.8e8, 0, 1},
    {"pcie_tx_bytes", Kind::Count, 2.6e7, 0, 1},
    {"ia_requests", Kind::Count, 5.5e6, 0, 1},
    {"video_engine_busy", Kind::Unit, 5.0, 0.9, 31.0},
    {"copy_engine_busy", Kind::Unit, 9.0, 0.9, 29.0},
};
constexpr uint32_t kCounterCount = sizeof kCounters / sizeof kCounters[0];
constexpr double kCyclesPerSecond = 1.2e9;  // a 1.2 GHz clock

bool initialised = false;
uint32_t enabled = 0;
double sampleTime = 0.0;      // seconds since load, at the latest Sample
double intervalSeconds = 1.0;  // length of the interval that Sample closed

double SecondsSinceLoad() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Wobble(const SimulatedCounter& counter, double t) {
  double phase = 2.0 * 3.14159265358979 * t / counter.period;
  double wobble = std::sin(phase) + 0.3 * std::sin(3.7 * phase + 1.0);
  return counter.base * (1.0 + counter.swing * wobble / 1.3);
}

double Clamp(double value, double low, double high) { return std::fmin(std::fmax(value, low), high); }

// A percentage counter's percentage, or a raw counter's events per second.
double Level(const SimulatedCounter& counter, double t) {
  const double load = Clamp(Wobble(kLoad, t), 0.0, 100.0);
  switch (counter.kind) {
    case Kind::Load: return load;
    case Kind::Idle: return 100.0 - load;
    case Kind::Unit: return Clamp(Wobble(counter, t), 0.0, 100.0) * load / 100.0;
    case Kind::Ratio: return Clamp(Wobble(counter, t), 0.0, 100.0);
    case Kind::Count: return counter.base * load / kMeanLoad;
    case Kind::Raw: return std::fmax(Wobble(counter, t), 0.0);
  }
  return 0.0;
}

int32_t KESTREL_CDECL Init() {
  initialised = true;
  sampleTime = SecondsSinceLoad();
  return kOk;
}

int32_t KESTREL_CDECL Shutdown() {
  initialised = false;
  enabled = 0;
  return kOk;
}

int32_t KESTREL_CDECL GetNumCounters(uint32_t* count) {
  if (!initialised) return kNotInitialised;
  *count = kCounterCount;
  return kOk;
}

int32_t KESTREL_CDECL GetCounterName(uint32_t index, char* name, uint32_t* length) {
  if (!initialised) return kNotInitialised;
  if (index >= kCounterCount) return kNoSuchCounter;
  size_t size = std::strlen(kCounters[index].name);
  if (*length == 0) return kOk;
  size_t copied = size < *length - 1 ? size : *length - 1;
  std::memcpy(name, kCounters[index].name, copied);
  name[copied] = '\0';
  *length = static_cast<uint32_t>(size + 1);
  return kOk;
}

int32_t KESTREL_CDECL GetCounterAttribute(uint32_t index, uint32_t attribute, uint64_t* value) {
  if (!initialised) return kNotInitialised;
  if (index >= kCounterCount) return kNoSuchCounter;
  if (attribute != 2) return kNoSuchAttribute;
  *value = kCounters[index].kind == Kind::Raw || kCounters[index].kind == Kind::Count ? 1 : 0;
  return kOk;
}

int32_t KESTREL_CDECL AddCounter(uint32_t index) {
  if (!initialised) return kNotInitialised;
  if (index >= kCounterCount) return kNoSuchCounter;
  ++enabled;
  return kOk;
}

int32_t KESTREL_CDECL RemoveAllCounters() {
  enabled = 0;
  return initialised ? kOk : kNotInitialised;
}

int32_t KESTREL_CDECL Sample(void*, uint32_t* count) {
  if (!initialised) return kNotInitialised;
  double now = SecondsSinceLoad();
  intervalSeconds = now - sampleTime > 1e-3 ? now - sampleTime : 1e-3;
  sampleTime = now;
  if (count != nullptr) *count = enabled;
  return kOk;
}

int32_t KESTREL_CDECL GetCounterValue(uint32_t index, uint32_t, uint64_t* value,
                                      uint64_t* cycles) {
  if (!initialised) return kNotInitialised;
  if (index >= kCounterCount) return kNoSuchCounter;
  const SimulatedCounter& counter = kCounters[index];
  const uint64_t elapsedCycles = static_cast<uint64_t>(intervalSeconds * kCyclesPerSecond);
  *cycles = elapsedCycles;
  if (counter.kind == Kind::Raw || counter.kind == Kind::Count) {
    *value = static_cast<uint64_t>(Level(counter, sampleTime) * intervalSeconds);
  } else if (counter.kind == Kind::Idle) {
    // The cycles the busy count leaves, so that the two add up exactly.
    *value = elapsedCycles - static_cast<uint64_t>(elapsedCycles * Level(kLoad, sampleTime) / 100.0);
  } else {
    *value = static_cast<uint64_t>(elapsedCycles * Level(counter, sampleTime) / 100.0);
  }
  return kOk;
}

int32_t KESTREL_CDECL Accepted() { return initialised ? kOk : kNotInitialised; }

using Function = void (*)();
template <class F>
Function AsFunction(F function) {
  return reinterpret_cast<Function>(function);
}

struct Export {
  uint32_t identifier;
  Function function;
};

const Export kExports[] = {
    {vendor::kInit, AsFunction(Init)},
    {vendor::kShutdown, AsFunction(Shutdown)},
    {vendor::kGetNumCounters, AsFunction(GetNumCounters)},
    {vendor::kGetCounterName, AsFunction(GetCounterName)},
    {vendor::kGetCounterAttribute, AsFunction(GetCounterAttribute)},
    {vendor::kAddCounter, AsFunction(AddCounter)},
    {vendor::kRemoveAllCounters, AsFunction(RemoveAllCounters)},
    {vendor::kSample, AsFunction(Sample)},
    {vendor::kGetCounterValue, AsFunction(GetCounterValue)},
};

}  // namespace

// Every function the programs do not use answers success and does nothing.
extern "C" KESTREL_EXPORT Function KESTREL_CDECL NVPMQueryInterface(uint32_t identifier) {
  for (const Export& entry : kExports)
    if (entry.identifier == identifier) return entry.function;
  return AsFunction(Accepted);
}
