// The plug-in's log file and the local clock that stamps its lines.
// posix/log_file.cpp and win32/log_file.cpp implement it.
#pragma once

#include <cstddef>

namespace platform {

// How a line ends in the file: "\n", or "\r\n" on Windows (text mode).
extern const char* const kLogLineEnd;

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

LocalTime CurrentLocalTime();

// One opening of the log file, closed when the object goes. It is open for
// writing only and shared for reading only: while one writer holds the file
// no other can open it for writing, and that other's line is dropped.
class LogFile {
 public:
  enum class Mode {
    kCreate,    // create the file, emptying one that exists
    kExisting,  // open the file as it is; fails when there is none
  };
  LogFile() = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens `path` and moves to its end. False when the file cannot be opened
  // or another writer holds it.
  bool Open(const char* path, Mode mode);
  // Writes all of `text`. False when the write fails (a full disk).
  bool Write(const char* text, size_t length);

 private:
  void Close();
  void* handle_ = nullptr;  // a descriptor + 1 on POSIX, a HANDLE on Windows
};

}  // namespace platform
