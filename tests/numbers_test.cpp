#include <gtest/gtest.h>

#include "numbers.h"

namespace {

TEST(ParseLeadingInt, ReadsTheLeadingIntegerLikeScanf) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"12", 12},         {"12abc", 12},         {"  \t7", 7},   {"+3", 3},
      {"-1", -1},         {"0x10", 0},           {"007", 7},     {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN}, {"4294967295", -1},  // wraps like the C library's %d
  };
  for (const Case& c : cases) {
    int32_t value = 99;
    EXPECT_TRUE(ParseLeadingInt(c.text, &value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(ParseLeadingInt, RejectsTextWithoutALeadingIntegerAndLeavesTheValue) {
  for (const char* text : {"", "abc", "Sample", "-", "+ 3", " x1", "\n"}) {
    int32_t value = 99;
    EXPECT_FALSE(ParseLeadingInt(text, &value)) << text;
    EXPECT_EQ(value, 99) << text;
  }
}

}  // namespace
