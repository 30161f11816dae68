// The forwarders of the direct path, written in assembly so that each one is
// exactly one indirect jump through its entry of CounterLibraryEntries at
// every optimisation level: no frame, no copy of the arguments.
#include <cstddef>

#include "counter_library.h"

static_assert(offsetof(CounterLibraryEntry, entryPoint) == 0);
static_assert(sizeof(CounterLibraryEntry) == 2 * sizeof(void*));

// Byte offset of entry `index`'s entry point, as assembler text.
#define KESTREL_ENTRY_OFFSET(index) #index "*2*" KESTREL_ASM_STR(__SIZEOF_POINTER__)

#define KESTREL_FORWARDER(name, entry) \
  KESTREL_ASM_INDIRECT_JUMP_FUNCTION(Forward##name, CounterLibraryEntries, KESTREL_ENTRY_OFFSET(entry))

// Which library entry each table slot reaches.
asm(KESTREL_ASM_HIDDEN(CounterLibraryEntries)
    KESTREL_FORWARDER(CounterCall0, 10)
    KESTREL_FORWARDER(RemoveAllCounters, 16)
    KESTREL_FORWARDER(Shutdown, 2)
    KESTREL_FORWARDER(CounterCall3, 19)
    KESTREL_FORWARDER(CounterCall4, 20)
    KESTREL_FORWARDER(CounterCall5, 21)
    KESTREL_FORWARDER(CounterCall6, 22)
    KESTREL_FORWARDER(CounterCall7, 23)
    KESTREL_FORWARDER(CounterCall8, 24)
    KESTREL_FORWARDER(CounterCall9, 17)
    KESTREL_FORWARDER(CounterCall10, 27)
    KESTREL_FORWARDER(Sample, 25)
    KESTREL_FORWARDER(GetNumCounters, 4)
    KESTREL_FORWARDER(GetCounterName, 5)
    KESTREL_FORWARDER(CounterCall14, 7)
    KESTREL_FORWARDER(GetCounterAttribute, 9)
    KESTREL_FORWARDER(GetCounterValue, 28)
    KESTREL_FORWARDER(AddCounter, 11)
    KESTREL_FORWARDER(CounterCall18, 14));
