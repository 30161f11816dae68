// The diagnostic log: the plug-in's own file name with ".log", one line per
// event, "DD-MM-YYYY, hh:mm:ss.mmm " (local time), the message, a line end.
// The file is opened, written and closed for every line.
#pragma once

#include <cstddef>
#include <cstdint>

enum LogMode : int32_t {
  kNewLog = 0,  // start the file afresh
  kAppend = 1,  // add to it; a file that cannot be opened is started afresh
};

// Writes one line. A line that cannot be written (no file, another writer
// holding it, a full disk) is dropped without a word.
void WriteLogLine(const char* message, int32_t mode);

inline constexpr size_t kLogTextSize = 100;

// printf into `buffer`, cut to 99 characters. Returns the characters stored.
int FormatLogText(char (&buffer)[kLogTextSize], const char* format, ...)
    __attribute__((format(printf, 2, 3)));
