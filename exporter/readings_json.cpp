#include "readings_json.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace exporter {
namespace {

// The unit word of a metric, as the page groups counters by it.
std::string UnitWord(const MetricName& metric) {
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
    counters.get_ref<json::array_t&>().reserve(snapshot.counters->size());
    for (size_t i = 0; i < snapshot.counters->size(); ++i) {
      const ExportedCounter& counter = (*snapshot.counters)[i];
      const CounterValue& reading = snapshot.values[i];
      double value = reading.read ? MetricValue(counter.metric, reading.value, reading.cycles) : NAN;
      // Filled key by key: an initializer list would copy every value twice.
      json& entry = counters.emplace_back(json::object());
      entry["name"] = counter.name;
      entry["gpu"] = counter.metric.gpu;
      entry["counter"] = counter.metric.counter;
      entry["unit"] = UnitWord(counter.metric);
      entry["value"] = std::isfinite(value) ? json(value) : json(nullptr);
    }
  }
  json reading = {{"time", static_cast<double>(millis) / 1000.0},
                  {"up", snapshot.up},
                  {"counters", std::move(counters)}};
  return reading.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace exporter
