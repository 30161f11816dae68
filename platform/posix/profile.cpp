#include "profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "ini.h"

namespace platform {

namespace {

// A configuration file is a few kilobytes; a larger one reads as unreadable
// rather than filling memory.
constexpr size_t kLargestFile = 64u << 20;

// The whole file, or nothing when it cannot be read. Only a regular file is
// read: a FIFO would block the host, a device would never end.
std::string ReadWholeFile(const char* path) {
  std::string content;
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return content;
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    char chunk[65536];
    for (;;) {
      ssize_t got = read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 || content.size() + static_cast<size_t>(got) > kLargestFile) {
        content.clear();
        break;
      }
      if (got == 0) break;
      content.append(chunk, static_cast<size_t>(got));
    }
  }
  close(fd);
  return content;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Blanks, a sign, then decimal digits or "0x" and hex digits, up to the first
// other character; wraps around beyond 32 bits.
int32_t ParseProfileInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t base = 10;
  if (text.substr(i, 2) == "0x" || text.substr(i, 2) == "0X") {
    base = 16;
    i += 2;
  }
  uint32_t magnitude = 0;
  for (int digit;
       i < text.size() && (digit = HexDigit(text[i])) >= 0 && static_cast<uint32_t>(digit) < base;
       ++i)
    magnitude = magnitude * base + static_cast<uint32_t>(digit);
  return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

}  // namespace

struct ProfileFile::Contents {
  explicit Contents(std::string text) : ini(std::move(text)) {}
  IniFile ini;
};

ProfileFile::ProfileFile(const char* path) {
  try {
    contents_.reset(new Contents{ReadWholeFile(path)});
  } catch (const std::bad_alloc&) {
    contents_.reset();  // no memory for it: as if the file could not be read
  }
}

ProfileFile::~ProfileFile() = default;

uint32_t ProfileFile::ReadString(const char* section, const char* key, const char* fallback,
                                 char* buffer, uint32_t size) const {
  if (size == 0) return 0;
  std::string_view value;
  if (!contents_ || !contents_->ini.Find(section, key, &value)) value = fallback;
  size_t length = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(buffer, value.data(), length);
  buffer[length] = '\0';
  return static_cast<uint32_t>(length);
}

int32_t ProfileFile::ReadInt(const char* section, const char* key, int32_t fallback) const {
  std::string_view value;
  if (!contents_ || !contents_->ini.Find(section, key, &value) || value.empty()) return fallback;
  return ParseProfileInt(value);
}

}  // namespace platform
