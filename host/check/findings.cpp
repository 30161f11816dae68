#include "findings.h"

#include <algorithm>
#include <cstdio>

void Findings::Add(int line, const char* kind, std::string message) {
  findings_.push_back({line, kind, std::move(message)});
}

std::vector<Finding> Findings::Sorted() const {
  std::vector<Finding> sorted = findings_;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Finding& a, const Finding& b) { return a.line < b.line; });
  return sorted;
}

void Findings::PrintText(const char* file) const {
  for (const Finding& finding : Sorted())
    std::printf("%s:%d: %s\n", file, finding.line, finding.message.c_str());
}

void Findings::PrintJson(const char* file) const {
  std::vector<Finding> sorted = Sorted();
  if (sorted.empty()) {
    std::printf("[]\n");
    return;
  }
  const std::string name = JsonString(file);
  std::printf("[\n");
  for (size_t i = 0; i < sorted.size(); ++i) {
    std::printf("  {\"file\": %s, \"line\": %d, \"kind\": %s, \"message\": %s}%s\n", name.c_str(),
                sorted[i].line, JsonString(sorted[i].kind).c_str(),
                JsonString(sorted[i].message).c_str(), i + 1 < sorted.size() ? "," : "");
  }
  std::printf("]\n");
}

namespace {

// The length of the well-formed UTF-8 sequence at `text[i]`, or 0.
size_t Utf8Length(const std::string& text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t length = lead > 0xF4 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  // No overlong forms, no surrogates, nothing beyond U+10FFFF.
  if (lead == 0xE0 && byte(i + 1) < 0xA0) return 0;
  if (lead == 0xED && byte(i + 1) >= 0xA0) return 0;
  if (lead == 0xF0 && byte(i + 1) < 0x90) return 0;
  if (lead == 0xF4 && byte(i + 1) >= 0x90) return 0;
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char escape[8];
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c == '\t') {
      json += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
    } else if (c >= 0x80) {
      size_t length = Utf8Length(text, i);
      if (length == 0) {
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        json += escape;
      } else {
        json.append(text, i, length);
        i += length;
        continue;
      }
    } else {
      json += static_cast<char>(c);
    }
    ++i;
  }
  return json + "\"";
}
