// The plug-in's entry on POSIX systems: the loader runs the constructor when
// the module is loaded (dlopen) and the destructor when it is unloaded
// (dlclose) or the process ends. The module's own handle is the address of
// a function inside it.
#include "module.h"
#include "module_name.h"

namespace {

__attribute__((constructor)) void EnterProcess() {
  platform::RememberModuleFileName(reinterpret_cast<platform::ModuleHandle>(&EnterProcess));
  platform::AttachModule(reinterpret_cast<platform::ModuleHandle>(&EnterProcess));
}

__attribute__((destructor)) void LeaveProcess() { platform::DetachModule(); }

}  // namespace
