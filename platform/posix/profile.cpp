#include "profile.h"

#include <cstring>
#include <new>
#include <string>

#include "ini_field.h"
#include "ini_file.h"
#include "text_file.h"

namespace platform {

namespace {

// The longest text an integer is read from: Windows reads the value into a
// buffer of 30 characters first, so a longer text is cut before it is parsed.
constexpr uint32_t kIntegerTextSize = 30;

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 36;
}

// As Windows parses it: control characters and blanks skipped, a sign, then
// decimal digits, or binary, octal or hex digits after "0b", "0o" or "0x"
// (lower case only), up to the first other character; wraps around beyond
// 32 bits.
int32_t ParseProfileInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t base = 10;
  if (text.size() - i >= 2 && text[i] == '0') {
    char prefix = text[i + 1];
    base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
    if (base != 10) i += 2;
  }
  uint32_t magnitude = 0;
  for (; i < text.size() && static_cast<uint32_t>(DigitValue(text[i])) < base; ++i)
    magnitude = magnitude * base + static_cast<uint32_t>(DigitValue(text[i]));
  return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

// Copies what a field of `size` bytes keeps of `text` into it, terminated;
// returns the length copied.
uint32_t CopyKept(std::string_view text, bool quoted, char* buffer, uint32_t size) {
  std::string_view kept = ini::KeptPart(text, quoted, size);
  std::memcpy(buffer, kept.data(), kept.size());
  buffer[kept.size()] = '\0';
  return static_cast<uint32_t>(kept.size());
}

}  // namespace

struct ProfileFile::Contents {
  explicit Contents(std::string text) : ini(std::move(text)) {}
  ini::IniFile ini;
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
  const ini::IniFile::Entry* entry = contents_ ? contents_->ini.Find(section, key) : nullptr;
  if (entry == nullptr || entry->bare) return CopyKept(fallback, false, buffer, size);
  return CopyKept(entry->value, entry->quoted, buffer, size);
}

int32_t ProfileFile::ReadInt(const char* section, const char* key, int32_t fallback) const {
  char text[kIntegerTextSize];
  if (ReadString(section, key, "", text, sizeof text) == 0) return fallback;
  return ParseProfileInt(text);
}

}  // namespace platform
