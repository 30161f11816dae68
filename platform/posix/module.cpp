#include "module.h"

#include <dlfcn.h>
#include <link.h>
#include <stdlib.h>

#include <cstring>
#include <string>

namespace platform {

namespace {

bool CopyIfFits(const char* text, char* buffer, uint32_t size) {
  size_t length = std::strlen(text);
  if (length >= size) return false;
  std::memcpy(buffer, text, length + 1);
  return true;
}

// Whether `address` lies in one of the loaded segments of the object that
// dl_iterate_phdr reports first: the main program.
bool InMainProgram(const void* address) {
  struct Search {
    uintptr_t address;
    bool found;
  } search{reinterpret_cast<uintptr_t>(address), false};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* search = static_cast<Search*>(data);
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          uintptr_t start = info->dlpi_addr + segment.p_vaddr;
          if (segment.p_type == PT_LOAD && search->address >= start &&
              search->address - start < segment.p_memsz)
            search->found = true;
        }
        return 1;  // the first object only
      },
      &search);
  return search.found;
}

}  // namespace

bool ModuleFileName(ModuleHandle module, char* path, uint32_t size) {
  Dl_info info{};
  if (dladdr(module, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0')
    return false;
  // The loader keeps the name the module was loaded by, which may be relative.
  char* full = realpath(info.dli_fname, nullptr);
  bool fits = CopyIfFits(full != nullptr ? full : info.dli_fname, path, size);
  free(full);
  return fits;
}

bool RenameExtension(char* path, uint32_t size, const char* extension) {
  char* name = std::strrchr(path, '/');
  name = name != nullptr ? name + 1 : path;
  char* dot = std::strrchr(name, '.');
  size_t keep = static_cast<size_t>((dot != nullptr ? dot : name + std::strlen(name)) - path);
  size_t length = std::strlen(extension);
  if (keep + length >= size) return false;
  std::memcpy(path + keep, extension, length + 1);
  return true;
}

// dlsym on the main program's handle also searches the libraries loaded
// with it, so the symbol it finds must also lie inside the main program.
bool MainExecutableExports(const char* name) {
  void* program = dlopen(nullptr, RTLD_LAZY);
  if (program == nullptr) return false;
  void* symbol = dlsym(program, name);
  dlclose(program);
  return symbol != nullptr && InMainProgram(symbol);
}

void* LoadPlugin(const char* path) {
  std::string name = std::strchr(path, '/') != nullptr ? path : std::string("./") + path;
  return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

const char* LastLoadError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown error";
}

void UnloadPlugin(void* plugin) { dlclose(plugin); }

}  // namespace platform
