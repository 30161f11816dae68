// kestrelhost's check and init commands, run as their own processes in a
// folder of their own. Each folder under check/ and init/ is one case of
// that command:
//   kestrel.cfg  a file in the folder, which the command leaves as it was
//                (absent: there is none)
//   args         the command's arguments, one a line (absent: check's is
//                kestrel.cfg; init's none)
//   script       the counter-library double's script
//   library      "none" or "noexport" to run without a usable library, or
//                "simulated" for the simulated GPU (absent: the double, if
//                there is a script; else none)
//   stdout       the expected standard output, byte for byte; in init's, a
//                line "<header>" stands for the header that explains the
//                keys, which init/counters holds in full
//   stderr       the expected standard error (absent: not compared)
//   status       the expected exit status
//   calls        the expected call record, without the loader's
//                NVPMQueryInterface lines (absent: not compared)
//   written      init's: the file that "--out kestrel.cfg" writes
//   host         init's: the sources the plug-in offers from what init
//                wrote, as kestrelhost lists them (absent: not run)
// What init writes, check passes with nothing to report.
#include <gtest/gtest.h>

#include <filesystem>

#include "check_support.h"
#include "counter_double.h"
#include "plugin_under_test.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

std::vector<std::string> Cases() {
  std::vector<std::string> dirs;
  for (const fs::path root : {KESTREL_CHECK_CASES, KESTREL_INIT_CASES})
    for (const std::string& name : CaseFolders(root)) dirs.push_back((root / name).string());
  return dirs;
}

// `text` with init's header, "; Format:" up to the blank line after it,
// made "<header>" when `expected` has that line.
std::string HeaderMasked(std::string text, const std::string& expected) {
  if (expected.find("\n<header>\n") == std::string::npos) return text;
  size_t begin = text.find("; Format:");
  size_t end = text.find("\n\n", begin);
  if (begin == std::string::npos || end == std::string::npos) return text;
  return text.replace(begin, end - begin, "<header>");
}

class CommandCase : public testing::TestWithParam<std::string> {};

TEST_P(CommandCase, OutputAndStatusMatch) {
  const fs::path dir = GetParam();
  const std::string command = dir.parent_path().filename().string();
  CounterDouble library;
  library.SetScript(ReadIfPresent(dir / "script"));
  std::string which = ReadWord(dir / "library", fs::exists(dir / "script") ? "counterlib" : "");
  const std::string folder = which.empty() || which == "none" ? "" : Doubles(which.c_str());
  ScratchDir cwd;
  if (fs::exists(dir / "kestrel.cfg")) fs::copy_file(dir / "kestrel.cfg", cwd / "kestrel.cfg");
  std::vector<std::string> args = SplitLines(ReadIfPresent(dir / "args"));
  if (command == "check" && !fs::exists(dir / "args")) args = {"kestrel.cfg"};
  args.insert(args.begin(), command);

  HostRun run = RunHostIn(cwd.path(), args, folder);
  EXPECT_EQ(run.exitCode, std::stoi(ReadFile(dir / "status")));
  auto expectIfGiven = [&](const char* file, const std::string& got) {
    if (fs::exists(dir / file)) {
      const std::string expected = ReadFile(dir / file);
      EXPECT_EQ(HeaderMasked(got, expected), expected) << file;
    }
  };
  expectIfGiven("stdout", run.out);
  expectIfGiven("stderr", run.err);
  expectIfGiven("calls", library.CallsWithoutQueries());
  expectIfGiven("written", ReadIfPresent(cwd / "kestrel.cfg"));
  expectIfGiven("kestrel.cfg", ReadIfPresent(cwd / "kestrel.cfg"));
  if (command != "init" || run.exitCode != 0) return;
  PluginFolder plugin;
  const fs::path beside = plugin.plugin().parent_path();
  const bool toFile = fs::exists(dir / "written");
  WriteFile(plugin.configuration(), toFile ? ReadFile(cwd / "kestrel.cfg") : run.out);
  HostRun check = RunHostIn(beside, {"check", "kestrel.cfg"}, folder);
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.out + check.err, "");
  if (fs::exists(dir / "host")) {
    HostRun host = RunHostIn(beside, {"./kestrel.so", "--polls", "0"}, folder);
    EXPECT_EQ(host.out, ReadFile(dir / "host"));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandCase, testing::ValuesIn(Cases()), [](const auto& info) {
  const fs::path dir = info.param;
  return CaseTestName(dir.parent_path().filename().string() + "_" + dir.filename().string());
});

TEST(InitOut, AFullDiskUnderStandardOutputIsAFailure) {
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  ProgramOptions options;
  options.arguments = {"-c", "exec \"$0\" init >/dev/full 2>/dev/null", KESTRELHOST};
  options.environment["LD_LIBRARY_PATH"] = Doubles("counterlib");
  ProgramRun run = RunProgram("/bin/sh", options);
  EXPECT_EQ(run.exitCode, 1);
}

TEST(ShippedConfiguration, TheSampleHasNothingToReportOnTheSimulatedGpu) {
  HostRun run = RunHostIn(KESTREL_PLUGIN_SOURCES, {"check", "kestrel.cfg.sample"},
                          Doubles("simulated"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out + run.err, "");
}

}  // namespace
