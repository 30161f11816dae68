// kestrelcli, run as its own process against the counter-library double.
// Each folder under cli/ is one case:
//   args     the command line, one argument a line (absent: none)
//   script   the double's script
//   library  "none" or "noexport" to run without a usable library
//   keys     in single-counter mode, press a key after this many Sample calls
//   stdout   the expected output, byte for byte
//   calls    the expected call record, pointers written as P (optional)
// Every case runs twice: on the direct path, and through the counter server
// (a build of the same program whose WOW64 test says yes), where the output
// must be the same byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "counter_double.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCases = KESTREL_CLI_CASES;

#ifndef KESTREL_LIBRARY_PATH_VARIABLE
#define KESTREL_LIBRARY_PATH_VARIABLE "LD_LIBRARY_PATH"
#endif

// How the library is loaded is the counter server's business, so the cases
// about that run on the direct path only.
std::vector<std::string> CaseNames(bool throughServer) {
  std::vector<std::string> names = CaseFolders(kCases);
  if (throughServer)
    std::erase_if(names, [](const std::string& name) { return fs::exists(kCases / name / "library"); });
  return names;
}

size_t CountSampleCalls(const CounterDouble& library) {
  size_t samples = 0;
  for (const std::string& line : library.Calls())
    if (line.rfind("Sample ", 0) == 0) ++samples;
  return samples;
}

enum class Path { Direct, Server };

class CliCase : public testing::TestWithParam<std::tuple<Path, std::string>> {};

TEST_P(CliCase, OutputAndCallsMatch) {
  auto [path, name] = GetParam();
  const fs::path dir = kCases / name;
  CounterDouble library;
  library.SetScript(ReadIfPresent(dir / "script"));

  ProgramOptions options;
  options.arguments = SplitLines(ReadIfPresent(dir / "args"));
  std::string which = ReadIfPresent(dir / "library");
  which.erase(which.find_last_not_of("\n") + 1);
  if (!which.empty())
    options.environment[KESTREL_LIBRARY_PATH_VARIABLE] = std::string(KESTREL_DOUBLES) + "/" + which;
  if (fs::exists(dir / "keys")) {
    size_t presses = std::stoul(ReadFile(dir / "keys"));
    options.sendKeyWhen = [&library, presses](const std::string&) { return CountSampleCalls(library) >= presses; };
  }

#ifdef KESTRELCLI_VIA_SERVER
  ProgramRun run = RunProgram(path == Path::Direct ? KESTRELCLI : KESTRELCLI_VIA_SERVER, options);
#else
  ProgramRun run = RunProgram(KESTRELCLI, options);
#endif
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, AsWritten(ReadFile(dir / "stdout")));
  // Through the server the library sees the server's placeholders instead.
  if (path == Path::Direct && fs::exists(dir / "calls")) {
    EXPECT_EQ(library.NormalizedCalls(), ReadFile(dir / "calls"));
  }
}

std::string CaseName(const testing::TestParamInfo<CliCase::ParamType>& info) {
  return CaseTestName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Direct, CliCase,
                         testing::Combine(testing::Values(Path::Direct),
                                          testing::ValuesIn(CaseNames(false))),
                         CaseName);
#ifdef KESTRELCLI_VIA_SERVER
INSTANTIATE_TEST_SUITE_P(ThroughServer, CliCase,
                         testing::Combine(testing::Values(Path::Server),
                                          testing::ValuesIn(CaseNames(true))),
                         CaseName);
#endif

}  // namespace
