#include "counter_double.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>

namespace testing_support {

static void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

CounterDouble::CounterDouble() : script_(dir_ / "script"), calls_(dir_ / "calls") {
  WriteFile(script_, "");
  WriteFile(calls_, "");
  SetEnvironment("KESTREL_DOUBLE_SCRIPT", script_.string());
  SetEnvironment("KESTREL_DOUBLE_CALLS", calls_.string());
}

void CounterDouble::SetScript(const std::string& script) { WriteFile(script_, script); }

std::vector<std::string> CounterDouble::Calls() const { return SplitLines(ReadFile(calls_)); }

std::string CounterDouble::NormalizedCalls() const {
  // Identifiers are recorded in upper case, pointers in lower case.
  static const std::regex pointer("0x[0-9a-f]+\\b");
  return std::regex_replace(ReadFile(calls_), pointer, "P");
}

std::string CounterDouble::CallsWithoutQueries() const {
  static const std::regex queries("(^|\n)(NVPMQueryInterface [^\n]*\n)+");
  return std::regex_replace(NormalizedCalls(), queries, "$1");
}

void CounterDouble::ClearCalls() { WriteFile(calls_, ""); }

std::string RecordedPointer(const void* pointer) {
  if (pointer == nullptr) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
  return text;
}

}  // namespace testing_support
