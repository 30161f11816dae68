#include "counter_api.h"

#include "counter_library.h"
#include "server_interface.h"
#include "platform.h"

extern "C" int32_t KESTREL_CDECL UnboundEntry() { return kNotBound; }

CounterApiSlots CounterApiTable = {
#define KESTREL_UNBOUND_SLOT(slot, name, entry, method, params, args) \
  AsSlot<decltype(CounterApiSlots::name)>(UnboundEntry),
    KESTREL_COUNTER_SLOTS(KESTREL_UNBOUND_SLOT)
#undef KESTREL_UNBOUND_SLOT
};

static_assert(sizeof(CounterApiSlots) == kCounterSlotCount * sizeof(void*));

namespace {

int32_t bindResult = kBindingFailed;

bool RunningUnderWow64() {
  int32_t flag = 0;
  return platform::QueryWow64(&flag) && flag == 1;
}

}  // namespace

int32_t BindCounterApi() {
  bindResult = kBindingFailed;
  if (RunningUnderWow64()) {
    BindCounterServer(&bindResult);
    return bindResult;
  }
  bindResult = LoadCounterLibrary();
  // Filled whatever the loader said: unresolved entries answer -3.
#define KESTREL_FILL_FORWARDER(slot, name, entry, method, params, args) \
  CounterApiTable.name = Forward##name;
  KESTREL_COUNTER_SLOTS(KESTREL_FILL_FORWARDER)
#undef KESTREL_FILL_FORWARDER
  return bindResult;
}
