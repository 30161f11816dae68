// The counter library over NVML, bound through the counter table, over the
// fake NVML with two GPUs (bench/run points the loader at both):
//   - one poll (Sample, GetCounterValue, GetCounterAttribute) of a counter
//     whose reading is had without an NVML call: Kestrel's own cost;
//   - the same poll of a counter that makes its NVML call, beside that
//     NVML call alone made directly: the difference is Kestrel's own cost;
//   - NVML reading calls per round of N polled sources, and metrics samples
//     per GPU per round, counted, as the counters nvml_calls_per_round
//     (against N, sources) and gpm_samples_per_gpu_per_round.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "counter_api.h"
#include "counters.h"
#include "nvml_abi.h"
#include "platform.h"

namespace {

constexpr uint32_t kPerGpu = nvpm::kCountersPerGpu;

using CallCount = long (*)(const char*);

void* Fake() { return platform::LoadLibraryByName("libnvidia-ml.so.1"); }

long Calls(const char* function) {
  static auto count = reinterpret_cast<CallCount>(platform::FindExport(Fake(), "FakeNvmlCalls"));
  return count(function);
}

long ReadingCalls() { return Calls("reading"); }

void BindOverTwoGpus() {
  static bool bound = false;
  if (bound) return;
  const std::filesystem::path script = std::filesystem::temp_directory_path() / "kestrel-nvml-bench";
  std::ofstream(script) << "gpu 0000:65:00.0\nutilization_gpu 40\npcie_tx 10\ngpm 1\nmetric 1 5\n"
                           "gpu 0000:17:00.0\nutilization_gpu 50\npcie_tx 20\ngpm 1\nmetric 1 6\n";
  setenv("KESTREL_NVML_SCRIPT", script.c_str(), 1);
  int32_t status = BindCounterApi();
  std::filesystem::remove(script);
  if (status != 0) {
    std::fprintf(stderr, "cannot bind the NVML counter library (%d): check LD_LIBRARY_PATH\n", status);
    std::exit(1);
  }
  for (uint32_t i = 0; i < 2 * kPerGpu; ++i) CounterApiTable.AddCounter(i);
  bound = true;
}

void Poll(uint32_t counter) {
  uint32_t count = 0;
  uint64_t value = 0, cycles = 0, type = 0;
  benchmark::DoNotOptimize(CounterApiTable.Sample(nullptr, &count));
  benchmark::DoNotOptimize(CounterApiTable.GetCounterValue(counter, 0, &value, &cycles));
  benchmark::DoNotOptimize(CounterApiTable.GetCounterAttribute(counter, 2, &type));
  benchmark::ClobberMemory();
}

// pcie_tx_kbps, read by AddCounter less than a second before: no NVML call.
void NvmlPollWithoutNvmlCall(benchmark::State& state) {
  BindOverTwoGpus();
  const uint32_t pcieTxOfFirstGpu = nvpm::PositionNamed("pcie_tx_kbps") * 2;
  for (auto _ : state) Poll(pcieTxOfFirstGpu);
}

void NvmlPollWithNvmlCall(benchmark::State& state) {
  BindOverTwoGpus();
  const uint32_t gpuBusyOfFirstGpu = nvpm::PositionNamed("gpu_busy") * 2;
  for (auto _ : state) Poll(gpuBusyOfFirstGpu);
}

void NvmlCallAlone(benchmark::State& state) {
  BindOverTwoGpus();
  using Get = nvml::Return (*)(nvml::Device, nvml::Utilization*);
  using Handle = nvml::Return (*)(unsigned, nvml::Device*);
  auto get = reinterpret_cast<Get>(platform::FindExport(Fake(), "nvmlDeviceGetUtilizationRates"));
  auto handle = reinterpret_cast<Handle>(platform::FindExport(Fake(), "nvmlDeviceGetHandleByIndex_v2"));
  nvml::Device device = nullptr;
  handle(0, &device);
  nvml::Utilization utilization{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(get(device, &utilization));
    benchmark::ClobberMemory();
  }
}

// One round: every source polled once, the sources being every counter of
// both GPUs.
void NvmlRound(benchmark::State& state) {
  BindOverTwoGpus();
  long calls = 0, samples = 0, rounds = 0;
  for (auto _ : state) {
    long callsBefore = ReadingCalls(), samplesBefore = Calls("nvmlGpmSampleGet");
    for (uint32_t i = 0; i < 2 * kPerGpu; ++i) Poll(i);
    calls += ReadingCalls() - callsBefore;
    samples += Calls("nvmlGpmSampleGet") - samplesBefore;
    ++rounds;
  }
  state.counters["sources"] = 2 * kPerGpu;
  state.counters["nvml_calls_per_round"] = static_cast<double>(calls) / rounds;
  state.counters["gpm_samples_per_gpu_per_round"] = static_cast<double>(samples) / rounds / 2;
}

BENCHMARK(NvmlPollWithoutNvmlCall);
BENCHMARK(NvmlPollWithNvmlCall);
BENCHMARK(NvmlCallAlone);
BENCHMARK(NvmlRound)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
