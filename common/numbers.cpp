#include "numbers.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipDigits(const char* p) {
  while (IsDigit(*p)) ++p;
  return p;
}

// Where a "%f" number that starts at `p` (after its sign) ends; `p` itself
// when there is none. Only decimal notation counts: no hex, inf or nan.
const char* EndOfDecimalNumber(const char* p) {
  const char* integerEnd = SkipDigits(p);
  const char* end = integerEnd;
  if (*end == '.') end = SkipDigits(end + 1);
  if (end - p == 0 || (integerEnd == p && end - p == 1)) return p;  // no digit at all
  if (*end == 'e' || *end == 'E') {
    const char* exponent = end + 1;
    if (*exponent == '+' || *exponent == '-') ++exponent;
    if (IsDigit(*exponent)) end = SkipDigits(exponent);
  }
  return end;
}

// Whether a number too large or too small for a float is the large kind:
// its first significant digit stands left of the point once the exponent is
// applied. Counts saturate, so a megabyte of digits cannot overflow them.
bool IsHuge(const char* begin, const char* end) {
  constexpr long kSaturation = 1000000;
  long leading = 0;  // the power of ten of the first significant digit, plus one
  bool fraction = false;
  bool significant = false;
  const char* p = begin;
  for (; p != end && (IsDigit(*p) || *p == '.'); ++p) {
    if (*p == '.') {
      fraction = true;
    } else if (!significant && *p == '0') {
      if (fraction && leading > -kSaturation) --leading;
    } else {
      significant = true;
      if (!fraction && leading < kSaturation) ++leading;
    }
  }
  long exponent = 0;
  if (p != end) {
    bool negative = *++p == '-';
    if (*p == '+' || *p == '-') ++p;
    for (; p != end; ++p)
      if (exponent < kSaturation) exponent = exponent * 10 + (*p - '0');
    if (negative) exponent = -exponent;
  }
  return leading + exponent > 0;
}

}  // namespace

bool ParseLeadingInt(const char* text, int32_t* value) {
  const char* end;
  return ParseLeadingInt(text, value, &end);
}

bool ParseLeadingInt(const char* text, int32_t* value, const char** end) {
  *end = text;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (!IsDigit(*p)) return false;
  uint32_t magnitude = 0;
  while (IsDigit(*p)) magnitude = magnitude * 10u + static_cast<uint32_t>(*p++ - '0');
  *value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  *end = p;
  return true;
}

bool ParseLeadingFloat(const char* text, float* value) {
  const char* end;
  return ParseLeadingFloat(text, value, &end);
}

bool ParseLeadingFloat(const char* text, float* value, const char** end) {
  *end = text;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  const char* numberEnd = EndOfDecimalNumber(p);
  if (numberEnd == p) return false;
  float magnitude = 0.0f;
  // from_chars rounds correctly and ignores the locale.
  std::errc error = std::from_chars(p, numberEnd, magnitude, std::chars_format::general).ec;
  if (error == std::errc::result_out_of_range)
    magnitude = IsHuge(p, numberEnd) ? std::numeric_limits<float>::infinity() : 0.0f;
  else if (error != std::errc())
    return false;
  *value = negative ? -magnitude : magnitude;
  *end = numberEnd;
  return true;
}

size_t FormatFixed(double value, char* buffer, size_t size) {
  if (size == 0) return 0;
  char text[400];  // the longest double in fixed notation, with six decimals
  auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
  size_t length = error == std::errc() ? static_cast<size_t>(end - text) : 0;
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return length;
}
