#include "ini.h"

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

char ToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view lskip(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view rstrip(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view strip(std::string_view text) { return rstrip(lskip(text)); }

// One pair of matching quotes around a value of two or more characters.
std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// A value is its text up to the first NUL, as a C string reader sees it.
std::string_view cut_at_nul(std::string_view value) { return value.substr(0, value.find('\0')); }

std::string lower(std::string_view name) {
  std::string result(name);
  for (char& c : result) c = ToLower(c);
  return result;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ToLower(a[i]) != ToLower(b[i])) return false;
  return true;
}

// The next line of `text`, which loses it and its end (LF, CRLF or CR).
std::string_view next_line(std::string_view& text) {
  size_t end = 0;
  while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
  std::string_view line = text.substr(0, end);
  if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
    ++end;
  text.remove_prefix(end < text.size() ? end + 1 : end);
  return line;
}

}  // namespace

IniFile::IniFile(std::string text) : text_(std::move(text)) {
  std::string_view rest = text_;
  Range* section = nullptr;  // null before any section and in a repeated one: never searched
  while (!rest.empty()) {
    std::string_view line = lskip(next_line(rest));
    if (!line.empty() && line.front() == '[') {
      size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        auto [found, added] = sections_.try_emplace(lower(strip(line.substr(1, close - 1))));
        section = added ? &found->second : nullptr;
        if (section != nullptr)
          section->begin = section->end = static_cast<uint32_t>(entries_.size());
        continue;
      }
    }
    size_t equals = line.find('=');
    if (section == nullptr || equals == std::string_view::npos) continue;
    entries_.push_back(
        {rstrip(line.substr(0, equals)), cut_at_nul(unquote(strip(line.substr(equals + 1))))});
    section->end = static_cast<uint32_t>(entries_.size());
  }
}

bool IniFile::Find(const char* section, const char* key, std::string_view* value) const {
  auto found = sections_.find(lower(strip(section)));
  if (found == sections_.end()) return false;
  std::string_view wanted = strip(key);
  // The first of duplicate keys wins.
  for (uint32_t i = found->second.begin; i < found->second.end; ++i) {
    if (same_name(entries_[i].key, wanted)) {
      *value = entries_[i].value;
      return true;
    }
  }
  return false;
}

}  // namespace platform
