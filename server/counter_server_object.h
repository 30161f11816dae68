// The counter server's object: ICounterServer over this process's own
// counter table, bound directly to the counter library.
#pragma once

#include "counter_server.h"  // generated from counter_server.idl

namespace kestrelsrv {

// The factory that hands out one such object per request.
IClassFactory* CounterServerFactory();

}  // namespace kestrelsrv
