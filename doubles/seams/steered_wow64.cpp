#include "steered_wow64.h"

#include "platform.h"

namespace testing_support {

namespace {
Wow64Answer steered = Wow64Answer::Yes;
}

void SteerWow64(Wow64Answer answer) { steered = answer; }

}  // namespace testing_support

namespace platform {

// Sets the flag also when the query fails, as a careless implementation of
// the real query might: the binder must look at the result first.
bool QueryWow64(int32_t* flag) {
  using testing_support::Wow64Answer;
  *flag = testing_support::steered == Wow64Answer::No ? 0 : 1;
  return testing_support::steered != Wow64Answer::QueryFails;
}

}  // namespace platform
