#include "text_file.h"

#include <windows.h>

#include "ini_lines.h"

namespace platform {

namespace {

bool Fail(std::string* text, std::string* why, const char* reason) {
  text->clear();
  if (why != nullptr) *why = reason;
  return false;
}

const char* Reason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "another program holds it open";
    default:
      return "it cannot be read";
  }
}

}  // namespace

bool ReadConfigurationText(const char* path, std::string* text, std::string* why) {
  text->clear();
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return Fail(text, why, "it is a directory");
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(text, why, Reason(GetLastError()));
  const char* reason = nullptr;
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK) {
    reason = "it is not a regular file";
  } else if (!GetFileSizeEx(file, &size)) {
    reason = Reason(GetLastError());
  } else if (static_cast<unsigned long long>(size.QuadPart) > kLargestConfigurationFile) {
    reason = "it is larger than 64 MiB, the most that is read";
  } else {
    char chunk[65536];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
        reason = Reason(GetLastError());
        break;
      }
      if (got == 0) break;
      if (text->size() + got > kLargestConfigurationFile) {
        reason = "it is larger than 64 MiB, the most that is read";
        break;
      }
      text->append(chunk, got);
    }
  }
  CloseHandle(file);
  if (reason != nullptr) return Fail(text, why, reason);
  *text = ini::DecodeText(std::move(*text));
  return true;
}

}  // namespace platform
