#include "counted_com.h"

namespace {
ComActivity activity;
HRESULT forcedInitializeResult = S_OK;
}  // namespace

extern "C" {

HRESULT __real_CoInitialize(void* reserved);
void __real_CoUninitialize();

HRESULT __wrap_CoInitialize(void* reserved) {
  ++activity.initializeCalls;
  if (FAILED(forcedInitializeResult)) return forcedInitializeResult;
  HRESULT result = __real_CoInitialize(reserved);
  if (SUCCEEDED(result)) ++activity.depth;
  return result;
}

void __wrap_CoUninitialize() {
  ++activity.uninitializeCalls;
  if (activity.depth == 0)
    ++activity.unmatchedUninitializeCalls;
  else
    --activity.depth;
  __real_CoUninitialize();
}

}  // extern "C"

const ComActivity& CurrentComActivity() { return activity; }

void FailCoInitialize(HRESULT result) { forcedInitializeResult = result; }
