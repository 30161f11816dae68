// The module the plug-in lives in, the process around it, and the loading of
// a plug-in by a host. posix/module.cpp and win32/module.cpp implement it.
#pragma once

#include <cstdint>

namespace platform {

// The longest file name the plug-in builds, terminator included.
#ifdef _WIN32
inline constexpr uint32_t kMaxPath = 260;
#else
inline constexpr uint32_t kMaxPath = 4096;
#endif

// A loaded module: on Windows its module handle, elsewhere any address
// inside it.
using ModuleHandle = void*;

// Stores the full file name of `module` in `path` (capacity `size`,
// terminator included). False when there is none or it does not fit: a cut
// name would name some other file.
bool ModuleFileName(ModuleHandle module, char* path, uint32_t size);

// Replaces the extension of the file name in `path` (from the last dot of its
// last component) with `extension`, such as ".cfg", or appends it when there
// is none. False, with `path` unchanged, when the result does not fit `size`.
bool RenameExtension(char* path, uint32_t size, const char* extension);

// Whether the process's main executable itself, not some library loaded into
// the process, exports a function named `name`.
bool MainExecutableExports(const char* name);

// Called by the module entry (module_entry.cpp, one per system) once when the
// module is loaded into a process and once when it leaves it. The module that
// links the entry defines them.
void AttachModule(ModuleHandle self);
void DetachModule();

// For a host: loads the plug-in at `path` (a bare file name means the current
// folder, not the library search path). Null when it does not load; then
// LastLoadError (platform.h) says why.
void* LoadPlugin(const char* path);
void UnloadPlugin(void* plugin);

}  // namespace platform
