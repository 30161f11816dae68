// kestrelhost check, run as its own process on checked-in configurations.
// Each folder under check/ is one case:
//   kestrel.cfg  the file checked (absent: there is none)
//   args         check's arguments, one a line (absent: kestrel.cfg)
//   script       the counter-library double's script (absent: no counter
//                library can be found)
//   stdout       the expected standard output, byte for byte
//   status       the expected exit status
//   stderr       the expected standard error (absent: not compared)
// kestrelhost runs in the case's folder and names the file as it was given.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "check_support.h"
#include "counter_double.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCases = KESTREL_CHECK_CASES;

class CheckCase : public testing::TestWithParam<std::string> {};

TEST_P(CheckCase, OutputAndStatusMatch) {
  const fs::path dir = kCases / GetParam();
  CounterDouble library;
  library.SetScript(ReadIfPresent(dir / "script"));
  std::vector<std::string> args = SplitLines(ReadIfPresent(dir / "args"));
  if (args.empty()) args = {"kestrel.cfg"};
  args.insert(args.begin(), "check");

  HostRun run = RunHostIn(dir, args, fs::exists(dir / "script") ? Doubles("counterlib") : "");
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.out, ReadFile(dir / "stdout"));
  EXPECT_EQ(run.exitCode, std::stoi(ReadFile(dir / "status")));
  if (fs::exists(dir / "stderr")) {
    EXPECT_EQ(run.err, ReadFile(dir / "stderr"));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckCase, testing::ValuesIn(CaseFolders(kCases)), [](const auto& info) { return CaseTestName(info.param); });

}  // namespace
