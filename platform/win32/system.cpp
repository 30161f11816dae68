#include <windows.h>

#include "platform.h"

namespace platform {

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
