// The units a counter's name ends in, written once: kestrelhost init takes
// the Dim and scaling it writes into a configuration from here, and
// kestrel-exporter the base unit and factor of each metric.
#pragma once

#include <string_view>

namespace counter_units {

struct CounterUnit {
  const char* suffix;      // how the counter's name ends ("_mw")
  const char* replaced;    // the end of the name the metric's unit takes the place of
  const char* dim;         // the units a monitoring host shows ("W"), or null for none
  const char* modifier;    // the ModType and ModFactor lines that scale to dim, or ""
  const char* metricUnit;  // the Prometheus base unit the metric is named with ("watts")
  double multiplier;       // a reading times this, divided by divisor, is in that unit:
  double divisor;          // two exact factors, so that 51000 mW reads 51 W exactly
  bool total;              // a count that only grows: a Prometheus counter, named _total
};
// A count that only grows ("pcie_replay_count") has no unit word: its metric
// drops "_count" and ends in "_total" ("kestrel_pcie_replay_total").

// The unit of a counter named `name` (with or without its "gpuK_" prefix),
// or nullptr when its name ends in none of ours.
const CounterUnit* UnitOf(std::string_view name);

}  // namespace counter_units
