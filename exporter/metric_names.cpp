#include "metric_names.h"

#include <cctype>
#include <cmath>

#include "counter_units.h"

namespace exporter {
namespace {

constexpr std::string_view kPrefix = "kestrel_";
constexpr std::string_view kOwnFamilies[] = {
    "kestrel_up", "kestrel_scrape_duration_seconds", "kestrel_read_errors_total",
    "kestrel_exporter_build_info", "kestrel_index_info"};

// Prometheus keeps these endings for counters, histograms and summaries, so a
// gauge named with one ("triangle_count") gets "_value" after it.
bool HasReservedEnding(std::string_view name) {
  for (std::string_view ending : {"_total", "_count", "_sum", "_bucket", "_created", "_info"})
    if (name.ends_with(ending)) return true;
  return false;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "gpu12_power_mw" is counter "power_mw" of GPU 12; with one GPU the
// library gives no prefix, and the GPU is 0.
void SplitGpu(std::string_view name, MetricName* metric) {
  metric->gpu.assign(1, '0');
  metric->counter = std::string(name);
  if (!name.starts_with("gpu")) return;
  size_t end = 3;
  while (end < name.size() && IsDigit(name[end])) ++end;
  if (end == 3 || end + 1 >= name.size() || name[end] != '_') return;
  metric->gpu = std::string(name.substr(3, end - 3));
  metric->counter = std::string(name.substr(end + 1));
}

// Letters, digits and '_' stay; the rest, which a metric name cannot hold
// (and ':', kept for recording rules), becomes '_'.
std::string AsMetricWord(std::string_view text) {
  std::string word(text);
  for (char& c : word)
    if (!std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) > 127) c = '_';
  return word;
}

}  // namespace

MetricName MetricOf(std::string_view name, bool raw) {
  MetricName metric;
  SplitGpu(name, &metric);
  std::string base = AsMetricWord(metric.counter);
  if (!raw) {
    metric.ratio = true;
    metric.family = std::string(kPrefix) + base + "_ratio";
    return metric;
  }
  const counter_units::CounterUnit* unit = counter_units::UnitOf(base);
  if (unit == nullptr) {
    metric.family = std::string(kPrefix) + base + (HasReservedEnding(base) ? "_value" : "");
    return metric;
  }
  std::string stem = base.substr(0, base.size() - std::string_view(unit->replaced).size());
  std::string suffix = *unit->metricUnit != '\0' ? std::string("_") + unit->metricUnit : "";
  metric.family = std::string(kPrefix) + stem + suffix + (unit->total ? "_total" : "");
  metric.unitWords = unit->metricUnit;
  metric.multiplier = unit->multiplier;
  metric.divisor = unit->divisor;
  metric.total = unit->total;
  return metric;
}

double MetricValue(const MetricName& metric, uint64_t value, uint64_t cycles) {
  if (metric.ratio)
    return cycles == 0 ? NAN : static_cast<double>(value) / static_cast<double>(cycles);
  return static_cast<double>(value) * metric.multiplier / metric.divisor;
}

bool IsOwnFamily(std::string_view family) {
  for (std::string_view own : kOwnFamilies)
    if (family == own) return true;
  return false;
}

}  // namespace exporter
