#include "ini_lines.h"

namespace platform::ini {

namespace {

char ToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view lskip(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view rstrip(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One pair of matching quotes around a value of two or more characters.
bool IsQuoted(std::string_view value) {
  return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
         value.back() == value.front();
}

// A value is its text up to the first NUL, as a C string reader sees it.
std::string_view cut_at_nul(std::string_view value) { return value.substr(0, value.find('\0')); }

}  // namespace

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Strip(std::string_view text) { return rstrip(lskip(text)); }

std::string LowerName(std::string_view name) {
  std::string result(name);
  for (char& c : result) c = ToLower(c);
  return result;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ToLower(a[i]) != ToLower(b[i])) return false;
  return true;
}

std::string_view NextLine(std::string_view& text) {
  size_t end = 0;
  while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
  std::string_view line = text.substr(0, end);
  if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
    ++end;
  text.remove_prefix(end < text.size() ? end + 1 : end);
  return line;
}

Line ParseLine(std::string_view line) {
  Line parsed;
  parsed.text = lskip(line);
  std::string_view text = parsed.text;
  // A "[" without a closing "]" opens no section: the line may still hold a key.
  if (!text.empty() && text.front() == '[') {
    size_t close = text.rfind(']');
    if (close != std::string_view::npos) {
      parsed.kind = Line::Kind::kSection;
      parsed.name = Strip(text.substr(1, close - 1));
      return parsed;
    }
  }
  size_t equals = text.find('=');
  if (equals == std::string_view::npos) return parsed;
  parsed.kind = Line::Kind::kKey;
  parsed.name = rstrip(text.substr(0, equals));
  std::string_view value = Strip(text.substr(equals + 1));
  parsed.quoted = IsQuoted(value);
  if (parsed.quoted) value = value.substr(1, value.size() - 2);
  parsed.value = cut_at_nul(value);
  return parsed;
}

}  // namespace platform::ini
