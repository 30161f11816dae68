// Counter-library test double, built under the vendor's file name.
//
// Scripted by the file named in KESTREL_DOUBLE_SCRIPT, one directive a line:
//   init CODE                       Init returns CODE (default 0)
//   null ID                         NVPMQueryInterface answers null for ID (hex)
//   counter TYPE VALUE CYCLES NAME  a counter: attribute 2, value, cycles, name
//   fail FUNCTION CODE [INDEX]      FUNCTION returns CODE (for one counter only)
//   sleep FUNCTION MS               FUNCTION, once recorded, waits MS ms
//   # ...                           a comment
// The script is read again whenever the Init identifier is queried. A call
// that begins while another is inside the double records "OVERLAP FUNCTION":
// the library is not made to be entered by two threads at once.
// Every call it receives is appended, with its arguments, as one line to the
// file named in KESTREL_DOUBLE_CALLS (pointers as 0x... or null).
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform_abi.h"
#include "vendor_ids.h"

namespace {

constexpr int32_t kNoSuchCounter = 7;
constexpr int32_t kNoSuchAttribute = 9;

struct Counter {
  uint64_t type = 0;
  uint64_t value = 0;
  uint64_t cycles = 0;
  std::string name;
};

struct Failure {
  std::string function;
  int32_t code = 0;
  bool anyIndex = true;
  uint32_t index = 0;
};

// A call that takes its time, so that a test can act while it is running.
struct Pause {
  std::string function;
  int milliseconds = 0;
};

struct Script {
  int32_t initResult = 0;
  std::vector<uint32_t> nullIdentifiers;
  std::vector<Counter> counters;
  std::vector<Failure> failures;
  std::vector<Pause> pauses;
};

Script ReadScript(const char* path) {
  Script script;
  if (path == nullptr) return script;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string directive;
    words >> directive;
    if (directive == "init") {
      words >> script.initResult;
    } else if (directive == "null") {
      std::string id;
      words >> id;
      script.nullIdentifiers.push_back(static_cast<uint32_t>(std::stoul(id, nullptr, 16)));
    } else if (directive == "counter") {
      Counter counter;
      words >> counter.type >> counter.value >> counter.cycles >> std::ws;
      std::getline(words, counter.name);
      script.counters.push_back(counter);
    } else if (directive == "fail") {
      Failure failure;
      words >> failure.function >> failure.code;
      if (words >> failure.index) failure.anyIndex = false;
      script.failures.push_back(failure);
    } else if (directive == "sleep") {
      Pause pause;
      words >> pause.function >> pause.milliseconds;
      script.pauses.push_back(pause);
    }
  }
  return script;
}

Script& TheScript() {
  static Script script = ReadScript(std::getenv("KESTREL_DOUBLE_SCRIPT"));
  return script;
}

const char* RecordPath() {
  static const char* const path = std::getenv("KESTREL_DOUBLE_CALLS");
  return path;
}

void Record(const char* format, ...) {
  FILE* file = std::fopen(RecordPath(), "ab");
  if (file == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file, format, args);
  va_end(args);
  std::fputc('\n', file);
  std::fclose(file);
}

// The arguments are only formatted when there is a record to write.
#define RECORD(...)                        \
  do {                                     \
    if (RecordPath() != nullptr) Record(__VA_ARGS__); \
  } while (0)

// Pointers print the same on every C library: null or 0x followed by hex.
std::string P(const void* pointer) {
  if (pointer == nullptr) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
  return text;
}

std::atomic<int> callsInside{0};

int32_t ScriptedFailure(const char* function, uint32_t index = 0) {
  if (callsInside.fetch_add(1) != 0) RECORD("OVERLAP %s", function);
  for (const Pause& pause : TheScript().pauses)
    if (pause.function == function)
      std::this_thread::sleep_for(std::chrono::milliseconds(pause.milliseconds));
  --callsInside;
  for (const Failure& failure : TheScript().failures)
    if (failure.function == function && (failure.anyIndex || failure.index == index))
      return failure.code;
  return 0;
}

