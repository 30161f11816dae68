#include <windows.h>

#include <cstdio>
#include <cstring>

#include "module.h"
#include "platform.h"

namespace platform {

namespace {

// Why the latest load failed, in FormatMessage's words, with the code.
char loadError[512] = "";

void RememberLoadError(DWORD code) {
  char text[400];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, text, sizeof text, nullptr);
  // The message ends its sentence and its line; the code follows it here.
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ' || text[length - 1] == '.'))
    --length;
  if (length == 0)
    std::snprintf(loadError, sizeof loadError, "Windows error %lu", code);
  else
    std::snprintf(loadError, sizeof loadError, "%.*s (error %lu)", static_cast<int>(length), text,
                  code);
}

void* Load(const char* name) {
  HMODULE library = LoadLibraryA(name);
  if (library == nullptr) RememberLoadError(GetLastError());
  return reinterpret_cast<void*>(library);
}

}  // namespace

const char* const kCounterLibraryFileName = "nvpmapi.dll";

void* LoadLibraryByName(const char* fileName) { return Load(fileName); }

void* FindExport(void* library, const char* name) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(library), name));
}

// A relative name, even a bare one, is made absolute first: LoadLibrary
// would look for a bare name beside the executable before the working folder.
void* LoadPlugin(const char* path) {
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) {
    RememberLoadError(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  return Load(full);
}

const char* LastLoadError() { return loadError; }

void UnloadPlugin(void* plugin) { FreeLibrary(static_cast<HMODULE>(plugin)); }

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

// Only by full path, from where drivers install it: a bare name would be
// looked for in the program's own folder first, where anyone who can write
// there could plant a DLL that the counter server then runs.
void* LoadGpuManagementLibrary() {
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, sizeof folder);
  if (length > 0 && length < sizeof folder) {
    if (HMODULE library = LoadFromFolder(folder, "\\nvml.dll")) return library;
  }
  // Older drivers install it with nvidia-smi only.
  DWORD size = GetEnvironmentVariableA("ProgramW6432", folder, sizeof folder);
  if (size == 0 || size >= sizeof folder) return nullptr;
  return LoadFromFolder(folder, "\\NVIDIA Corporation\\NVSMI\\nvml.dll");
}

void UnloadLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace platform
