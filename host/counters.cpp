#include "counters.h"

#include "counter_api.h"
#include "platform.h"

std::string ResultCode(int32_t code) { return std::to_string(static_cast<uint32_t>(code)); }

namespace {

std::string BindingProblem(int32_t code) {
  const std::string library = platform::kCounterLibraryFileName;
  switch (code) {
    case kLibraryNotLoadable: {
      // On the server path the library failed in the server, which says no more.
      const std::string reason = platform::LastLoadError();
      return "the counter library " + library + " cannot be loaded" +
             (reason.empty() ? "" : " (" + reason + ")") + ": is it on the library search path?";
    }
    case kBindingFailed:
      return library + " is not the counter library, or it lacks its initialisation (code " +
             ResultCode(code) + ")";
    case kNoServerConnection:
      return "there is no connection to the counter server (code " + ResultCode(code) + ")";
    default:
      return "the counter library's initialisation failed with code " + ResultCode(code);
  }
}

}  // namespace

bool OpenCounters(uint32_t* count, std::string* why) {
  int32_t status = BindCounterApi();
  if (status != 0) {
    *why = BindingProblem(status);
    CloseCounters();
    return false;
  }
  status = CounterApiTable.GetNumCounters(count);
  if (status != 0) {
    *why = "the counter library cannot list its counters (code " + ResultCode(status) + ")";
    CloseCounters();
    return false;
  }
  return true;
}

void CloseCounters() { CounterApiTable.Shutdown(); }
