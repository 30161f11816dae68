#include "local_server.h"

namespace kestrelsrv {

namespace {

// A server whose client never arrived (it gave up, or another client took
// the class first) would otherwise wait for ever.
constexpr UINT kNoClientTimeoutMs = 60 * 1000;

// Every COM call into this process arrives on the main thread (a
// single-threaded apartment), so this is the only thread that counts.
LONG liveObjects = 0;
LONG locks = 0;
bool everServed = false;

void QuitWhenUnused() {
  if (liveObjects == 0 && locks == 0) PostQuitMessage(0);
}

}  // namespace

void ObjectCreated() {
  ++liveObjects;
  everServed = true;
}

void ObjectReleased() {
  --liveObjects;
  QuitWhenUnused();
}

void LockServer(bool lock) {
  if (lock) {
    ++locks;
    everServed = true;
  } else {
    --locks;
    QuitWhenUnused();
  }
}

int ServeClass(const CLSID& served, IClassFactory* factory) {
  // The counter library then sees every call on this one thread, as it
  // would in a program that loaded it itself.
  if (FAILED(CoInitialize(nullptr))) return 1;
  DWORD registration = 0;
  // Single use: each client gets a server process of its own, and a server
  // that dies leaves no registration behind for the next client to trip on.
  HRESULT registered =
      CoRegisterClassObject(served, factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &registration);
  if (FAILED(registered)) {
    CoUninitialize();
    return 1;
  }
  UINT_PTR timer = SetTimer(nullptr, 0, kNoClientTimeoutMs, nullptr);
  MSG message;
  while (GetMessage(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == timer &&
        !everServed)
      break;
    TranslateMessage(&message);
    DispatchMessage(&message);
  }
  KillTimer(nullptr, timer);
  CoRevokeClassObject(registration);
  CoUninitialize();
  return 0;
}

}  // namespace kestrelsrv
