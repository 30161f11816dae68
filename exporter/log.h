// The exporter's log: one line a event on standard error, in logfmt as
// Prometheus' own programs write it:
//   ts=2026-12-08T04:30:01.123Z level=info msg="Listening on" address=[::]:9747
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace exporter {

enum class Level { kInfo, kWarn, kError };

using LogField = std::pair<std::string_view, std::string>;

// Writes one line; safe from any thread.
void Log(Level level, std::string_view message, std::initializer_list<LogField> fields = {});

}  // namespace exporter
