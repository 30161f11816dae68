// A library under the counter library's file name that lacks
// NVPMQueryInterface, as a wrong or damaged installation would.
#include "platform_abi.h"

extern "C" KESTREL_EXPORT int KESTREL_CDECL NVPMQueryInterfaceV2(unsigned) { return 0; }
