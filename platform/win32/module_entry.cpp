// The plug-in's entry on Windows. The C run-time builds the module's static
// objects before it calls DllMain for the attach and tears them down after
// DllMain has seen the detach.
#include <windows.h>

#include "module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    platform::AttachModule(instance);
  else if (reason == DLL_PROCESS_DETACH)
    platform::DetachModule();
  return TRUE;
}