const Counter* FindCounter(uint32_t index) {
  const auto& counters = TheScript().counters;
  return index < counters.size() ? &counters[index] : nullptr;
}

uint32_t enabledCounters = 0;

int32_t KESTREL_CDECL Init() {
  RECORD("Init");
  return TheScript().initResult;
}

int32_t KESTREL_CDECL Shutdown() {
  RECORD("Shutdown");
  return ScriptedFailure("Shutdown");
}

int32_t KESTREL_CDECL RemoveAllCounters() {
  RECORD("RemoveAllCounters");
  if (int32_t code = ScriptedFailure("RemoveAllCounters")) return code;
  enabledCounters = 0;
  return 0;
}

int32_t KESTREL_CDECL GetNumCounters(uint32_t* count) {
  RECORD("GetNumCounters %s", P(count).c_str());
  if (int32_t code = ScriptedFailure("GetNumCounters")) return code;
  *count = static_cast<uint32_t>(TheScript().counters.size());
  return 0;
}

int32_t KESTREL_CDECL GetCounterName(uint32_t index, char* name, uint32_t* length) {
  RECORD("GetCounterName %u %s %s %u", index, P(name).c_str(), P(length).c_str(),
         length ? *length : 0u);
  if (int32_t code = ScriptedFailure("GetCounterName", index)) return code;
  const Counter* counter = FindCounter(index);
  if (counter == nullptr) return kNoSuchCounter;
  size_t copied = counter->name.size();
  if (*length == 0) return 0;
  if (copied > *length - 1) copied = *length - 1;
  std::memcpy(name, counter->name.data(), copied);
  name[copied] = '\0';
  *length = static_cast<uint32_t>(counter->name.size() + 1);
  return 0;
}

int32_t KESTREL_CDECL GetCounterAttribute(uint32_t index, uint32_t attribute, uint64_t* value) {
  RECORD("GetCounterAttribute %u %u %s", index, attribute, P(value).c_str());
  if (int32_t code = ScriptedFailure("GetCounterAttribute", index)) return code;
  const Counter* counter = FindCounter(index);
  if (counter == nullptr) return kNoSuchCounter;
  if (attribute != 2) return kNoSuchAttribute;
  *value = counter->type;
  return 0;
}

int32_t KESTREL_CDECL GetCounterValue(uint32_t index, uint32_t object, uint64_t* value,
                                      uint64_t* cycles) {
  RECORD("GetCounterValue %u %u %s %s", index, object, P(value).c_str(), P(cycles).c_str());
  if (int32_t code = ScriptedFailure("GetCounterValue", index)) return code;
  const Counter* counter = FindCounter(index);
  if (counter == nullptr) return kNoSuchCounter;
  *value = counter->value;
  *cycles = counter->cycles;
  return 0;
}

int32_t KESTREL_CDECL AddCounter(uint32_t index) {
  RECORD("AddCounter %u", index);
  if (int32_t code = ScriptedFailure("AddCounter", index)) return code;
  if (FindCounter(index) == nullptr) return kNoSuchCounter;
  ++enabledCounters;
  return 0;
}

// The count on entry is recorded too: a caller must not pass garbage there.
int32_t KESTREL_CDECL Sample(void* samples, uint32_t* count) {
  if (count != nullptr)
    RECORD("Sample %s %s %u", P(samples).c_str(), P(count).c_str(), *count);
  else
    RECORD("Sample %s null", P(samples).c_str());
  if (int32_t code = ScriptedFailure("Sample")) return code;
  if (count != nullptr) *count = enabledCounters;
  return 0;
}

