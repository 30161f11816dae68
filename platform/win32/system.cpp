#include <windows.h>

#include "platform.h"

namespace platform {

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

bool QueryWow64(int32_t* flag) {
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64)) return false;
  *flag = wow64;
  return true;
}

}  // namespace platform
