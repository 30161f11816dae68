// Counter names as a library may hand them out, any bytes, through the
// exporter's metric names, text format and the live page's JSON: every line
// of the text must still be one line of Prometheus' format (a comment, or a
// valid name, labels with their quotes and escapes intact, and a value), and
// the JSON must parse, with one entry a counter and every name that was
// UTF-8 as it was.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "exposition.h"
#include "fuzz_input.h"
#include "metric_names.h"
#include "readings_json.h"

#include <nlohmann/json.hpp>

namespace {

bool NameCharacter(char c, bool first) {
  return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (!first && c >= '0' && c <= '9');
}

// Reads a metric name from `line` at `*at`; false when there is none.
bool Name(const std::string& line, size_t* at) {
  size_t start = *at;
  while (*at < line.size() && NameCharacter(line[*at], *at == start)) ++*at;
  return *at > start;
}

// A sample line: name, optional {label="value",...}, a space, a value
// without blanks. Label values end at an unescaped quote.
bool SampleLine(const std::string& line) {
  size_t at = 0;
  if (!Name(line, &at)) return false;
  if (at < line.size() && line[at] == '{') {
    do {
      ++at;
      if (!Name(line, &at) || line.compare(at, 2, "=\"") != 0) return false;
      for (at += 2; at < line.size() && line[at] != '"'; ++at) {
        auto byte = static_cast<unsigned char>(line[at]);
        if (byte < 0x20 || byte > 0x7e) return false;
        if (line[at] == '\\' && (++at >= line.size() || std::strchr("\\\"n", line[at]) == nullptr))
          return false;
      }
      if (++at > line.size()) return false;
    } while (at < line.size() && line[at] == ',');
    if (at >= line.size() || line[at++] != '}') return false;
  }
  return at < line.size() && line[at] == ' ' && at + 1 < line.size() &&
         line.find(' ', at + 1) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  auto counters = std::make_shared<std::vector<exporter::ExportedCounter>>();
  exporter::Snapshot snapshot;
  // One counter a NUL-separated part; its first byte picks its type and
  // whether its reading failed.
  for (size_t start = 0, index = 0; start < input.size(); ++index) {
    size_t end = input.find('\0', start);
    if (end == std::string::npos) end = input.size();
    std::string part = input.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    exporter::ExportedCounter counter;
    counter.index = static_cast<uint32_t>(index);
    counter.raw = (part[0] & 1) != 0;
    counter.name = part.substr(1);
    counter.metric = exporter::MetricOf(counter.name, counter.raw);
    fuzz::Require(!counter.metric.family.empty(), "every counter has a metric name");
    counters->push_back(counter);
    snapshot.values.push_back({(part[0] & 2) == 0, static_cast<uint64_t>(part.size()) << 40,
                               static_cast<uint64_t>(part[0] & 4)});
    snapshot.readErrors.push_back(index);
  }
  snapshot.up = true;
  snapshot.counters = counters;
  exporter::ExpositionWriter writer("fuzz \"version\"\n");
  std::string text = writer.Write(snapshot);
  fuzz::Require(text == writer.Write(snapshot), "the kept layout writes what a new one writes");
  fuzz::Require(!text.empty() && text.back() == '\n', "the text ends with a line end");
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
      size_t at = 7;
      fuzz::Require(Name(line, &at) && at < line.size() && line[at] == ' ', "a comment names a metric");
      for (char c : line)
        fuzz::Require(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) <= 0x7e,
                      "a comment is printable ASCII");
    } else {
      fuzz::Require(SampleLine(line), "a sample line is name, labels and value");
    }
  }

  nlohmann::json readings;
  try {
    readings = nlohmann::json::parse(exporter::ReadingsJson(snapshot));
  } catch (const nlohmann::json::exception&) {
    fuzz::Require(false, "the readings are JSON");
  }
  fuzz::Require(readings["counters"].size() == counters->size(), "one entry a counter");
  for (size_t i = 0; i < counters->size(); ++i) {
    const std::string& name = (*counters)[i].name;
    bool utf8 = true;
    try {
      (void)nlohmann::json(name).dump();
    } catch (const nlohmann::json::exception&) {
      utf8 = false;
    }
    if (utf8) fuzz::Require(readings["counters"][i]["name"] == name, "a UTF-8 name is kept as it is");
  }
  return 0;
}
