// ICounterServer's methods sit at the virtual-table slots the counter
// server implements: checked against a table laid out slot by slot
// independently of the C++ declaration, each slot recording its number.
//
// The object here is only a virtual-table pointer, not a C++ object, which
// is the point; the sanitizer's type check is off for this file.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <utility>

#include "counter_server.h"

namespace {

int reachedSlot = -1;
template <int N>
HRESULT STDMETHODCALLTYPE Slot(void*, ...) {
  reachedSlot = N;
  return S_OK;
}
template <int... N>
constexpr std::array<void*, sizeof...(N)> SlotTable(std::integer_sequence<int, N...>) {
  return {reinterpret_cast<void*>(&Slot<N>)...};
}

TEST(CounterServerInterface, MethodsSitAtTheirFixedVirtualTableSlots) {
  static const auto table = SlotTable(std::make_integer_sequence<int, 27>());
  struct {
    const void* vtable = table.data();
  } object;
  auto* server = reinterpret_cast<ICounterServer*>(&object);
  int32_t r;
  uint32_t u;
  uint64_t q;
  char c;
  CounterSampleRecord s;
  std::pair<int, std::function<void()>> calls[] = {
      {0, [&] { server->QueryInterface(IID_IUnknown, nullptr); }},
      {1, [&] { server->AddRef(); }},
      {2, [&] { server->Release(); }},
      {7, [&] { server->Init(&r); }},
      {8, [&] { server->Shutdown(&r); }},
      {9, [&] { server->CounterCall0(0, &r); }},
      {10, [&] { server->AddCounter(0, &r); }},
      {11, [&] { server->RemoveAllCounters(&r); }},
      {12, [&] { server->CounterCall9(0, &r); }},
      {13, [&] { server->CounterCall3(0, &r); }},
      {14, [&] { server->CounterCall4(&r); }},
      {15, [&] { server->CounterCall5(0, &r); }},
      {16, [&] { server->CounterCall6(0, &r); }},
      {17, [&] { server->CounterCall7(0, &r); }},
      {18, [&] { server->CounterCall8(0, &r); }},
      {19, [&] { server->CounterCall10(0, 0, 0, 0, &r); }},
      {20, [&] { server->Sample(0, &s, &u, &r); }},
      {21, [&] { server->CounterCall18(0, &r); }},
      {22, [&] { server->GetNumCounters(&u, &r); }},
      {23, [&] { server->GetCounterName(0, &c, &u, &r); }},
      {24, [&] { server->CounterCall14(0, 0, &r); }},
      {25, [&] { server->GetCounterAttribute(0, 2, &q, &r); }},
      {26, [&] { server->GetCounterValue(0, 0, &q, &q, &r); }},
  };
  for (auto& [slot, call] : calls) {
    reachedSlot = -1;
    call();
    EXPECT_EQ(reachedSlot, slot);
  }
}

}  // namespace
