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

enum class Kind { Raw, Percent };

struct SimulatedCounter {
  const char* name;
  Kind kind;
  double base;    // raw: events per second; percent: the mean percentage
  double swing;   // how far the reading moves, as a fraction of base
  double period;  // seconds for one full swing
};

const SimulatedCounter kCounters[] = {
    {"gpu_idle", Kind::Percent, 35.0, 0.6, 17.0},
    {"gpu_busy", Kind::Percent, 65.0, 0.3, 17.0},
    {"vertex_attribute_count", Kind::Raw, 4.2e6, 0.4, 9.0},
    {"geom_busy", Kind::Percent, 12.0, 0.5, 7.0},
    {"primitive_count", Kind::Raw, 1.4e6, 0.4, 9.0},
    {"culled_primitive_count", Kind::Raw, 3.1e5, 0.5, 11.0},
    {"triangle_count", Kind::Raw, 1.3e6, 0.4, 9.0},
    {"vertex_count", Kind::Raw, 3.9e6, 0.4, 9.0},
    {"fast_z_count", Kind::Raw, 8.8e6, 0.3, 13.0},
    {"shaded_pixel_count", Kind::Raw, 2.1e8, 0.3, 5.0},
    {"rop_busy", Kind::Percent, 41.0, 0.4, 6.0},
    {"shader_busy", Kind::Percent, 72.0, 0.2, 8.0},
    {"shader_waits_for_texture", Kind::Percent, 18.0, 0.6, 10.0},
    {"shader_waits_for_geom", Kind::Percent, 4.0, 0.8, 10.0},
    {"shader_waits_for_rop", Kind::Percent, 7.0, 0.7, 10.0},
    {"texture_busy", Kind::Percent, 38.0, 0.4, 12.0},
    {"texture_waits_for_fb", Kind::Percent, 9.0, 0.6, 12.0},
    {"texture_waits_for_shader", Kind::Percent, 5.0, 0.7, 12.0},
    {"texture_sample_base_level_rate", Kind::Percent, 61.0, 0.2, 15.0},
    {"texture_sample_average_level", Kind::Raw, 2.0, 0.5, 15.0},
    {"inst_executed_vs", Kind::Raw, 6.0e7, 0.3, 9.0},
    {"inst_executed_ps", Kind::Raw, 9.5e8, 0.3, 5.0},
    {"inst_executed_cs", Kind::Raw, 1.2e8, 0.6, 21.0},
    {"sm_efficiency", Kind::Percent, 83.0, 0.15, 19.0},
    {"warp_occupancy", Kind::Percent, 57.0, 0.3, 14.0},
    {"l2_read_hit_rate", Kind::Percent, 76.0, 0.1, 23.0},
    {"l2_write_hit_rate", Kind::Percent, 91.0, 0.05, 23.0},
    {"fb_read_bytes", Kind::Raw, 3.4e9, 0.4, 8.0},
    {"fb_write_bytes", Kind::Raw, 1.1e9, 0.4, 8.0},
    {"pcie_rx_bytes", Kind::Raw, 1.8e8, 0.8, 27.0},
    {"pcie_tx_bytes", Kind::Raw, 2.6e7, 0.8, 27.0},
    {"ia_requests", Kind::Raw, 5.5e6, 0.4, 9.0},
    {"video_engine_busy", Kind::Percent, 3.0, 0.9, 31.0},
    {"copy_engine_busy", Kind::Percent, 6.0, 0.9, 29.0},
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

double Level(const SimulatedCounter& counter, double t) {
  double phase = 2.0 * 3.14159265358979 * t / counter.period;
  double wobble = std::sin(phase) + 0.3 * std::sin(3.7 * phase + 1.0);
  return counter.base * (1.0 + counter.swing * wobble / 1.3);
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
  *value = kCounters[index].kind == Kind::Raw ? 1 : 0;
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
  double level = Level(counter, sampleTime);
  double elapsedCycles = intervalSeconds * kCyclesPerSecond;
  if (counter.kind == Kind::Percent) {
    if (level > 100.0) level = 100.0;
    if (level < 0.0) level = 0.0;
    *cycles = static_cast<uint64_t>(elapsedCycles);
    *value = static_cast<uint64_t>(elapsedCycles * level / 100.0);
  } else {
    *cycles = static_cast<uint64_t>(elapsedCycles);
    *value = static_cast<uint64_t>(std::fmax(level, 0.0) * intervalSeconds);
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
