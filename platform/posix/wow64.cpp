// Alone in its file so that a test build can link its own answer instead.
#include "platform.h"

namespace platform {

// There is no WOW64 outside Windows.
bool QueryWow64(int32_t* flag) {
  *flag = 0;
  return true;
}

}  // namespace platform
