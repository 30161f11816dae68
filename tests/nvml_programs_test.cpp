// kestrelcli and kestrelhost, run as their own processes over the counter
// library over NVML, with the fake NVML behind it, both found through the
// loader's search path. Each folder under nvml/ is one case:
//   script       the fake NVML's script
//   nvml         the fake's folder among the doubles: nvml-old, nvml-broken,
//                or none for no NVML at all (absent: nvml)
//   args         kestrelcli's command line, one argument a line
//   keys         kestrelcli reading one counter: a key after this many readings
//   kestrel.cfg  instead of args: kestrelhost polls the plug-in twice, 150 ms
//                apart, with this configuration
//   stdout       the expected output, byte for byte
// The console cases run on the direct path and through the counter server.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "process.h"
#include "scratch.h"
#ifdef KESTRELHOST
#include "plugin_under_test.h"
#endif

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCases = KESTREL_NVML_CASES;

#ifdef _WIN32
constexpr char kPathVariable[] = "PATH";
constexpr char kSeparator = ';';
#else
constexpr char kPathVariable[] = "LD_LIBRARY_PATH";
constexpr char kSeparator = ':';
#endif

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of("\r\n") + 1);
  return text;
}

size_t Readings(const std::string& output) {
  size_t count = 0;
  for (const std::string& line : SplitLines(output))
    if (line.rfind("Percent:", 0) == 0 || line.rfind("Value:", 0) == 0) ++count;
  return count;
}

enum class Path { Direct, Server };

std::vector<std::string> CaseNames(bool console) {
  std::vector<std::string> names = CaseFolders(kCases);
  std::erase_if(names, [console](const std::string& name) {
    return fs::exists(kCases / name / "kestrel.cfg") == console;
  });
  return names;
}

ProgramOptions Options(const fs::path& dir, const ScratchDir& scratch) {
  WriteFile(scratch / "script", ReadIfPresent(dir / "script"));
  std::string variant = Trimmed(ReadIfPresent(dir / "nvml"));
  if (variant.empty()) variant = "nvml";
  std::string path = KESTREL_NVPMAPI_DIR;
  if (variant != "none") path += kSeparator + std::string(KESTREL_DOUBLES) + "/" + variant;
  ProgramOptions options;
  options.environment[kPathVariable] = path;
  options.environment["KESTREL_NVML_SCRIPT"] = (scratch / "script").string();
  return options;
}

class ConsoleCase : public testing::TestWithParam<std::tuple<Path, std::string>> {};

TEST_P(ConsoleCase, OutputMatches) {
  auto [path, name] = GetParam();
  const fs::path dir = kCases / name;
  ScratchDir scratch;
  ProgramOptions options = Options(dir, scratch);
  options.arguments = SplitLines(ReadIfPresent(dir / "args"));
  if (fs::exists(dir / "keys")) {
    size_t readings = std::stoul(ReadFile(dir / "keys"));
    options.sendKeyWhen = [readings](const std::string& out) { return Readings(out) >= readings; };
  }
  ProgramRun run = RunProgram(path == Path::Direct ? KESTRELCLI : KESTRELCLI_VIA_SERVER, options);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, AsWritten(ReadFile(dir / "stdout")));
}

std::string CaseName(const testing::TestParamInfo<ConsoleCase::ParamType>& info) {
  return CaseTestName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Direct, ConsoleCase,
                         testing::Combine(testing::Values(Path::Direct),
                                          testing::ValuesIn(CaseNames(true))),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(ThroughServer, ConsoleCase,
                         testing::Combine(testing::Values(Path::Server),
                                          testing::ValuesIn(CaseNames(true))),
                         CaseName);

#ifdef KESTRELHOST
class HostCase : public testing::TestWithParam<std::string> {};

TEST_P(HostCase, OutputMatches) {
  const fs::path dir = kCases / GetParam();
  ScratchDir scratch;
  ProgramOptions options = Options(dir, scratch);
  PluginFolder folder;
  fs::copy_file(dir / "kestrel.cfg", folder.configuration());
  options.arguments = {folder.plugin().string(), "--polls", "2", "--interval", "150"};
  ProgramRun run = RunProgram(KESTRELHOST, options);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, AsWritten(ReadFile(dir / "stdout")));
}

INSTANTIATE_TEST_SUITE_P(Host, HostCase, testing::ValuesIn(CaseNames(false)),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return CaseTestName(info.param);
                         });
#endif

}  // namespace
