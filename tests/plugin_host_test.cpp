// The plug-in loaded by kestrelhost, a real host process, with the
// counter-library double behind it. Each folder under plugin/ is one case:
//   kestrel.cfg  the configuration beside the plug-in (absent: none)
//   script       the double's script (absent: Init succeeds, no counters)
//   args         kestrelhost's options, one a line (absent: --polls 1)
//   stdout       kestrelhost's expected output, byte for byte
//   calls        the expected call record, without the loader's
//                NVPMQueryInterface lines (each binding shows as its Init)
//   log          the expected log, time stamps written as "<time> " (absent:
//                no log file may appear)
// Values appear in the output as their bit patterns, so they are compared
// exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "counter_double.h"
#include "platform.h"
#include "plugin_under_test.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCases = KESTREL_PLUGIN_CASES;

// The expected outputs name the plug-in kestrel.so; on Windows it is kestrel.dll.
std::string WithPluginName(std::string text, const PluginFolder& folder) {
  const std::string checkedIn = "kestrel.so";
  const std::string name = folder.plugin().filename().string();
  for (size_t at = text.find(checkedIn); at != std::string::npos;
       at = text.find(checkedIn, at + name.size()))
    text.replace(at, checkedIn.size(), name);
  return text;
}

class PluginCase : public testing::TestWithParam<std::string> {};

TEST_P(PluginCase, OutputCallsAndLogMatch) {
  const fs::path dir = kCases / GetParam();
  CounterDouble library;
  library.SetScript(ReadIfPresent(dir / "script"));
  PluginFolder folder;
  if (fs::exists(dir / "kestrel.cfg")) fs::copy_file(dir / "kestrel.cfg", folder.configuration());

  ProgramOptions options;
  options.arguments = {folder.plugin().string(), "--interval", "0"};
  std::vector<std::string> args = SplitLines(ReadIfPresent(dir / "args"));
  if (args.empty()) args = {"--polls", "1"};
  options.arguments.insert(options.arguments.end(), args.begin(), args.end());

  ProgramRun run = RunProgram(KESTRELHOST, options);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, AsWritten(WithPluginName(ReadFile(dir / "stdout"), folder)));
  if (fs::exists(dir / "calls")) {
    EXPECT_EQ(library.CallsWithoutQueries(), ReadFile(dir / "calls"));
  }
  if (fs::exists(dir / "log")) {
    EXPECT_EQ(LogWithoutTimeStamps(ReadFile(folder.log())), AsWritten(ReadFile(dir / "log")));
  } else {
    EXPECT_FALSE(folder.HasLog());
  }
}

// What is not a plug-in ends kestrelhost with a message, not a crash.
TEST(Kestrelhost, RefusesWhatIsNoPluginAndAWrongCommandLine) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
  } cases[] = {
      {{"/nonexistent/kestrel.so"}, 1},
      {{std::string(KESTREL_DOUBLES) + "/counterlib/" + platform::kCounterLibraryFileName},
       1},  // lacks the exports
      {{}, 2},
      {{"kestrel.so", "--polls", "many"}, 2},
  };
  for (const Case& c : cases) {
    ProgramOptions options;
    options.arguments = c.arguments;
    ProgramRun run = RunProgram(KESTRELHOST, options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, c.exitCode) << testing::PrintToString(c.arguments);
    EXPECT_EQ(run.output, "");
  }
}

// A plug-in named without a folder is the file in the working folder, even
// where another plug-in of that name stands beside kestrelhost itself.
TEST(Kestrelhost, ABareNameIsTheFileInTheWorkingFolder) {
  CounterDouble library;
  library.SetScript("counter 1 300 1 raw\n");
  PluginFolder folder;
  folder.WriteConfiguration("[Source0]\nID=0\n[Source1]\nID=0\n");
  const std::string name = folder.plugin().filename().string();
  ASSERT_TRUE(fs::exists(fs::path(KESTRELHOST).parent_path() / name));
  ProgramOptions options;
  options.arguments = {name, "--polls", "0"};
  options.workingDirectory = folder.plugin().parent_path().string();
  ProgramRun run = RunProgram(KESTRELHOST, options);
  EXPECT_EQ(run.exitCode, 0);
  const std::string firstLine = AsWritten(name + ": 2 sources\n");
  EXPECT_EQ(run.output.substr(0, firstLine.size()), firstLine);
}

INSTANTIATE_TEST_SUITE_P(Cases, PluginCase, testing::ValuesIn(CaseFolders(kCases)), [](const auto& info) { return CaseTestName(info.param); });

}  // namespace
