// How a counter of the counter library becomes a Prometheus metric: the
// family named from the counter's name in base units, the GPU label, and
// the factor from a reading to the metric's value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace exporter {

struct MetricName {
  std::string family;     // "kestrel_power_watts"
  std::string gpu;        // the K of a "gpuK_" name, else "0"
  std::string counter;    // the counter's name without that prefix ("power_mw")
  std::string unitWords;  // how HELP names the unit ("watts"), or ""
  double multiplier = 1;  // a reading times multiplier, divided by divisor
  double divisor = 1;
  bool ratio = false;     // a percentage counter: value / cycles, 0 to 1
  bool total = false;     // a count that only grows: TYPE counter
};

// The metric of counter `name`, raw (its type attribute non-zero) or a
// percentage. Characters a metric name cannot hold become '_'.
MetricName MetricOf(std::string_view name, bool raw);

// The metric's value of a reading (`value` over `cycles`), or NaN when it
// has none: a percentage over zero cycles.
double MetricValue(const MetricName& metric, uint64_t value, uint64_t cycles);

// True for the families the exporter writes of its own, which no counter
// may take.
bool IsOwnFamily(std::string_view family);

}  // namespace exporter
