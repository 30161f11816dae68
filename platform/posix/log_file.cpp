#include "log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

const char* const kLogLineEnd = "\n";

LocalTime CurrentLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900,
          local.tm_mon + 1,
          local.tm_mday,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000)};
}

namespace {

int Descriptor(void* handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)) - 1; }

}  // namespace

LogFile::~LogFile() { Close(); }

void LogFile::Close() {
  if (handle_ != nullptr) close(Descriptor(handle_));  // also ends the lock
  handle_ = nullptr;
}

// The exclusive lock stands for Windows' "shared for reading only": a second
// writer fails to take it and drops its line. The file is emptied only once
// the lock is held, so a writer never empties a file another one is writing.
bool LogFile::Open(const char* path, Mode mode) {
  Close();
  // O_NONBLOCK: a FIFO under the log's name must not hang the host.
  int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (mode == Mode::kCreate ? O_CREAT : 0);
  int fd = open(path, flags, 0666);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (mode == Mode::kCreate && ftruncate(fd, 0) != 0) ||
      lseek(fd, 0, SEEK_END) < 0) {
    close(fd);
    return false;
  }
  handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
  return true;
}

bool LogFile::Write(const char* text, size_t length) {
  if (handle_ == nullptr) return false;
  while (length > 0) {
    ssize_t written = write(Descriptor(handle_), text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace platform
