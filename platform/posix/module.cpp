#include "module.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "module_name.h"

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

// The module's file as its loader names it, made absolute against the
// working directory as it is now, without resolving links (a plug-in
// reached through a link is named by the link, as on Windows); empty when
// there is none.
std::string FullName(ModuleHandle module, void** base) {
  Dl_info info{};
  if (dladdr(module, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0')
    return {};
  *base = info.dli_fbase;
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(info.dli_fname, error);
  return error ? std::string(info.dli_fname) : full.lexically_normal().string();
}

// Plain data, so that it is in place before any constructor of the module
// runs, whatever their order.
void* rememberedBase = nullptr;
char rememberedName[kMaxPath];

}  // namespace

void RememberModuleFileName(ModuleHandle module) {
  try {
    void* base = nullptr;
    std::string name = FullName(module, &base);
    if (CopyIfFits(name.c_str(), rememberedName, sizeof rememberedName) && !name.empty())
      rememberedBase = base;
  } catch (...) {  // no memory: the name is worked out when asked for
  }
}

bool ModuleFileName(ModuleHandle module, char* path, uint32_t size) {
  try {
    Dl_info info{};
    if (rememberedBase != nullptr && dladdr(module, &info) != 0 && info.dli_fbase == rememberedBase)
      return CopyIfFits(rememberedName, path, size);
    void* base = nullptr;
    std::string name = FullName(module, &base);
    return !name.empty() && CopyIfFits(name.c_str(), path, size);
  } catch (...) {
    return false;
  }
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

}  // namespace platform
