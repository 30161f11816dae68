// A reading in the Prometheus text exposition format (version 0.0.4).
#pragma once

#include <string>
#include <string_view>

#include "counter_session.h"

namespace exporter {

inline constexpr char kExpositionType[] = "text/plain; version=0.0.4; charset=utf-8";

// The whole answer to a scrape: one gauge (or counter) family per exported
// counter that has a reading, then the exporter's own families. A failed
// reading, and a percentage over zero cycles, is left out, never written as 0.
std::string Exposition(const Snapshot& snapshot, std::string_view version);

// `value` as the format writes a float: the shortest text that reads back
// as the same double, "NaN", "+Inf", "-Inf".
std::string FormatValue(double value);

}  // namespace exporter
