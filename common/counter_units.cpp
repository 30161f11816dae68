#include "counter_units.h"

namespace counter_units {
namespace {

constexpr double kMega = 1e6;
constexpr double kKilo = 1e3;
constexpr double kMebi = 1024.0 * 1024.0;

// KB/s are taken as thousands of bytes a second, as init's MB/s take them.
constexpr CounterUnit kUnits[] = {
    {"_mhz", "_mhz", "MHz", "", "hertz", kMega, 1, false},
    {"_mw", "_mw", "W", "ModType=2\nModFactor=1000\n", "watts", 1, kKilo, false},
    {"_c", "_c", "C", "", "celsius", 1, 1, false},
    {"_mib", "_mib", "MiB", "", "bytes", kMebi, 1, false},
    {"_mibps", "_mibps", "MiB/s", "", "bytes_per_second", kMebi, 1, false},
    {"_kbps", "_kbps", "MB/s", "ModType=2\nModFactor=1000\n", "bytes_per_second", kKilo, 1, false},
    {"_mj", "_mj", "J", "ModType=2\nModFactor=1000\n", "joules", 1, kKilo, true},
    // The counts NVML keeps since the driver loaded. Other counts (the
    // simulated GPU's, a count per sample) stay gauges.
    {"_replay_count", "_count", nullptr, "", "", 1, 1, true},
    {"corrected_count", "_count", nullptr, "", "", 1, 1, true},
};

}  // namespace

const CounterUnit* UnitOf(std::string_view name) {
  for (const CounterUnit& unit : kUnits) {
    std::string_view suffix = unit.suffix;
    if (name.size() > suffix.size() && name.ends_with(suffix)) return &unit;
  }
  return nullptr;
}

}  // namespace counter_units
