// The loader keeps the name a module was loaded by, which may be relative
// to the working directory of that moment. The module's entry takes it down
// as a full path while it still means what the host meant; ModuleFileName
// then gives that path, whatever the working directory has become.
#pragma once

#include "module.h"

namespace platform {

void RememberModuleFileName(ModuleHandle module);

}  // namespace platform
