#include "readings_json.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace exporter {
namespace {

std::string UnitOf(const MetricName& metric) {
  if (metric.ratio) return "ratio";
  return metric.unitWords;
}

}  // namespace

std::string ReadingsJson(const Snapshot& snapshot) {
  using json = nlohmann::ordered_json;
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
      snapshot.takenAt.time_since_epoch()).count();
  json counters = json::array();
  if (snapshot.counters != nullptr) {
    for (size_t i = 0; i < snapshot.counters->size(); ++i) {
      const ExportedCounter& counter = (*snapshot.counters)[i];
      const CounterValue& reading = snapshot.values[i];
      double value = reading.read ? MetricValue(counter.metric, reading.value, reading.cycles) : NAN;
      counters.push_back({{"name", counter.name},
                          {"gpu", counter.metric.gpu},
                          {"counter", counter.metric.counter},
                          {"unit", UnitOf(counter.metric)},
                          {"value", std::isfinite(value) ? json(value) : json(nullptr)}});
    }
  }
  json reading = {{"time", static_cast<double>(millis) / 1000.0},
                  {"up", snapshot.up},
                  {"counters", std::move(counters)}};
  return reading.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace exporter
