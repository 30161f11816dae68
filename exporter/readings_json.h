// A reading as the live page takes it: JSON, each counter with its GPU, the
// unit of its metric and its value in that unit.
#pragma once

#include <string>

#include "counter_session.h"

namespace exporter {

inline constexpr char kJsonType[] = "application/json";

// {"time":<seconds since 1970, to the millisecond>,"up":<bool>,
//  "counters":[{"name","gpu","counter","unit","value"}, ...]}
// "unit" is the metric's base unit ("watts"), "ratio" for a percentage, or
// "" for none. "value" is null where the metric has none (a failed reading,
// a percentage over zero cycles). Every string is escaped by the one JSON
// library, and bytes that are not UTF-8 become U+FFFD: counter names come
// from a library.
std::string ReadingsJson(const Snapshot& snapshot);

}  // namespace exporter
