// The plug-in's costs:
//   ThreeCounterCalls        what one poll must make: Sample, GetCounterValue,
//                            GetCounterAttribute through the table
//   GetSourceData            one poll through the loaded kestrel.so, log off
//   GetSourceDataLogged      the same with the log on: one log line more
//   LoadConfiguration/N      reading N sources, all keys given, from one file
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "counter_api.h"
#include "data_sources.h"
#include "module.h"
#include "platform.h"
#include "profile.h"

namespace fs = std::filesystem;

namespace {

std::vector<void*> plugins;  // unloaded before the counter library's own teardown

void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

using GetSourcesNumFn = uint32_t (*)();
using GetSourceDataFn = float (*)(uint32_t);

// A copy of the plug-in in a folder of its own, with `configuration` beside it.
GetSourceDataFn LoadPlugin(const std::string& folder, const std::string& configuration) {
  fs::path dir = bench::Scratch() / folder;
  fs::create_directories(dir);
  fs::copy_file(KESTREL_PLUGIN, dir / "kestrel.so", fs::copy_options::overwrite_existing);
  Write(dir / "kestrel.cfg", configuration);
  void* plugin = platform::LoadPlugin((dir / "kestrel.so").c_str());
  if (plugin == nullptr) return nullptr;
  plugins.push_back(plugin);
  auto count = reinterpret_cast<GetSourcesNumFn>(platform::FindExport(plugin, "GetSourcesNum"));
  if (count == nullptr || count() != 1) return nullptr;
  return reinterpret_cast<GetSourceDataFn>(platform::FindExport(plugin, "GetSourceData"));
}

void ThreeCounterCalls(benchmark::State& state) {
  bench::UseDirectPath();
  uint64_t value = 0, cycles = 0, type = 0;
  for (auto _ : state) {
    uint32_t count = 0;
    benchmark::DoNotOptimize(CounterApiTable.Sample(nullptr, &count));
    benchmark::DoNotOptimize(CounterApiTable.GetCounterValue(0, 0, &value, &cycles));
    benchmark::DoNotOptimize(CounterApiTable.GetCounterAttribute(0, 2, &type));
    benchmark::ClobberMemory();
  }
}

void Poll(benchmark::State& state, GetSourceDataFn getSourceData) {
  if (getSourceData == nullptr) {
    state.SkipWithError("the plug-in did not load its one source");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(getSourceData(0));
}

void GetSourceData(benchmark::State& state) {
  static GetSourceDataFn poll = LoadPlugin("quiet", "[Source0]\nID=0\nModType=1\nModFactor=2\n");
  Poll(state, poll);
}

void GetSourceDataLogged(benchmark::State& state) {
  static GetSourceDataFn poll =
      LoadPlugin("logged", "[Settings]\nLoggingLevel=1\n[Source0]\nID=0\nModType=1\nModFactor=2\n");
  Poll(state, poll);
}

void LoadConfiguration(benchmark::State& state) {
  const auto sources = static_cast<int>(state.range(0));
  bench::UseDirectPath();
  fs::path path = bench::Scratch() / ("sources-" + std::to_string(sources) + ".cfg");
  std::string text = "[Settings]\nLoggingLevel=0\n";
  for (int i = 0; i < sources; ++i) {
    text += "[Source" + std::to_string(i) + "]\nID=0\nName=Source number " + std::to_string(i) +
            "\nDim=MHz\nMaxLimit=100.5\nMinLimit=0\nGridDim=10\nGroup=clocks\nModType=1\n"
            "ModFactor=0.001\n";
  }
  Write(path, text);
  CKestrelDataSources list;
  for (auto _ : state) {
    platform::ProfileFile file(path.c_str());
    list.LoadConfiguration(file);
    if (list.Count() != sources) state.SkipWithError("not every source loaded");
  }
  state.SetComplexityN(sources);
}

BENCHMARK(ThreeCounterCalls);
BENCHMARK(GetSourceData);
BENCHMARK(GetSourceDataLogged);
BENCHMARK(LoadConfiguration)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Unloaded before the counter library's own teardown at exit.
const struct UnloadPlugins {
  ~UnloadPlugins() {
    for (void* plugin : plugins) platform::UnloadPlugin(plugin);
  }
} unloadPlugins;

}  // namespace
