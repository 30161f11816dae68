#include <conio.h>
#include <windows.h>

#include "platform.h"

namespace platform {

bool KeyIsWaiting() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return true;  // no input: its end
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) return _kbhit() != 0;
  // Redirected input: _kbhit never sees it, so look at the stream itself.
  if (GetFileType(input) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr))
      return true;  // writer gone: end of input
    return available > 0;
  }
  return true;  // a file or device always has data or its end waiting
}

}  // namespace platform
