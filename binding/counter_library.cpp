#include "counter_library.h"

#include "counter_interface.h"
#include "platform.h"

namespace {

using QueryInterfaceFn = UnboundEntryFn(KESTREL_CDECL*)(uint32_t identifier);

using namespace counter_interface;

}  // namespace

// The library's function identifiers, in the order they are queried.
CounterLibraryEntry CounterLibraryEntries[kCounterLibraryEntryCount] = {
    {UnboundEntry, kInit},            //  0 Init (called by the loader)
    {UnboundEntry, 0x82054A9E},       //  1
    {UnboundEntry, kShutdown},        //  2 Shutdown
    {UnboundEntry, 0xD3B468F6},       //  3
    {UnboundEntry, kGetNumCounters},   //  4 GetNumCounters
    {UnboundEntry, kGetCounterName},   //  5 GetCounterName
    {UnboundEntry, 0x57FC239E},       //  6
    {UnboundEntry, 0xA1F5CCF5},       //  7 CounterCall14
    {UnboundEntry, 0xA025DBF9},       //  8
    {UnboundEntry, kGetCounterAttribute},  //  9 GetCounterAttribute
    {UnboundEntry, 0xF96DCC24},       // 10 CounterCall0
    {UnboundEntry, kAddCounter},       // 11 AddCounter
    {UnboundEntry, 0x7663DB3F},       // 12
    {UnboundEntry, 0x10747EF3},       // 13
    {UnboundEntry, 0x5864E258},       // 14 CounterCall18
    {UnboundEntry, 0x667D65CA},       // 15
    {UnboundEntry, kRemoveAllCounters},  // 16 RemoveAllCounters
    {UnboundEntry, 0xE961A9C7},       // 17 CounterCall9
    {UnboundEntry, 0x05D95ED0},       // 18
    {UnboundEntry, 0x30AA87E5},       // 19 CounterCall3
    {UnboundEntry, 0x11BB4AF8},       // 20 CounterCall4
    {UnboundEntry, 0xC83474B9},       // 21 CounterCall5
    {UnboundEntry, 0xBC8FF957},       // 22 CounterCall6
    {UnboundEntry, 0xDBFF3EBE},       // 23 CounterCall7
    {UnboundEntry, 0xF4F49871},       // 24 CounterCall8
    {UnboundEntry, kSample},           // 25 Sample
    {UnboundEntry, 0xCF03E7B6},       // 26
    {UnboundEntry, 0x7F80C1EF},       // 27 CounterCall10
    {UnboundEntry, kGetCounterValue},  // 28 GetCounterValue
    {UnboundEntry, 0x2A960947},       // 29
    {UnboundEntry, 0x55CFA974},       // 30
};

int32_t CounterLibraryStatus = 0;

int32_t LoadCounterLibrary() {
  void* library = platform::LoadLibraryByName(platform::kCounterLibraryFileName);
  CounterLibraryStatus = kLibraryNotLoadable;
  if (library == nullptr) return CounterLibraryStatus;

  auto query = reinterpret_cast<QueryInterfaceFn>(
      platform::FindExport(library, "NVPMQueryInterface"));
  CounterLibraryStatus = kBindingFailed;
  if (query == nullptr) return CounterLibraryStatus;

  UnboundEntryFn init = query(kInit);
  if (init == nullptr) return CounterLibraryStatus;
  CounterLibraryStatus = init();
  if (CounterLibraryStatus < 0) return CounterLibraryStatus;

  CounterLibraryStatus = 0;
  for (CounterLibraryEntry& entry : CounterLibraryEntries) {
    if (UnboundEntryFn function = query(entry.identifier)) entry.entryPoint = function;
  }
  return CounterLibraryStatus;
}
