// The log line of a poll with arbitrary source names and readings, and the
// locale-free number formatting and parsing it relies on, each checked
// against the C library in the "C" locale.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "log.h"
#include "numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  float reading;
  std::memcpy(&reading, data, sizeof reading);
  std::string text(reinterpret_cast<const char*>(data) + 4, size - 4);

  char number[64];
  size_t length = FormatFixed(reading, number, sizeof number);
  char expected[400];
  std::snprintf(expected, sizeof expected, "%f", static_cast<double>(reading));
  fuzz::Require(std::strncmp(number, expected, sizeof number - 1) == 0, "FormatFixed is %f");
  fuzz::Require(length == std::strlen(number), "FormatFixed counts what it wrote");

  char line[kLogTextSize];
  int written = FormatLogText(line, "GetSourceData(%u) - %s -  %s", static_cast<unsigned>(size),
                              text.c_str(), number);
  fuzz::Require(std::memchr(line, '\0', sizeof line) != nullptr, "the log text is terminated");
  fuzz::Require(written == static_cast<int>(std::strlen(line)), "FormatLogText counts what it kept");

  float parsed = 0.0f;
  const char* start = text.c_str();
  if (ParseLeadingFloat(start, &parsed)) {
    // Compare with strtof where both read decimal notation and the result
    // is in range; strtof also reads hex, inf and nan, which "%f" here does not.
    char* end = nullptr;
    errno = 0;
    float reference = std::strtof(start, &end);
    bool decimal = std::strpbrk(start, "xXiInN") == nullptr;
    if (decimal && errno == 0)
      fuzz::Require(std::memcmp(&parsed, &reference, sizeof parsed) == 0, "ParseLeadingFloat is %f");
  }
  return 0;
}
