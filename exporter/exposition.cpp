#include "exposition.h"

#include <charconv>
#include <cmath>
#include <map>
#include <vector>

namespace exporter {
namespace {

// A label value: '\', '"' and line feed escaped as the format asks; other
// control characters and bytes outside ASCII, which could make the text
// invalid UTF-8, become '?'.
std::string LabelValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte > 0x7e) {
      out += '?';
    } else {
      out += c;
    }
  }
  return out;
}

// HELP text: '\' and line feed escaped; the rest as for a label value.
std::string HelpText(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += byte < 0x20 || byte > 0x7e ? '?' : c;
  }
  return out;
}

void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(HelpText(help)).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void Sample(std::string& out, std::string_view name, std::string_view labels, double value) {
  out.append(name);
  if (!labels.empty()) out.append("{").append(labels).append("}");
  out.append(" ").append(FormatValue(value)).append("\n");
}

std::string Label(std::string_view name, std::string_view value) {
  return std::string(name) + "=\"" + LabelValue(value) + "\"";
}

// The metric's value of a reading, or NaN when it has none (a percentage
// over zero cycles).
double MetricValue(const ExportedCounter& counter, const CounterValue& reading) {
  const MetricName& metric = counter.metric;
  if (metric.ratio)
    return reading.cycles == 0 ? NAN
                               : static_cast<double>(reading.value) / static_cast<double>(reading.cycles);
  return static_cast<double>(reading.value) * metric.multiplier / metric.divisor;
}

std::string UnitHelp(const MetricName& metric) {
  if (metric.ratio) return "as a ratio of 0 to 1";
  if (!metric.unitWords.empty()) {
    std::string words = metric.unitWords;
    for (char& c : words)
      if (c == '_') c = ' ';
    return "in " + words;
  }
  return metric.total ? "a count" : "as the counter library reads it";
}

void CounterFamilies(std::string& out, const Snapshot& snapshot) {
  const std::vector<ExportedCounter>& counters = *snapshot.counters;
  // Families in the order of their first counter, each with its series.
  std::vector<std::string> order;
  std::map<std::string, std::vector<size_t>> members;
  for (size_t i = 0; i < counters.size(); ++i) {
    auto [entry, added] = members.try_emplace(counters[i].metric.family);
    if (added) order.push_back(entry->first);
    entry->second.push_back(i);
  }
  for (const std::string& family : order) {
    std::string indexes, samples;
    for (size_t i : members[family]) {
      const ExportedCounter& counter = counters[i];
      indexes += (indexes.empty() ? "" : ", ") + std::to_string(counter.index) + " on GPU " +
                 LabelValue(counter.metric.gpu);
      if (!snapshot.values[i].read) continue;
      double value = MetricValue(counter, snapshot.values[i]);
      if (std::isnan(value)) continue;
      Sample(samples, family, Label("gpu", counter.metric.gpu), value);
    }
    if (samples.empty()) continue;
    const MetricName& first = counters[members[family].front()].metric;
    Family(out, family, first.total ? "counter" : "gauge",
           "Counter " + first.counter + ", " + UnitHelp(first) + " (kestrelcli index " + indexes + ").");
    out += samples;
  }
}

}  // namespace

std::string FormatValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string Exposition(const Snapshot& snapshot, std::string_view version) {
  std::string out;
  const bool haveCounters = snapshot.counters != nullptr && !snapshot.counters->empty();
  if (haveCounters) {
    CounterFamilies(out, snapshot);
    const std::vector<ExportedCounter>& counters = *snapshot.counters;
    Family(out, "kestrel_index_info", "gauge",
           "Each exported counter: its GPU, name, kestrelcli index and type.");
    for (const ExportedCounter& counter : counters)
      Sample(out, "kestrel_index_info",
             Label("gpu", counter.metric.gpu) + "," + Label("counter", counter.name) + "," +
                 Label("index", std::to_string(counter.index)) + "," +
                 Label("type", counter.raw ? "raw" : "percent"),
             1);
    Family(out, "kestrel_read_errors_total", "counter",
           "Readings of each counter that failed and were left out of their scrape.");
    for (size_t i = 0; i < counters.size(); ++i)
      Sample(out, "kestrel_read_errors_total", Label("counter", counters[i].name),
             static_cast<double>(snapshot.readErrors[i]));
  }
  Family(out, "kestrel_scrape_duration_seconds", "gauge",
         "How long the counter reading of this scrape took.");
  Sample(out, "kestrel_scrape_duration_seconds", "", snapshot.seconds);
  Family(out, "kestrel_up", "gauge", "1 when the counter table is bound, 0 when not.");
  Sample(out, "kestrel_up", "", snapshot.up ? 1 : 0);
  Family(out, "kestrel_exporter_build_info", "gauge", "The exporter's version, as a label.");
  Sample(out, "kestrel_exporter_build_info", Label("version", version), 1);
  return out;
}

}  // namespace exporter