int32_t KESTREL_CDECL Call1(const char* name, uint32_t value) {
  RECORD("%s %u", name, value);
  return ScriptedFailure(name);
}
int32_t KESTREL_CDECL CounterCall0(uint32_t v) { return Call1("CounterCall0", v); }
int32_t KESTREL_CDECL CounterCall3(uint32_t v) { return Call1("CounterCall3", v); }
int32_t KESTREL_CDECL CounterCall5(uint32_t v) { return Call1("CounterCall5", v); }
int32_t KESTREL_CDECL CounterCall6(uint32_t v) { return Call1("CounterCall6", v); }
int32_t KESTREL_CDECL CounterCall7(uint32_t v) { return Call1("CounterCall7", v); }
int32_t KESTREL_CDECL CounterCall8(uint32_t v) { return Call1("CounterCall8", v); }
int32_t KESTREL_CDECL CounterCall9(uint32_t v) { return Call1("CounterCall9", v); }
int32_t KESTREL_CDECL CounterCall18(uint32_t v) { return Call1("CounterCall18", v); }
int32_t KESTREL_CDECL CounterCall4() {
  RECORD("CounterCall4");
  return ScriptedFailure("CounterCall4");
}
int32_t KESTREL_CDECL CounterCall10(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  RECORD("CounterCall10 %u %u %u %u", a, b, c, d);
  return ScriptedFailure("CounterCall10");
}
int32_t KESTREL_CDECL CounterCall14(uint32_t a, uint32_t b) {
  RECORD("CounterCall14 %u %u", a, b);
  return ScriptedFailure("CounterCall14");
}
// The library functions that no table slot reaches only announce themselves.
int32_t KESTREL_CDECL Unreached() {
  RECORD("Unreached");
  return 0;
}

using Function = void (*)();
template <class F>
Function AsFunction(F function) {
  return reinterpret_cast<Function>(function);
}

struct Export {
  uint32_t identifier;
  Function function;
};

const Export kExports[] = {
    {vendor::kInit, AsFunction(Init)},
    {vendor::kShutdown, AsFunction(Shutdown)},
    {vendor::kGetNumCounters, AsFunction(GetNumCounters)},
    {vendor::kGetCounterName, AsFunction(GetCounterName)},
    {vendor::kGetCounterAttribute, AsFunction(GetCounterAttribute)},
    {vendor::kAddCounter, AsFunction(AddCounter)},
    {vendor::kRemoveAllCounters, AsFunction(RemoveAllCounters)},
    {vendor::kSample, AsFunction(Sample)},
    {vendor::kGetCounterValue, AsFunction(GetCounterValue)},
    {vendor::kCall0, AsFunction(CounterCall0)},
    {vendor::kCall3, AsFunction(CounterCall3)},
    {vendor::kCall4, AsFunction(CounterCall4)},
    {vendor::kCall5, AsFunction(CounterCall5)},
    {vendor::kCall6, AsFunction(CounterCall6)},
    {vendor::kCall7, AsFunction(CounterCall7)},
    {vendor::kCall8, AsFunction(CounterCall8)},
    {vendor::kCall9, AsFunction(CounterCall9)},
    {vendor::kCall10, AsFunction(CounterCall10)},
    {vendor::kCall14, AsFunction(CounterCall14)},
    {vendor::kCall18, AsFunction(CounterCall18)},
};

}  // namespace

extern "C" KESTREL_EXPORT Function KESTREL_CDECL NVPMQueryInterface(uint32_t identifier) {
  RECORD("NVPMQueryInterface 0x%08" PRIX32, identifier);
  // Each loader run starts by asking for Init: read the script again, so a
  // test can change the library between two bindings.
  if (identifier == vendor::kInit) TheScript() = ReadScript(std::getenv("KESTREL_DOUBLE_SCRIPT"));
  for (uint32_t id : TheScript().nullIdentifiers)
    if (id == identifier) return nullptr;
  for (const Export& entry : kExports)
    if (entry.identifier == identifier) return entry.function;
  for (uint32_t id : vendor::kUnreached)
    if (id == identifier) return AsFunction(Unreached);
  return nullptr;
}
