// The exporter's use of the counter table: bind it (again, while it is not
// bound), enable the chosen counters once, and take one reading of all of
// them. The table is not thread-safe: SharedReadings makes sure only one
// thread is in here at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "metric_names.h"

namespace exporter {

// A counter that is enabled and exported.
struct ExportedCounter {
  uint32_t index = 0;
  std::string name;  // as the library names it ("gpu1_power_mw")
  bool raw = false;  // read once, when it was enabled
  MetricName metric;
};

struct CounterValue {
  bool read = false;  // false: this reading failed, and is left out
  uint64_t value = 0;
  uint64_t cycles = 0;
};

// One round of readings: what the exposition and the page are made of.
struct Snapshot {
  bool up = false;  // the counter table is bound
  std::shared_ptr<const std::vector<ExportedCounter>> counters;
  std::vector<CounterValue> values;      // one per counter
  std::vector<uint64_t> readErrors;      // failed readings of each counter so far
  double seconds = 0;                    // how long the round took
  std::chrono::system_clock::time_point takenAt;  // when the round began
};

class CounterSession {
 public:
  // `filter`: only counters whose name it matches (anywhere in the name).
  explicit CounterSession(std::optional<std::regex> filter);
  CounterSession(const CounterSession&) = delete;
  CounterSession& operator=(const CounterSession&) = delete;

  // Binds the table and enables the counters, if it is not bound. Returns
  // whether it is bound.
  bool Open();

  // Binds the table if it is not bound, then samples once and reads every
  // enabled counter. Never fails: an unbound table reads as up = false.
  Snapshot Read();

  // Disables the counters and shuts the table down, when it is bound.
  void Close();

 private:
  bool Bind();
  void Enable(uint32_t count);
  void ReportFailure(size_t counter, int32_t code);

  std::optional<std::regex> filter_;
  bool bound_ = false;
  std::optional<int32_t> lastBindFailure_;  // logged once until it changes
  std::shared_ptr<const std::vector<ExportedCounter>> counters_;
  std::vector<uint64_t> readErrors_;      // of each exported counter
  std::vector<int32_t> lastReadFailure_;  // of each: 0, or the code logged until it changes
};

}  // namespace exporter
