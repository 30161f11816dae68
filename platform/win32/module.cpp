#include "module.h"

#include <shlwapi.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace platform {

bool ModuleFileName(ModuleHandle module, char* path, uint32_t size) {
  DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), path, size);
  // A name that fills the buffer was cut (and may lack its terminator).
  return length > 0 && length < size;
}

bool RenameExtension(char* path, uint32_t size, const char* extension) {
  // PathRenameExtensionA assumes a buffer of MAX_PATH characters.
  if (size < MAX_PATH) return false;
  return PathRenameExtensionA(path, extension) != FALSE;
}

bool MainExecutableExports(const char* name) {
  HMODULE program = GetModuleHandleA(nullptr);
  return program != nullptr && GetProcAddress(program, name) != nullptr;
}

// A relative name, even a bare one, is made absolute first: LoadLibrary
// would look for a bare name beside the executable before the working folder.
void* LoadPlugin(const char* path) {
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return nullptr;
  return reinterpret_cast<void*>(LoadLibraryA(full));
}

const char* LastLoadError() {
  static char text[64];
  std::snprintf(text, sizeof text, "Windows error %lu", GetLastError());
  return text;
}

void UnloadPlugin(void* plugin) { FreeLibrary(static_cast<HMODULE>(plugin)); }

}  // namespace platform
