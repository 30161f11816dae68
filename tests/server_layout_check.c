// The counter server's interface as the proxy/stub marshals it, laid out as
// the clients call it: IUnknown at virtual-table slots 0-2, IDispatch at
// 3-6, the counter methods at 7-26, one pointer each (4 bytes in the
// shipped 32-bit programs, so slot n at byte 4n). The interface is made
// from the slot list; these positions are written out apart from it, from
// what the clients call. Checked at compile time in both builds; nothing of
// this file runs.
#include <stddef.h>

#include "counter_server.h"

#define SLOT(method) (offsetof(ICounterServerVtbl, method) / sizeof(void*))
#define AT(method, n) _Static_assert(SLOT(method) == (n), #method " is not at slot " #n)

AT(QueryInterface, 0);
AT(AddRef, 1);
AT(Release, 2);
AT(GetTypeInfoCount, 3);
AT(Invoke, 6);
AT(Init, 7);
AT(Shutdown, 8);
AT(CounterCall0, 9);
AT(AddCounter, 10);
AT(RemoveAllCounters, 11);
AT(CounterCall9, 12);
AT(CounterCall3, 13);
AT(CounterCall4, 14);
AT(CounterCall5, 15);
AT(CounterCall6, 16);
AT(CounterCall7, 17);
AT(CounterCall8, 18);
AT(CounterCall10, 19);
AT(Sample, 20);
AT(CounterCall18, 21);
AT(GetNumCounters, 22);
AT(GetCounterName, 23);
AT(CounterCall14, 24);
AT(GetCounterAttribute, 25);
AT(GetCounterValue, 26);
_Static_assert(sizeof(ICounterServerVtbl) == 27 * sizeof(void*), "27 slots, no more");

#if defined(__i386__)
_Static_assert(sizeof(void*) == 4, "4-byte slots in the 32-bit build");
_Static_assert(offsetof(ICounterServerVtbl, Init) == 28, "Init at byte 28");
_Static_assert(offsetof(ICounterServerVtbl, GetCounterValue) == 104, "the last at byte 104");
_Static_assert(sizeof(SampleRecord) == 24, "a sample record is 24 bytes");
#endif
