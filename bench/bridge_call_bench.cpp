// A counter call on the server path, through the Linux COM stand-in and the
// in-process counter-server double: the table call reaches the bridge, which
// makes one virtual call on the server object. Measured beside the direct
// path's table call into the same library function. Run with
//   LD_LIBRARY_PATH=build/release/doubles/counterlib build/release/bin/bench_bridge_call
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "counter_api.h"
#include "counter_server_double.h"
#include "steered_wow64.h"

namespace {

void Bound(benchmark::State& state, testing_support::Wow64Answer path) {
  testing_support::SteerWow64(path);
  if (BindCounterApi() != 0) {
    state.SkipWithError("cannot bind: is the counter-library double on LD_LIBRARY_PATH?");
    return;
  }
  uint64_t value = 0, cycles = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CounterApiTable.GetCounterValue(0, 0, &value, &cycles));
    benchmark::ClobberMemory();
  }
  CounterApiTable.Shutdown();
}

void DirectPathTableCall(benchmark::State& state) {
  Bound(state, testing_support::Wow64Answer::No);
}
void ServerPathTableCall(benchmark::State& state) {
  Bound(state, testing_support::Wow64Answer::Yes);
}

BENCHMARK(DirectPathTableCall);
BENCHMARK(ServerPathTableCall);

}  // namespace

int main(int argc, char** argv) {
  unsetenv("KESTREL_DOUBLE_CALLS");
  char script[] = "/tmp/kestrel-bench-XXXXXX";
  FILE* file = fdopen(mkstemp(script), "w");
  std::fputs("counter 1 300 9 busy\n", file);
  std::fclose(file);
  setenv("KESTREL_DOUBLE_SCRIPT", script, 1);
  counter_server_double::Register();
  counter_server_double::TheScript().record = false;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(script);
  return 0;
}
