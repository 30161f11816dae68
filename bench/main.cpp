// Runs every benchmark against the counter-library double (its call record
// off), then prints each figure beside its baseline from the same run:
//   bench/run            (builds the release preset and runs this)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "bench_support.h"
#include "counter_api.h"
#include "counter_server_double.h"
#include "steered_wow64.h"

namespace bench {

namespace {

std::filesystem::path scratch;

void BindOrStop(testing_support::Wow64Answer path) {
  testing_support::SteerWow64(path);
  if (BindCounterApi() != 0) {
    std::fprintf(stderr, "cannot bind the counter-library double: is it on LD_LIBRARY_PATH?\n");
    std::exit(1);
  }
}

}  // namespace

void UseDirectPath() { BindOrStop(testing_support::Wow64Answer::No); }
void UseServerPath() { BindOrStop(testing_support::Wow64Answer::Yes); }
const std::filesystem::path& Scratch() { return scratch; }

}  // namespace bench

namespace {

// Prints the usual table, keeps every time per iteration in nanoseconds,
// and at the end puts each figure beside its baseline.
class FiguresReporter : public benchmark::ConsoleReporter {
 public:
  FiguresReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With repetitions, the median stands for the benchmark.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      nanoseconds_[run.run_name.str()] =
          run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-56s %10s %10s %10s\n", "Figure (target)", "measured", "baseline", "ratio");
    Ratio("table call / direct call (<= 1.1)", "DirectPathTableCall", "DirectCall");
    Ratio("server path / direct path, table call (one virtual call)", "ServerPathTableCall",
          "DirectPathTableCall");
    Difference("GetSourceData, log off, over its 3 calls (<= +20 ns)", "GetSourceData",
               "ThreeCounterCalls");
    Difference("one log line, over a poll without (<= +50 us)", "GetSourceDataLogged",
               "GetSourceData");
    Ratio("LoadConfiguration, 1,000 / 100 sources (linear: 10)", "LoadConfiguration/1000",
          "LoadConfiguration/100");
    Ratio("LoadConfiguration, 10,000 / 1,000 sources (linear: 10)", "LoadConfiguration/10000",
          "LoadConfiguration/1000");
    auto tenThousand = nanoseconds_.find("LoadConfiguration/10000");
    if (tenThousand != nanoseconds_.end())
      std::printf("%-56s %10s\n", "LoadConfiguration, 10,000 sources (<= 50 ms)",
                  Human(tenThousand->second).c_str());
  }

 private:
  bool Have(const char* a, const char* b) const {
    return nanoseconds_.count(a) != 0 && nanoseconds_.count(b) != 0;
  }
  static std::string Human(double ns) {
    char text[32];
    if (ns >= 1e6)
      std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    else if (ns >= 1e3)
      std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
    else
      std::snprintf(text, sizeof text, "%.1f ns", ns);
    return text;
  }
  void Ratio(const char* figure, const char* measured, const char* baseline) const {
    if (!Have(measured, baseline)) return;
    double m = nanoseconds_.at(measured), b = nanoseconds_.at(baseline);
    std::printf("%-56s %10s %10s %10.3f\n", figure, Human(m).c_str(), Human(b).c_str(), m / b);
  }
  // The figure is the difference: what the measured run adds to the baseline.
  void Difference(const char* figure, const char* measured, const char* baseline) const {
    if (!Have(measured, baseline)) return;
    double m = nanoseconds_.at(measured), b = nanoseconds_.at(baseline);
    std::string added = "+";
    added += Human(m - b);
    std::printf("%-56s %10s %10s %10s\n", figure, Human(m).c_str(), Human(b).c_str(),
                added.c_str());
  }

  std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char** argv) {
  unsetenv("KESTREL_DOUBLE_CALLS");  // no call record: measure the calls alone
  char folder[] = "/tmp/kestrel-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  bench::scratch = folder;
  std::ofstream(bench::scratch / "script") << "counter 1 300 9 busy\n";
  setenv("KESTREL_DOUBLE_SCRIPT", (bench::scratch / "script").c_str(), 1);
  counter_server_double::Register();
  counter_server_double::TheScript().record = false;
  bench::UseDirectPath();

  benchmark::Initialize(&argc, argv);
  FiguresReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::filesystem::remove_all(bench::scratch);
  return 0;
}
