// The operating-system seams. Everything that differs between Windows and
// POSIX systems is behind these functions; posix/ and win32/ implement them.
#pragma once

#include <cstdint>

namespace platform {

// File name of the vendor counter library, searched the system's usual way.
extern const char* const kCounterLibraryFileName;

// Loads a shared library by file name alone (no path), searched the usual
// way (LD_LIBRARY_PATH / the DLL search order). Returns null when it cannot
// be loaded; then LastLoadError says why. A loaded library is never unloaded.
void* LoadLibraryByName(const char* fileName);

// Why the latest LoadLibraryByName or LoadPlugin that failed did so, in the
// system's own words (dlerror; FormatMessage and the error code); empty
// before any failure.
const char* LastLoadError();

// Looks up an exported symbol of a library from LoadLibraryByName.
// Returns null when the library does not export it.
void* FindExport(void* library, const char* name);

// Loads the GPU driver's management library (NVML) from where the driver
// installs it: on Linux "libnvidia-ml.so.1" through the loader's usual
// search; on Windows only by full path, from the system folder, then the
// driver's NVSMI folder (never by bare name, which would search the
// program's own folder first). Null when none loads.
void* LoadGpuManagementLibrary();

// Unloads a library from LoadGpuManagementLibrary.
void UnloadLibrary(void* library);

// Suspends the calling thread for about `milliseconds`.
void SleepMilliseconds(uint32_t milliseconds);

// True when a key is waiting at the console, without reading it. On a
// terminal a single key press counts (no Enter needed) and the terminal's
// settings are put back on every exit path. When standard input is not a
// terminal, pending input or the end of input counts as a key.
bool KeyIsWaiting();

// Asks whether this is a 32-bit process under WOW64. Returns false when the
// question fails; otherwise stores 1 (WOW64) or 0 through `flag`.
bool QueryWow64(int32_t* flag);

}  // namespace platform
