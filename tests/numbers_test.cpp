#include <gtest/gtest.h>

#include <cstring>
#include <limits>

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

namespace {

uint32_t BitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

TEST(ParseLeadingFloat, ReadsTheLeadingNumberLikeScanfButStopsBeforeABareExponent) {
  struct Case {
    const char* text;
    float value;
  } cases[] = {
      {"12.5", 12.5f},
      {"12.5 MHz", 12.5f},
      {"12.5xyz", 12.5f},
      {"100ergs", 100.0f},
      {"1e3", 1000.0f},
      {"1E+2x", 100.0f},
      {"2.5e-1", 0.25f},
      {"  -.5", -0.5f},
      {"+7.", 7.0f},
      {"0.3", 0.3f},
      {"007", 7.0f},
      {"1e", 1.0f},
      {"1e+", 1.0f},
      {"5.e2", 500.0f},
      {"-0", -0.0f},
      {"0x1p3", 0.0f},
      {"3.4028235e38", 3.4028235e38f},
  };
  for (const Case& c : cases) {
    float value = 99.0f;
    EXPECT_TRUE(ParseLeadingFloat(c.text, &value)) << c.text;
    EXPECT_EQ(BitsOf(value), BitsOf(c.value)) << c.text;
  }
}

TEST(ParseLeadingFloat, OutOfRangeReadsAsInfinityOrZero) {
  float value = 99.0f;
  ASSERT_TRUE(ParseLeadingFloat("1e39", &value));
  EXPECT_EQ(value, std::numeric_limits<float>::infinity());
  ASSERT_TRUE(ParseLeadingFloat("-123456789012345678901234567890123456789012", &value));
  EXPECT_EQ(value, -std::numeric_limits<float>::infinity());
  ASSERT_TRUE(ParseLeadingFloat("1e-50", &value));
  EXPECT_EQ(BitsOf(value), 0u);
  ASSERT_TRUE(ParseLeadingFloat("0.0000000000000000000000000000000000000000000000000001", &value));
  EXPECT_EQ(BitsOf(value), 0u);
  ASSERT_TRUE(ParseLeadingFloat("0.001e99999999999", &value));
  EXPECT_EQ(value, std::numeric_limits<float>::infinity());
}

TEST(ParseLeadingFloat, RejectsTextWithoutALeadingNumberAndLeavesTheValue) {
  for (const char* text : {"", "abc", ".", "-", "+.e1", "e5", " x1", "inf", "nan"}) {
    float value = 99.0f;
    EXPECT_FALSE(ParseLeadingFloat(text, &value)) << text;
    EXPECT_EQ(value, 99.0f) << text;
  }
}

TEST(FormatFixed, PrintsSixDecimalsWithAPointWhateverTheLocale) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {25.0, "25.000000"},
      {0.30000001192092896, "0.300000"},
      {-299.5, "-299.500000"},
      {1.8446744073709552e19, "18446744073709551616.000000"},
      {3.4028234663852886e38, "340282346638528859811704183484516925440.000000"},
      {1.0 / 3, "0.333333"},
  };
  for (const Case& c : cases) {
    char text[64];
    EXPECT_EQ(FormatFixed(c.value, text, sizeof text), std::strlen(c.text));
    EXPECT_STREQ(text, c.text);
  }
}

TEST(FormatFixed, CutsToTheBuffer) {
  char text[5];
  EXPECT_EQ(FormatFixed(1234.5, text, sizeof text), 4u);
  EXPECT_STREQ(text, "1234");
}

}  // namespace
