#include "counter_units.h"

namespace counter_units {
namespace {

constexpr double kMega = 1e6;
constexpr double kKilo = 1e3;
constexpr double kMebi = 1024.0 * 1024.0;

// NVML's KB/s are thousands of bytes, as its throughput documentation says.
// An empty metricUnit: the count has no unit to name, so the metric's name
// drops the suffix and ends in _total alone (pcie_replay_count is
// pcie_replay_total). A count keeps init's Dim=Raw, as any raw counter
// without a unit of its own.
constexpr CounterUnit kUnits[] = {
    {"_mhz", "MHz", "", "hertz", kMega, false},
    {"_mw", "W", "ModType=2\nModFactor=1000\n", "watts", 1 / kKilo, false},
    {"_c", "C", "", "celsius", 1, false},
    {"_mib", "MiB", "", "bytes", kMebi, false},
    {"_mibps", "MiB/s", "", "bytes_per_second", kMebi, false},
    {"_kbps", "MB/s", "ModType=2\nModFactor=1000\n", "bytes_per_second", kKilo, false},
    {"_mj", "J", "ModType=2\nModFactor=1000\n", "joules", 1 / kKilo, true},
    {"_count", "Raw", "", "", 1, true},
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
