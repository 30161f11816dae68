// The forwarders of the direct path, written in assembly so that each one is
// exactly one indirect jump through its entry of CounterLibraryEntries at
// every optimisation level: no frame, no copy of the arguments.
#include <cstddef>

#include "counter_library.h"

static_assert(offsetof(CounterLibraryEntry, entryPoint) == 0);
static_assert(sizeof(CounterLibraryEntry) == 2 * sizeof(void*));

// Byte offset of entry `index`'s entry point, as assembler text.
#define KESTREL_ENTRY_OFFSET(index) #index "*2*" KESTREL_ASM_STR(__SIZEOF_POINTER__)

// Each slot's forwarder jumps through the library entry the slot reaches.
#define KESTREL_FORWARDER(slot, name, entry, method, params, args) \
  KESTREL_ASM_INDIRECT_JUMP_FUNCTION(Forward##name, CounterLibraryEntries, KESTREL_ENTRY_OFFSET(entry))

asm(KESTREL_ASM_HIDDEN(CounterLibraryEntries) KESTREL_COUNTER_SLOTS(KESTREL_FORWARDER));
