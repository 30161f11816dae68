// The units a counter's name ends in, written once: kestrelhost init takes
// the Dim and scaling it writes into a configuration from here, and
// kestrel-exporter the base unit and factor of each metric.
#pragma once

#include <string_view>

namespace counter_units {

struct CounterUnit {
  const char* suffix;      // how the counter's name ends ("_mw")
  const char* dim;         // the units a monitoring host shows ("W")
  const char* modifier;    // the ModType and ModFactor lines that scale to dim, or ""
  const char* metricUnit;  // the Prometheus base unit the metric is named with ("watts"; "" none)
  double toMetric;         // the factor from a reading to that base unit
  bool total;              // a count that only grows: a Prometheus counter, named _total
};

// The unit of a counter named `name` (with or without its "gpuK_" prefix),
// or nullptr when its name ends in none of ours.
const CounterUnit* UnitOf(std::string_view name);

}  // namespace counter_units
