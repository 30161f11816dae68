// kestrelcli, run as its own process against the counter-library double.
// Each folder under cli/ is one case:
//   args     the command line, one argument a line (absent: none)
//   script   the double's script
//   library  "none" or "noexport" to run without a usable library
//   keys     in single-counter mode, press a key after this many Sample calls
//   stdout   the expected output, byte for byte
//   calls    the expected call record, pointers written as P (optional)
#include <gtest/gtest.h>

#include <filesystem>

#include "counter_double.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCases = KESTREL_CLI_CASES;

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kCases))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Optional(const fs::path& path) { return fs::exists(path) ? ReadFile(path) : ""; }

size_t CountSampleCalls(const CounterDouble& library) {
  size_t samples = 0;
  for (const std::string& line : library.Calls())
    if (line.rfind("Sample ", 0) == 0) ++samples;
  return samples;
}

class CliCase : public testing::TestWithParam<std::string> {};

TEST_P(CliCase, OutputAndCallsMatch) {
  const fs::path dir = kCases / GetParam();
  CounterDouble library;
  library.SetScript(Optional(dir / "script"));

  ProgramOptions options;
  options.arguments = SplitLines(Optional(dir / "args"));
  std::string which = Optional(dir / "library");
  which.erase(which.find_last_not_of("\n") + 1);
  if (!which.empty())
    options.environment["LD_LIBRARY_PATH"] = std::string(KESTREL_DOUBLES) + "/" + which;
  if (fs::exists(dir / "keys")) {
    size_t presses = std::stoul(ReadFile(dir / "keys"));
    options.sendKeyWhen = [&] { return CountSampleCalls(library) >= presses; };
  }

  ProgramRun run = RunProgram(KESTRELCLI, options);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, ReadFile(dir / "stdout"));
  if (fs::exists(dir / "calls")) {
    EXPECT_EQ(library.NormalizedCalls(), ReadFile(dir / "calls"));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CliCase, testing::ValuesIn(CaseNames()),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
