#include <dlfcn.h>

#include "platform.h"

namespace platform {

const char* const kCounterLibraryFileName = "libnvpmapi.so";

void* LoadLibraryByName(const char* fileName) {
  return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* FindExport(void* library, const char* name) {
  return dlsym(library, name);
}

}  // namespace platform
