#include <windows.h>

#include "platform.h"

namespace platform {

const char* const kCounterLibraryFileName = "nvpmapi.dll";

void* LoadLibraryByName(const char* fileName) {
  return reinterpret_cast<void*>(LoadLibraryA(fileName));
}

void* FindExport(void* library, const char* name) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace platform
