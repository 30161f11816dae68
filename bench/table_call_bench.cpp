// A counter call through CounterApiTable (slot, then the forwarder's jump)
// against a direct call of the same library function. Run it with the
// counter-library double on the search path:
//   LD_LIBRARY_PATH=build/release/doubles/counterlib build/release/bin/bench_table_call
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "counter_api.h"
#include "platform.h"

namespace {

using GetCounterValueFn = int32_t(KESTREL_CDECL*)(uint32_t, uint32_t, uint64_t*, uint64_t*);

// The library's own function, the way a program without the table would
// call it: through the pointer NVPMQueryInterface hands out.
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

BENCHMARK(DirectCall);
BENCHMARK(TableCall);

}  // namespace

int main(int argc, char** argv) {
  unsetenv("KESTREL_DOUBLE_CALLS");  // no call record: measure the calls alone
  char script[] = "/tmp/kestrel-bench-XXXXXX";
  int fd = mkstemp(script);
  FILE* file = fdopen(fd, "w");
  std::fputs("counter 1 300 9 busy\n", file);
  std::fclose(file);
  setenv("KESTREL_DOUBLE_SCRIPT", script, 1);
  if (BindCounterApi() != 0) {
    std::fprintf(stderr, "cannot bind the counter-library double: is it on LD_LIBRARY_PATH?\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(script);
  return 0;
}
