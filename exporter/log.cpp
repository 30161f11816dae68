#include "log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace exporter {
namespace {

const char* LevelName(Level level) {
  switch (level) {
    case Level::kInfo: return "info";
    case Level::kWarn: return "warn";
    case Level::kError: return "error";
  }
  return "error";
}

std::string Timestamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis.count()));
  return text;
}

// A value with a blank, a quote, '=' or a control character is quoted, so
// that a counter name from a library cannot break the line into two.
std::string Value(std::string_view text) {
  bool plain = !text.empty();
  for (char c : text)
    if (c == ' ' || c == '"' || c == '=' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
      plain = false;
  if (plain) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

void Log(Level level, std::string_view message, std::initializer_list<LogField> fields) {
  std::string line = "ts=" + Timestamp() + " level=" + LevelName(level) + " msg=" + Value(message);
  for (const LogField& field : fields) {
    line.append(" ").append(field.first).append("=");
    line += Value(field.second);
  }
  line += "\n";
  // One write a line, so that lines from several threads never interleave.
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace exporter
