#include "exposition.h"

#include <charconv>
#include <cmath>
#include <map>
#include <vector>

namespace exporter {
namespace {

// Text for the format: '\' and line feed escaped, and in a label value '"'
// too; other control characters and bytes outside ASCII, which could make
// the text invalid UTF-8, become '?'.
std::string Escaped(std::string_view text, bool labelValue) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || (labelValue && c == '"')) {
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

std::string LabelValue(std::string_view text) { return Escaped(text, true); }
std::string HelpText(std::string_view text) { return Escaped(text, false); }

void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(HelpText(help)).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

std::string Label(std::string_view name, std::string_view value) {
  return std::string(name) + "=\"" + LabelValue(value) + "\"";
}

// A series' name and labels, up to its value.
std::string Series(std::string_view name, std::string_view labels) {
  std::string series(name);
  if (!labels.empty()) series.append("{").append(labels).append("}");
  return series + " ";
}

void AppendValue(std::string& out, double value) {
  out += FormatValue(value);
  out += '\n';
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

}  // namespace

std::string FormatValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

struct ExpositionWriter::Layout {
  struct Family {
    std::string header;  // HELP and TYPE
    std::vector<size_t> members;
  };
  std::vector<Family> families;  // in the order of their first counter
  std::vector<std::string> series;  // of each counter
  std::string info;                 // the whole of kestrel_index_info
  std::vector<std::string> errorSeries;  // of each counter's read errors
};

std::shared_ptr<const ExpositionWriter::Layout> ExpositionWriter::LayoutOf(const Snapshot& snapshot) {
  std::lock_guard lock(mutex_);
  if (layout_ != nullptr && counters_ == snapshot.counters) return layout_;
  auto layout = std::make_shared<Layout>();
  static const std::vector<ExportedCounter> kNone;
  const std::vector<ExportedCounter>& counters = snapshot.counters ? *snapshot.counters : kNone;
  std::map<std::string, size_t> familyOf;
  for (size_t i = 0; i < counters.size(); ++i) {
    const MetricName& metric = counters[i].metric;
    auto [entry, added] = familyOf.try_emplace(metric.family, layout->families.size());
    if (added) layout->families.emplace_back();
    layout->families[entry->second].members.push_back(i);
    layout->series.push_back(Series(metric.family, Label("gpu", metric.gpu)));
  }
  for (Layout::Family& family : layout->families) {
    std::string indexes;
    for (size_t i : family.members)
      indexes += (indexes.empty() ? "" : ", ") + std::to_string(counters[i].index) + " on GPU " +
                 LabelValue(counters[i].metric.gpu);
    const MetricName& first = counters[family.members.front()].metric;
    Family(family.header, first.family, first.total ? "counter" : "gauge",
           "Counter " + first.counter + ", " + UnitHelp(first) + " (kestrelcli index " + indexes + ").");
  }
  if (!counters.empty()) {
    Family(layout->info, "kestrel_index_info", "gauge",
           "Each exported counter: its GPU, name, kestrelcli index and type.");
    for (const ExportedCounter& counter : counters)
      layout->info += Series("kestrel_index_info",
                             Label("gpu", counter.metric.gpu) + "," + Label("counter", counter.name) +
                                 "," + Label("index", std::to_string(counter.index)) + "," +
                                 Label("type", counter.raw ? "raw" : "percent")) + "1\n";
    Family(layout->info, "kestrel_read_errors_total", "counter",
           "Readings of each counter that failed and were left out of their scrape.");
    for (const ExportedCounter& counter : counters)
      layout->errorSeries.push_back(Series("kestrel_read_errors_total", Label("counter", counter.name)));
  }
  counters_ = snapshot.counters;
  layout_ = layout;
  return layout;
}

std::string ExpositionWriter::Write(const Snapshot& snapshot) {
  std::shared_ptr<const Layout> layout = LayoutOf(snapshot);
  std::string out;
  out.reserve(layout->info.size() * 3 + 1024);
  const std::vector<ExportedCounter>* counters = snapshot.counters.get();
  for (const Layout::Family& family : layout->families) {
    size_t start = out.size();
    out += family.header;
    bool any = false;
    for (size_t i : family.members) {
      if (!snapshot.values[i].read) continue;
      const CounterValue& reading = snapshot.values[i];
      double value = MetricValue((*counters)[i].metric, reading.value, reading.cycles);
      if (std::isnan(value)) continue;
      out += layout->series[i];
      AppendValue(out, value);
      any = true;
    }
    if (!any) out.resize(start);  // a family without a reading is left out whole
  }
  out += layout->info;
  for (size_t i = 0; i < layout->errorSeries.size(); ++i) {
    out += layout->errorSeries[i];
    AppendValue(out, static_cast<double>(snapshot.readErrors[i]));
  }
  Family(out, "kestrel_scrape_duration_seconds", "gauge",
         "How long the counter reading of this scrape took.");
  out += "kestrel_scrape_duration_seconds ";
  AppendValue(out, snapshot.seconds);
  Family(out, "kestrel_up", "gauge", "1 when the counter table is bound, 0 when not.");
  out += snapshot.up ? "kestrel_up 1\n" : "kestrel_up 0\n";
  Family(out, "kestrel_exporter_build_info", "gauge", "The exporter's version, as a label.");
  out += Series("kestrel_exporter_build_info", Label("version", version_)) + "1\n";
  return out;
}

}  // namespace exporter
