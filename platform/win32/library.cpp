#include <windows.h>

#include <cstdio>

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

}  // namespace platform
