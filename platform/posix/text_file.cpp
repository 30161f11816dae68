#include "text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ini_lines.h"

namespace platform {

namespace {

bool Fail(std::string* text, std::string* why, const std::string& reason) {
  text->clear();
  if (why != nullptr) *why = reason;
  return false;
}

std::string TooLarge() {
  return "it is larger than " + std::to_string(kLargestConfigurationFile >> 20) +
         " MiB, the most that is read";
}

}  // namespace

bool ReadConfigurationText(const char* path, std::string* text, std::string* why) {
  text->clear();
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return Fail(text, why, std::strerror(errno));
  struct stat status {};
  bool read = false;
  std::string reason;
  if (fstat(fd, &status) != 0) {
    reason = std::strerror(errno);
  } else if (S_ISDIR(status.st_mode)) {
    reason = "it is a directory";
  } else if (!S_ISREG(status.st_mode)) {
    reason = "it is not a regular file";
  } else if (static_cast<unsigned long long>(status.st_size) > kLargestConfigurationFile) {
    reason = TooLarge();
  } else {
    char chunk[65536];
    for (;;) {
      ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        reason = std::strerror(errno);
        break;
      }
      // The size may have changed since fstat: the limit holds for what is read.
      if (text->size() + static_cast<size_t>(got) > kLargestConfigurationFile) {
        reason = TooLarge();
        break;
      }
      if (got == 0) {
        read = true;
        break;
      }
      text->append(chunk, static_cast<size_t>(got));
    }
  }
  close(fd);
  if (!read) return Fail(text, why, reason);
  *text = ini::DecodeText(std::move(*text));
  return true;
}

}  // namespace platform
