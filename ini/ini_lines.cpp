#include "ini_lines.h"

#include <cstdint>

namespace ini {

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

// A value is its text up to the first NUL, as a C string reader sees it.
std::string_view cut_at_nul(std::string_view value) { return value.substr(0, value.find('\0')); }

}  // namespace

bool IsQuoted(std::string_view value) {
  return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
         value.back() == value.front();
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

namespace {

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 after its mark; a lone surrogate or an odd last byte becomes U+FFFD,
// as Windows' own conversion does.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  auto unit = [&](size_t i) {
    unsigned char a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    uint32_t code = unit(i);
    if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
      uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;
    AppendUtf8(out, code);
  }
  if (i < bytes.size()) AppendUtf8(out, 0xFFFD);
  return out;
}

}  // namespace

std::string DecodeText(std::string bytes) {
  std::string_view view = bytes;
  if (view.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
  if (view.starts_with("\xFF\xFE")) return Utf16ToUtf8(view.substr(2), false);
  if (view.starts_with("\xFE\xFF")) return Utf16ToUtf8(view.substr(2), true);
  return bytes;
}

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
  if (equals == std::string_view::npos) {
    parsed.name = rstrip(text);
    parsed.bare = !parsed.name.empty();
    if (parsed.bare) parsed.kind = Line::Kind::kKey;
    return parsed;
  }
  parsed.kind = Line::Kind::kKey;
  parsed.name = rstrip(text.substr(0, equals));
  std::string_view value = Strip(text.substr(equals + 1));
  parsed.quoted = IsQuoted(value);
  if (parsed.quoted) value = value.substr(1, value.size() - 2);
  parsed.value = cut_at_nul(value);
  return parsed;
}

}  // namespace ini
