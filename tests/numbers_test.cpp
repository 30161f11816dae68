// The number readers and the number printer over the table in numbers/cases:
// each line's result is worked out again here, so the whole file is the
// expected output and a difference shows as a changed line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "numbers.h"
#include "scratch.h"

namespace {

std::string Result(const std::string& kind, const std::string& text) {
  if (kind.starts_with("fixed:")) {
    std::string buffer(std::stoul(kind.substr(6)), '#');
    size_t length = FormatFixed(std::strtod(text.c_str(), nullptr), buffer.data(), buffer.size());
    buffer.resize(std::strlen(buffer.c_str()));
    return length == buffer.size() ? buffer : buffer + " but counted " + std::to_string(length);
  }
  int32_t integer = 99;
  float number = 99.0f;
  const char* end = nullptr;
  bool read = kind == "int" ? ParseLeadingInt(text.c_str(), &integer, &end)
                            : ParseLeadingFloat(text.c_str(), &number, &end);
  char shown[64];  // nine digits tell every float apart
  std::snprintf(shown, sizeof shown, "%.9g", number);
  const std::string value = kind == "int" ? std::to_string(integer) : shown;
  if (!read) return value == "99" && end == text.c_str() ? "none" : "none, yet " + value;
  return *end == '\0' ? value : value + " [" + end + "]";
}

TEST(Numbers, TextsReadAndValuesPrintAsTheCasesSay) {
  using namespace testing_support;
  const std::string cases = ReadFile(KESTREL_NUMBERS_CASES);
  EXPECT_EQ(WorkedOut(cases,
                      [](const std::string& input, const std::string&) {
                        const size_t blank = input.find(' ');
                        return Result(input.substr(0, blank), Unescaped(input.substr(blank + 1)));
                      }),
            cases);
}

}  // namespace
