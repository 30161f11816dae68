// The cost of one counter call through the bridge and kestrelsrv, next to
// the same call made directly on the interface, in the same run. Prints the
// figures, and fails only when the bridge adds more than half a raw call (a
// second round trip per call would add a whole one).
//
// Two server processes can differ by more than the bridge could ever cost
// (on a busy machine by a factor of two), so both kinds of call go to one
// object: this program connects to kestrelsrv itself, then offers that
// object to the binder through a class factory of its own, which COM asks
// before it looks for a server.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "counter_api.h"
#include "counter_double.h"
#include "server_support.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCalls = 1000;
constexpr double kLimit = 0.5;  // of a raw call

class SharedObjectFactory final : public IClassFactory {
 public:
  explicit SharedObjectFactory(IUnknown* object) : object_(object) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *object = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** object) override {
    return object_->QueryInterface(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  IUnknown* object_;
};

double Microseconds(const std::function<void()>& call) {
  auto start = Clock::now();
  call();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Call by call, taking turns at going first, so that whatever slows the
// machine down falls on both alike; each bridged call is set against the
// raw call next to it. Returns the bridge's cost as a share of a raw call.
double Compare(const char* name, const std::function<void()>& bridged,
               const std::function<void()>& raw) {
  for (int i = 0; i < 50; ++i) {  // warm both up
    bridged();
    raw();
  }
  std::vector<double> b, r, differences;
  for (int i = 0; i < kCalls; ++i) {
    if (i % 2 == 0) b.push_back(Microseconds(bridged));
    r.push_back(Microseconds(raw));
    if (i % 2 != 0) b.push_back(Microseconds(bridged));
    differences.push_back(b.back() - r.back());
  }
  double share = Median(differences) / Median(r);
  std::printf(
      "%-16s %d calls each: median bridged %7.1f us, raw COM %7.1f us; "
      "median difference of neighbouring calls %+6.1f us (%+.1f%% of a raw call)\n",
      name, kCalls, Median(b), Median(r), Median(differences), 100 * share);
  return share;
}

}  // namespace

int main() {
  CounterDouble library;
  library.SetScript("counter 1 300 9 busy\n");
  CoInitialize(nullptr);
  ICounterServer* server = nullptr;
  int32_t result = -5;
  if (FAILED(ConnectTo(CLSID_CounterServer, &server)) || FAILED(server->Init(&result))) {
    std::printf("connecting to kestrelsrv failed\n");
    return 1;
  }
  SharedObjectFactory factory(server);
  DWORD registration = 0;
  CoRegisterClassObject(CLSID_CounterServer, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                        &registration);
  int32_t bound = BindCounterApi();
  CoRevokeClassObject(registration);
  if (bound != 0 || ServerProcessesOfThisProcess().size() != 1) {
    std::printf("binding to the same server failed: %d\n", bound);
    return 1;
  }

  uint32_t count = 0;
  uint64_t value = 0, cycles = 0;
  double counts = Compare(
      "GetNumCounters", [&] { CounterApiTable.GetNumCounters(&count); },
      [&] { server->GetNumCounters(&count, &result); });
  double values = Compare(
      "GetCounterValue", [&] { CounterApiTable.GetCounterValue(0, 0, &value, &cycles); },
      [&] { server->GetCounterValue(0, 0, &value, &cycles, &result); });
  CounterApiTable.Shutdown();

  // What the bridge itself adds to a call: on a closed connection it runs
  // the same code up to the COM call and no further.
  constexpr int kClosedCalls = 100000;
  auto start = Clock::now();
  for (int i = 0; i < kClosedCalls; ++i) CounterApiTable.GetNumCounters(&count);
  std::printf(
      "the bridge without its COM call: %.3f us/call\n",
      std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kClosedCalls);

  server->Release();
  CoUninitialize();
  return counts <= kLimit && values <= kLimit ? 0 : 1;
}
