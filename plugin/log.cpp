#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "log_file.h"
#include "plugin_state.h"

void WriteLogLine(const char* message, int32_t mode) {
  char path[platform::kMaxPath];
  if (!PluginFilePath(".log", path)) return;
  platform::LogFile file;
  if (!(mode != kNewLog && file.Open(path, platform::LogFile::Mode::kExisting)) &&
      !file.Open(path, platform::LogFile::Mode::kCreate))
    return;

  platform::LocalTime now = platform::CurrentLocalTime();
  char stamp[64];
  int length =
      std::snprintf(stamp, sizeof stamp, "%.2d-%.2d-%.2d, %.2d:%.2d:%.2d.%.3d ", now.day, now.month,
                    now.year, now.hour, now.minute, now.second, now.millisecond);
  // A failed write (a full disk) drops the rest of the line; nothing to report.
  if (file.Write(stamp, static_cast<size_t>(length)) && file.Write(message, std::strlen(message)))
    file.Write(platform::kLogLineEnd, std::strlen(platform::kLogLineEnd));
}

int FormatLogText(char (&buffer)[kLogTextSize], const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(buffer, kLogTextSize, format, arguments);
  va_end(arguments);
  if (length < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return length < static_cast<int>(kLogTextSize) ? length : static_cast<int>(kLogTextSize) - 1;
}
