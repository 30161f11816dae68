// A counter call through CounterApiTable (the slot, then the forwarder's
// jump) against a direct call of the same library function, and the same
// table call on the server path, where a bridge makes one virtual call on
// the counter-server double.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "counter_api.h"
#include "platform.h"

namespace {

using GetCounterValueFn = int32_t(KESTREL_CDECL*)(uint32_t, uint32_t, uint64_t*, uint64_t*);

// The library's own function, called the way a program without the table
// would: through the pointer NVPMQueryInterface hands out.
GetCounterValueFn LibraryGetCounterValue() {
  using Query = void*(KESTREL_CDECL*)(uint32_t);
  void* library = platform::LoadLibraryByName(platform::kCounterLibraryFileName);
  auto query = reinterpret_cast<Query>(platform::FindExport(library, "NVPMQueryInterface"));
  return reinterpret_cast<GetCounterValueFn>(query(0x1E0D2A02));
}

void DirectCall(benchmark::State& state) {
  GetCounterValueFn function = LibraryGetCounterValue();
  benchmark::DoNotOptimize(function);
  uint64_t value = 0, cycles = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(function(0, 0, &value, &cycles));
    benchmark::ClobberMemory();
  }
}

void TableCall(benchmark::State& state) {
  uint64_t value = 0, cycles = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CounterApiTable.GetCounterValue(0, 0, &value, &cycles));
    benchmark::ClobberMemory();
  }
}

void DirectPathTableCall(benchmark::State& state) {
  bench::UseDirectPath();
  TableCall(state);
}

void ServerPathTableCall(benchmark::State& state) {
  bench::UseServerPath();
  TableCall(state);
  bench::UseDirectPath();
}

BENCHMARK(DirectCall);
BENCHMARK(DirectPathTableCall);
BENCHMARK(ServerPathTableCall);

}  // namespace
