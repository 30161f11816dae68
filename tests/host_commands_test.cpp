// kestrelhost's check and init commands, run as their own processes in a
// folder of their own. Each folder under check/ and init/ is one case of
// that command:
//   kestrel.cfg  a file in the folder (absent: there is none)
//   args         the command's arguments, one a line (absent: check's is
//                kestrel.cfg; init's none)
//   script       the counter-library double's script
//   library      "none" or "noexport" to run without a usable library
//                (absent: the double, if there is a script; else none)
//   stdout       the expected standard output, byte for byte
//   stderr       the expected standard error (absent: not compared)
//   status       the expected exit status
//   calls        the expected call record, without the loader's
//                NVPMQueryInterface lines (absent: not compared)
// Then round trips: what init writes passes check with nothing to report,
// and the plug-in, loaded beside it, offers one source per counter, named
// and typed as the counter library says. This program plays the monitoring
// host for the plug-in: it exports GetHostAppID.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>

#include "check_support.h"
#include "counter_double.h"
#include "plugin_under_test.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

extern "C" __attribute__((visibility("default"))) uint32_t GetHostAppID() { return 7; }

namespace {

std::vector<std::string> Cases() {
  std::vector<std::string> dirs;
  for (const fs::path root : {KESTREL_CHECK_CASES, KESTREL_INIT_CASES})
    for (const std::string& name : CaseFolders(root)) dirs.push_back((root / name).string());
  return dirs;
}

class CommandCase : public testing::TestWithParam<std::string> {};

TEST_P(CommandCase, OutputAndStatusMatch) {
  const fs::path dir = GetParam();
  const std::string command = dir.parent_path().filename().string();
  CounterDouble library;
  library.SetScript(ReadIfPresent(dir / "script"));
  std::string which = ReadIfPresent(dir / "library");
  which.erase(which.find_last_not_of('\n') + 1);
  if (which.empty() && fs::exists(dir / "script")) which = "counterlib";
  const std::string folder = which.empty() || which == "none" ? "" : Doubles(which.c_str());
  ScratchDir cwd;
  if (fs::exists(dir / "kestrel.cfg")) fs::copy_file(dir / "kestrel.cfg", cwd / "kestrel.cfg");
  std::vector<std::string> args = SplitLines(ReadIfPresent(dir / "args"));
  if (command == "check" && args.empty()) args = {"kestrel.cfg"};
  args.insert(args.begin(), command);

  HostRun run = RunHostIn(cwd.path(), args, folder);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, std::stoi(ReadFile(dir / "status")));
  EXPECT_EQ(run.out, ReadFile(dir / "stdout"));
  if (fs::exists(dir / "stderr")) {
    EXPECT_EQ(run.err, ReadFile(dir / "stderr"));
  }
  if (fs::exists(dir / "calls")) {
    EXPECT_EQ(library.CallsWithoutQueries(), ReadFile(dir / "calls"));
  }
  // What init writes, check passes with nothing to report.
  if (command == "init" && run.exitCode == 0) {
    WriteFile(cwd / "kestrel.cfg", run.out);
    HostRun check = RunHostIn(cwd.path(), {"check", "kestrel.cfg"}, folder);
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.out, "");
    EXPECT_EQ(check.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandCase, testing::ValuesIn(Cases()), [](const auto& info) {
  const fs::path dir = info.param;
  return CaseTestName(dir.parent_path().filename().string() + "_" + dir.filename().string());
});

struct Counter {
  std::string name;
  bool percent;
};

// The counters as kestrelcli lists them: the witness that init and the
// plug-in are checked against.
std::vector<Counter> CountersListedByKestrelcli(const std::string& libraryFolder) {
  ProgramOptions options;
  options.environment["LD_LIBRARY_PATH"] = libraryFolder;
  std::vector<Counter> counters;
  for (const std::string& line : SplitLines(RunProgram(KESTRELCLI, options).output)) {
    std::smatch match;
    if (std::regex_match(line, match, std::regex("Counter \\d+: (.*)")))
      counters.push_back({match[1], false});
    else if (line == "Type: Percent" && !counters.empty())
      counters.back().percent = true;
  }
  return counters;
}

// kestrelhost's row for a source described from `counter`.
std::string ExpectedRow(size_t index, const Counter& counter) {
  char row[256];
  std::snprintf(row, sizeof row, "%-3zu %-31s %-12s %12g %12g %12g  %-15s %-8s %s", index,
                counter.name.substr(0, 31).c_str(), counter.percent ? "%" : "Raw", 0.0,
                counter.percent ? 100.0 : 0.0, 0.0, "", "enabled", "Not Available");
  return row;
}

TEST(InitRoundTrip, TheSimulatedGpuGivesOneCheckedSourcePerCounter) {
  const std::string simulated = Doubles("simulated");
  std::vector<Counter> counters = CountersListedByKestrelcli(simulated);
  ASSERT_GE(counters.size(), 20u);
  PluginFolder folder;
  const fs::path dir = folder.plugin().parent_path();

  HostRun init = RunHostIn(dir, {"init", "--out", "kestrel.cfg"}, simulated);
  EXPECT_EQ(init.exitCode, 0);
  EXPECT_EQ(init.err, "");
  EXPECT_EQ(init.out, "kestrelhost: wrote kestrel.cfg, one source for each of the " +
                          std::to_string(counters.size()) + " counters\n");

  HostRun check = RunHostIn(dir, {"check", "kestrel.cfg"}, simulated);
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.out, "");
  EXPECT_EQ(check.err, "");  // the counter library was reached: every ID was checked

