#include <windows.h>

#include <cstring>
#include <initializer_list>

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

namespace platform {

namespace {

HMODULE LoadFromFolder(const char* folder, const char* tail) {
  char path[MAX_PATH];
  size_t folderLength = strlen(folder);
  if (folderLength == 0 || folderLength + strlen(tail) + 1 > sizeof path) return nullptr;
  strcpy(path, folder);
  strcat(path, tail);
  // The library's own dependencies come from its folder too.
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void* LoadGpuManagementLibrary() {
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, sizeof folder);
  if (length > 0 && length < sizeof folder) {
    if (HMODULE library = LoadFromFolder(folder, "\\nvml.dll")) return library;
  }
  // Older drivers install it with nvidia-smi only.
  for (const char* variable : {"ProgramW6432", "ProgramFiles"}) {
    DWORD size = GetEnvironmentVariableA(variable, folder, sizeof folder);
    if (size == 0 || size >= sizeof folder) continue;
    if (HMODULE library = LoadFromFolder(folder, "\\NVIDIA Corporation\\NVSMI\\nvml.dll"))
      return library;
  }
  return reinterpret_cast<void*>(LoadLibraryA("nvml.dll"));
}

void UnloadLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace platform
