#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "module.h"
#include "platform.h"

namespace platform {

namespace {

// Why the latest load failed, in dlerror's words.
char loadError[512] = "";

void* Load(const char* name) {
  void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* error = dlerror();
    std::snprintf(loadError, sizeof loadError, "%s", error != nullptr ? error : "unknown error");
  }
  return library;
}

}  // namespace

const char* const kCounterLibraryFileName = "libnvpmapi.so";

void* LoadLibraryByName(const char* fileName) { return Load(fileName); }

void* FindExport(void* library, const char* name) {
  return dlsym(library, name);
}

// dlopen searches the library path for a name without a slash.
void* LoadPlugin(const char* path) {
  std::string name = std::strchr(path, '/') != nullptr ? path : std::string("./") + path;
  return Load(name.c_str());
}

const char* LastLoadError() { return loadError; }

void UnloadPlugin(void* plugin) { dlclose(plugin); }

// Only the versioned name: the bare libnvidia-ml.so is a development link,
// absent where just the driver is installed.
void* LoadGpuManagementLibrary() {
  return dlopen("libnvidia-ml.so.1", RTLD_NOW | RTLD_LOCAL);
}

void UnloadLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace platform
