#include "counter_session.h"

#include <chrono>
#include <set>
#include <utility>

#include "counter_api.h"
#include "counter_interface.h"
#include "log.h"

namespace exporter {
namespace {

using counter_interface::kNameBufferSize;
using counter_interface::kTypeAttribute;

std::string Code(int32_t code) { return std::to_string(code); }

// The binding layer's own codes, in words; any other code is the library's.
std::string BindFailure(int32_t code) {
  switch (code) {
    case kBindingFailed: return "the counter library cannot be bound";
    case kLibraryNotLoadable: return "the counter library cannot be loaded";
    case kNotBound: return "the counter library lacks an entry point";
    default: return "the counter library refused to start";
  }
}

bool ReadName(uint32_t index, std::string* name, int32_t* code) {
  char buffer[kNameBufferSize] = {};
  uint32_t length = kNameBufferSize;
  *code = CounterApiTable.GetCounterName(index, buffer, &length);
  buffer[kNameBufferSize - 1] = '\0';  // a library that forgets the terminator
  *name = buffer;
  return *code == 0;
}

}  // namespace

CounterSession::CounterSession(std::optional<std::regex> filter) : filter_(std::move(filter)) {
  counters_ = std::make_shared<const std::vector<ExportedCounter>>();
}

bool CounterSession::Bind() {
  int32_t code = BindCounterApi();
  uint32_t count = 0;
  if (code == 0) {
    code = CounterApiTable.GetNumCounters(&count);
    if (code != 0) CounterApiTable.Shutdown();
  }
  if (code != 0) {
    if (lastBindFailure_ != code)
      Log(Level::kError, "Cannot bind the counter table; trying again at the next scrape",
          {{"code", Code(code)}, {"why", BindFailure(code)}});
    lastBindFailure_ = code;
    return false;
  }
  lastBindFailure_.reset();
  bound_ = true;
  Enable(count);
  return true;
}

// Reads each counter's name and type, and enables those the filter lets
// through. A counter that cannot be named, typed or enabled, or whose metric
// another counter has taken already, is left out and said so once.
void CounterSession::Enable(uint32_t count) {
  auto counters = std::make_shared<std::vector<ExportedCounter>>();
  std::set<std::pair<std::string, std::string>> series;  // family and GPU
  std::map<std::string, std::string> familyCounter;      // which counter names each family
  for (uint32_t index = 0; index < count; ++index) {
    ExportedCounter counter;
    counter.index = index;
    int32_t code = 0;
    if (!ReadName(index, &counter.name, &code)) {
      Log(Level::kWarn, "Counter left out: its name cannot be read",
          {{"index", std::to_string(index)}, {"code", Code(code)}});
      continue;
    }
    if (filter_ && !std::regex_search(counter.name, *filter_)) continue;
    uint64_t type = 0;
    code = CounterApiTable.GetCounterAttribute(index, kTypeAttribute, &type);
    if (code != 0) {
      Log(Level::kWarn, "Counter left out: its type cannot be read",
          {{"counter", counter.name}, {"index", std::to_string(index)}, {"code", Code(code)}});
      continue;
    }
    counter.raw = type != 0;
    counter.metric = MetricOf(counter.name, counter.raw);
    const MetricName& metric = counter.metric;
    auto named = familyCounter.find(metric.family);
    if (IsOwnFamily(metric.family) || (named != familyCounter.end() && named->second != metric.counter) ||
        series.count({metric.family, metric.gpu}) != 0) {
      Log(Level::kWarn, "Counter left out: another metric has its name",
          {{"counter", counter.name}, {"index", std::to_string(index)}, {"metric", metric.family}});
      continue;
    }
    code = CounterApiTable.AddCounter(index);
    if (code != 0) {
      Log(Level::kWarn, "Counter left out: the counter library refused it",
          {{"counter", counter.name}, {"index", std::to_string(index)}, {"code", Code(code)}});
      continue;
    }
    // Taken only once enabled: a refused counter leaves its metric to another.
    familyCounter.emplace(metric.family, metric.counter);
    series.emplace(metric.family, metric.gpu);
    counters->push_back(std::move(counter));
  }
  Log(Level::kInfo, "Counter table bound",
      {{"counters", std::to_string(count)}, {"exported", std::to_string(counters->size())}});
  readErrors_.assign(counters->size(), 0);
  lastReadFailure_.assign(counters->size(), 0);
  counters_ = std::move(counters);
}

void CounterSession::ReportFailure(size_t i, int32_t code) {
  ++readErrors_[i];
  if (lastReadFailure_[i] == code) return;
  lastReadFailure_[i] = code;
  const ExportedCounter& counter = (*counters_)[i];
  Log(Level::kWarn, "Counter cannot be read; left out while it fails",
      {{"counter", counter.name}, {"index", std::to_string(counter.index)}, {"code", Code(code)}});
}

Snapshot CounterSession::Read() {
  auto start = std::chrono::steady_clock::now();
  Snapshot snapshot;
  snapshot.takenAt = std::chrono::system_clock::now();
  snapshot.up = Open();
  snapshot.counters = counters_;
  snapshot.values.resize(counters_->size());
  if (snapshot.up && !counters_->empty()) {
    uint32_t sampleCount = 0;  // the counter server takes it as the capacity
    int32_t sampled = CounterApiTable.Sample(nullptr, &sampleCount);
    for (size_t i = 0; i < counters_->size(); ++i) {
      const ExportedCounter& counter = (*counters_)[i];
      CounterValue& value = snapshot.values[i];
      int32_t code = sampled;
      if (code == 0) code = CounterApiTable.GetCounterValue(counter.index, 0, &value.value, &value.cycles);
      value.read = code == 0;
      if (value.read)
        lastReadFailure_[i] = 0;
      else
        ReportFailure(i, code);
    }
  }
  snapshot.readErrors = readErrors_;
  snapshot.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return snapshot;
}

bool CounterSession::Open() { return bound_ || Bind(); }

void CounterSession::Close() {
  if (!bound_) return;
  CounterApiTable.RemoveAllCounters();
  CounterApiTable.Shutdown();
  bound_ = false;
}

}  // namespace exporter
