#include "module.h"

#include <shlwapi.h>
#include <windows.h>

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

}  // namespace platform
