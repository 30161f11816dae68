#include "plugin_state.h"

#include "counter_api.h"

CKestrelDataSources* TheSources = nullptr;
int32_t LoggingLevel = 0;

namespace {

platform::ModuleHandle thisModule = nullptr;

}  // namespace

bool PluginFilePath(const char* extension, char (&path)[platform::kMaxPath]) {
  return platform::ModuleFileName(thisModule, path, platform::kMaxPath) &&
         platform::RenameExtension(path, platform::kMaxPath, extension);
}

// The list is made and destroyed here, not by the C++ run-time, whose own
// order differs between unloading the plug-in and ending the process: this
// way the list always comes first and goes last.
void platform::AttachModule(ModuleHandle self) {
  TheSources = new CKestrelDataSources;
  thisModule = self;
}

void platform::DetachModule() {
  CounterApiTable.Shutdown();
  delete TheSources;  // clears the list: RemoveAllCounters, Shutdown
  TheSources = nullptr;
}
