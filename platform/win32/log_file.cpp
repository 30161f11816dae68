#include "log_file.h"

#include <windows.h>

namespace platform {

// The file is written in text mode: a line feed is stored as CR LF.
const char* const kLogLineEnd = "\r\n";

LocalTime CurrentLocalTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

LogFile::~LogFile() { Close(); }

void LogFile::Close() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

// Shared for reading only: a second writer's CreateFileA fails with a sharing
// violation, before CREATE_ALWAYS could empty the file.
bool LogFile::Open(const char* path, Mode mode) {
  Close();
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            mode == Mode::kCreate ? CREATE_ALWAYS : OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (SetFilePointer(file, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    CloseHandle(file);
    return false;
  }
  handle_ = file;
  return true;
}

bool LogFile::Write(const char* text, size_t length) {
  if (handle_ == nullptr) return false;
  while (length > 0) {
    DWORD written = 0;
    DWORD chunk = length > 0x10000000u ? 0x10000000u : static_cast<DWORD>(length);
    if (!WriteFile(static_cast<HANDLE>(handle_), text, chunk, &written, nullptr) || written == 0)
      return false;
    text += written;
    length -= written;
  }
  return true;
}

}  // namespace platform