  HostRun host = RunHostIn(dir, {"./kestrel.so", "--interval", "0"}, simulated);
  EXPECT_EQ(host.exitCode, 0);
  std::vector<std::string> lines = SplitLines(host.out);
  ASSERT_GE(lines.size(), counters.size() + 3);
  EXPECT_EQ(lines[0], "kestrel.so: " + std::to_string(counters.size()) + " sources");
  for (size_t i = 0; i < counters.size(); ++i)
    EXPECT_EQ(lines[3 + i], ExpectedRow(i, counters[i]));
}

// The descriptor record as the plug-in fills it.
struct Descriptor {
  uint32_t version;
  char name[32];
  char units[32];
  float maxLimit, minLimit, gridDim;
  char description[64];
  char group[16];
};

// Names that the reader would change if they were written as they stand,
// and names that look like something else to a reader of the file.
TEST(InitRoundTrip, AwkwardNamesReadBackExactlyAsTheCountersName) {
  const std::vector<std::string> names = {
      "\"quoted\"", "'single'", "trailing blank ", "dB ;level",   "a=b",
      "[bracket]",  ";first",   "#hash",           "tab\tinside", "a name longer than thirty-one characters"};
  std::string script;
  for (const std::string& name : names) script += "counter 1 300 1 " + name + "\n";
  CounterDouble library;
  library.SetScript(script);
  PluginFolder folder;
  const fs::path dir = folder.plugin().parent_path();

  HostRun init = RunHostIn(dir, {"init", "--out", "kestrel.cfg"}, Doubles("counterlib"));
  ASSERT_EQ(init.exitCode, 0) << init.err;
  HostRun check = RunHostIn(dir, {"check", "kestrel.cfg"}, Doubles("counterlib"));
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.out, "");

  LoadedPlugin plugin(folder.plugin());
  ASSERT_EQ(plugin.GetSourcesNum(), names.size());
  for (uint32_t i = 0; i < names.size(); ++i) {
    Descriptor desc{};
    desc.version = 0x00010002;
    plugin.GetSourceDesc(i, &desc);
    EXPECT_EQ(std::string(desc.name), names[i].substr(0, 31));
    EXPECT_EQ(std::string(desc.units), "Raw");
  }
}

TEST(InitOut, AnExistingFileIsLeftAsItIsAndTheLibraryNotAsked) {
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  ScratchDir dir;
  WriteFile(dir / "kestrel.cfg", "mine\n");
  HostRun run = RunHostIn(dir.path(), {"init", "--out", "kestrel.cfg"}, Doubles("counterlib"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "kestrelhost: kestrel.cfg exists already: it is left as it is\n");
  EXPECT_EQ(ReadFile(dir / "kestrel.cfg"), "mine\n");
  EXPECT_EQ(library.Calls(), std::vector<std::string>{});
}

TEST(InitOut, AFileThatCannotBeWrittenIsSaidSoAndLeavesNothing) {
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  ScratchDir dir;
  HostRun run = RunHostIn(dir.path(), {"init", "--out", "no/such/folder.cfg"}, Doubles("counterlib"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "kestrelhost: cannot write no/such/folder.cfg: No such file or directory\n");
  EXPECT_EQ(library.Calls().back(), "Shutdown");
}

TEST(InitOut, AFullDiskUnderStandardOutputIsAFailure) {
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  ProgramOptions options;
  options.arguments = {"-c", "exec \"$0\" init >/dev/full 2>/dev/null", KESTRELHOST};
  options.environment["LD_LIBRARY_PATH"] = Doubles("counterlib");
  ProgramRun run = RunProgram("/bin/sh", options);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 1);
}

TEST(ShippedConfiguration, TheSampleHasNothingToReportOnTheSimulatedGpu) {
  HostRun run = RunHostIn(KESTREL_PLUGIN_SOURCES, {"check", "kestrel.cfg.sample"},
                          Doubles("simulated"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

}  // namespace
