// Alone in its file so that a test build can link its own answer instead.
#include <windows.h>

#include "platform.h"

namespace platform {

bool QueryWow64(int32_t* flag) {
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64)) return false;
  *flag = wow64;
  return true;
}

}  // namespace platform
