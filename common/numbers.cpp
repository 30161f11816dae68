#include "numbers.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool ParseLeadingInt(const char* text, int32_t* value) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (!IsDigit(*p)) return false;
  uint32_t magnitude = 0;
  while (IsDigit(*p)) magnitude = magnitude * 10u + static_cast<uint32_t>(*p++ - '0');
  *value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return true;
}
