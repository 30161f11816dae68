#include "profile.h"

#include <cstring>
#include <new>
#include <string>

#include "ini.h"
#include "text_file.h"

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Blanks, a sign, then decimal digits or "0x" and hex digits, up to the first
// other character; wraps around beyond 32 bits.
int32_t ParseProfileInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t base = 10;
  if (text.substr(i, 2) == "0x" || text.substr(i, 2) == "0X") {
    base = 16;
    i += 2;
  }
  uint32_t magnitude = 0;
  for (int digit;
       i < text.size() && (digit = HexDigit(text[i])) >= 0 && static_cast<uint32_t>(digit) < base;
       ++i)
    magnitude = magnitude * base + static_cast<uint32_t>(digit);
  return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

}  // namespace

struct ProfileFile::Contents {
  explicit Contents(std::string text) : ini(std::move(text)) {}
  IniFile ini;
};

ProfileFile::ProfileFile(const char* path) {
  try {
    std::string text;
    ReadConfigurationText(path, &text, nullptr);  // what cannot be read reads as empty
    contents_.reset(new Contents{std::move(text)});
  } catch (const std::bad_alloc&) {
    contents_.reset();  // no memory for it: as if the file could not be read
  }
}

ProfileFile::~ProfileFile() = default;

uint32_t ProfileFile::ReadString(const char* section, const char* key, const char* fallback,
                                 char* buffer, uint32_t size) const {
  if (size == 0) return 0;
  std::string_view value;
  if (!contents_ || !contents_->ini.Find(section, key, &value)) value = fallback;
  size_t length = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(buffer, value.data(), length);
  buffer[length] = '\0';
  return static_cast<uint32_t>(length);
}

int32_t ProfileFile::ReadInt(const char* section, const char* key, int32_t fallback) const {
  std::string_view value;
  if (!contents_ || !contents_->ini.Find(section, key, &value) || value.empty()) return fallback;
  return ParseProfileInt(value);
}

}  // namespace platform
