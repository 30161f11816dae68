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

namespace platform {

// Only the versioned name: the bare libnvidia-ml.so is a development link,
// absent where just the driver is installed.
void* LoadGpuManagementLibrary() {
  return dlopen("libnvidia-ml.so.1", RTLD_NOW | RTLD_LOCAL);
}

void UnloadLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace platform
