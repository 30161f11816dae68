// kestrelsrv's life as a COM local server: it offers one class, serves one
// client (REGCLS_SINGLEUSE) and ends when that client lets go of it.
#pragma once

#include <windows.h>

namespace kestrelsrv {

// Registers the class factory for `served`, then dispatches calls until the
// last object and the last lock are released, or until no client has come
// for a minute. Returns the process's exit code.
int ServeClass(const CLSID& served, IClassFactory* factory);

// Bookkeeping for the objects and the factory's locks.
void ObjectCreated();
void ObjectReleased();
void LockServer(bool lock);

}  // namespace kestrelsrv
