// A reading in the Prometheus text exposition format (version 0.0.4).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "counter_session.h"

namespace exporter {

inline constexpr char kExpositionType[] = "text/plain; version=0.0.4; charset=utf-8";

// Writes the whole answer to a scrape: one gauge (or counter) family per
// exported counter that has a reading, then the exporter's own families. A
// failed reading, and a percentage over zero cycles, is left out, never
// written as 0. What stays the same from scrape to scrape (HELP and TYPE,
// each series' name and labels) is made once for each set of exported
// counters, so that a scrape costs little more than its numbers.
class ExpositionWriter {
 public:
  explicit ExpositionWriter(std::string version) : version_(std::move(version)) {}

  // Safe from several threads at once.
  std::string Write(const Snapshot& snapshot);

 private:
  struct Layout;
  std::shared_ptr<const Layout> LayoutOf(const Snapshot& snapshot);

  std::string version_;
  std::mutex mutex_;
  std::shared_ptr<const std::vector<ExportedCounter>> counters_;  // what layout_ was made for
  std::shared_ptr<const Layout> layout_;
};

// `value` as the format writes a float: the shortest text that reads back
// as the same double, "NaN", "+Inf", "-Inf".
std::string FormatValue(double value);

}  // namespace exporter
