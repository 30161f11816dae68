// kestrelcli, and kestrelhost with the plug-in, run as their own processes
// over the counter-library double (cases in cli/ and plugin/) or over the
// counter library over NVML with the fake NVML behind it (nvml/), both found
// through the loader's search path. A case folder holds:
//   args         the command line, one argument a line (kestrelhost's: after
//                the plug-in's name and --interval 0; absent: --polls 1;
//                empty: kestrelhost alone, without even those)
//   script       the double's script, or the fake NVML's
//   library      cli/: "none" or "noexport", for no usable library
//   nvml         nvml/: the fake among the doubles, nvml-old, nvml-broken or
//                none (absent: nvml); on Windows put in the system folder
//   keys         single-counter mode: press a key after this many readings
//                (cli/: calls of Sample)
//   kestrel.cfg  the configuration beside the plug-in; it makes an nvml/ case
//                kestrelhost's (plugin/: absent for none)
//   plugin       plugin/: what stands under the plug-in's name in its stead:
//                "none", or the counter library of that folder among the doubles
//   status       plugin/: kestrelhost's exit status (absent: 0)
//   stdout       the output, byte for byte (kestrelhost's values as their bit
//                patterns; nvml/: <counters> for the number of counters)
//   calls        the call record, pointers as P (optional; kestrelhost's
//                without the loader's NVPMQueryInterface lines)
//   log          plugin/: the log, time stamps as "<time> " (absent: none)
// Every console case runs on the direct path and again through the counter
// server (a build of the same program whose WOW64 test says yes), where the
// output must be the same byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>

#include "counter_double.h"
#include "process.h"
#include "scratch.h"
#ifdef _WIN32
#include <windows.h>
#endif
#ifdef KESTRELHOST
#include "platform.h"
#include "plugin_under_test.h"
#endif

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

#ifdef _WIN32
constexpr char kPathVariable[] = "PATH";
#else
constexpr char kPathVariable[] = "LD_LIBRARY_PATH";
#endif

bool IsNvml(const fs::path& dir) { return dir.parent_path() == fs::path(KESTREL_NVML_CASES); }

// The case folders: kestrelcli's, or kestrelhost's (all of plugin/, and
// those of nvml/ with a kestrel.cfg). How the library is loaded is the
// counter server's business, so the cases about that run on the direct path
// only.
std::vector<std::string> Cases(bool host, bool throughServer = false) {
  std::vector<std::string> dirs;
  std::vector<fs::path> roots = {KESTREL_CLI_CASES, KESTREL_NVML_CASES};
#ifdef KESTRELHOST
  roots.push_back(KESTREL_PLUGIN_CASES);
#endif
  for (const fs::path& root : roots)
    for (const std::string& name : CaseFolders(root))
      if ((fs::exists(root / name / "kestrel.cfg") || root.filename() == "plugin") == host &&
          !(throughServer && fs::exists(root / name / "library")))
        dirs.push_back((root / name).string());
  return dirs;
}

#ifdef _WIN32
// Windows takes NVML from where a driver installs it, the system folder,
// and from nowhere else: the fake of the case's variant goes there (for
// "none", nothing does). CTest runs these cases one at a time.
void InstallNvml(const std::string& variant) {
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, sizeof folder);
  ASSERT_TRUE(length > 0 && length < sizeof folder);
  const fs::path target = fs::path(std::string(folder, length)) / "nvml.dll";
  const fs::path source = fs::path(KESTREL_DOUBLES) / variant / "nvml.dll";
  // A counter server of the case before may still be ending, holding it.
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::error_code error;
    fs::remove(target, error);
    if (variant == "none" ? !fs::exists(target)
                          : fs::copy_file(source, target, fs::copy_options::overwrite_existing, error))
      return;
    Sleep(100);
  }
  FAIL() << "cannot put " << source << " in the system folder";
}
#endif

// The counter library a case runs over, and the script behind it.
ProgramOptions Options(const fs::path& dir, CounterDouble& library) {
  ProgramOptions options;
  options.arguments = SplitLines(ReadIfPresent(dir / "args"));
  const std::string doubles = std::string(KESTREL_DOUBLES) + "/";
  if (IsNvml(dir)) {
    options.environment["KESTREL_NVML_SCRIPT"] = (dir / "script").string();
    std::string variant = ReadWord(dir / "nvml", "nvml");
#ifdef _WIN32
    InstallNvml(variant);
    options.environment[kPathVariable] = KESTREL_NVPMAPI_DIR;
#else
    options.environment[kPathVariable] = std::string(KESTREL_NVPMAPI_DIR) +
                                         (variant == "none" ? "" : ":" + doubles + variant);
#endif
  } else {
    library.SetScript(ReadIfPresent(dir / "script"));
    if (fs::exists(dir / "library")) options.environment[kPathVariable] = doubles + ReadWord(dir / "library");
  }
  return options;
}

class ConsoleCase : public testing::TestWithParam<std::tuple<bool, std::string>> {};

TEST_P(ConsoleCase, OutputAndCallsMatch) {
  auto [throughServer, name] = GetParam();
  const fs::path dir = name;
  CounterDouble library;
  ProgramOptions options = Options(dir, library);
  std::vector<std::chrono::steady_clock::time_point> readings;
  if (fs::exists(dir / "keys")) {
    size_t presses = std::stoul(ReadFile(dir / "keys"));
    options.sendKeyWhen = [&, presses, nvml = IsNvml(dir)](const std::string& out) {
      const std::vector<std::string> lines = nvml ? SplitLines(out) : library.Calls();
      size_t taken = std::count_if(lines.begin(), lines.end(), [nvml](const std::string& line) {
        return nvml ? line.starts_with("Percent:") || line.starts_with("Value:")
                    : line.starts_with("Sample ");
      });
      readings.resize(taken, std::chrono::steady_clock::now());
      return taken >= presses;
    };
  }
  ProgramRun run = RunProgram(throughServer ? KESTRELCLI_VIA_SERVER : KESTRELCLI, options);
  EXPECT_EQ(run.exitCode, 0);
  // One reading a second, as the trigger saw them come: on a busy machine
  // either end of a gap may be seen late, so a gap is taken as it is within
  // a quarter second or so; a half or a double is far outside.
  for (size_t i = 1; i < readings.size(); ++i) {
    double seconds = std::chrono::duration<double>(readings[i] - readings[i - 1]).count();
    EXPECT_TRUE(seconds > 0.75 && seconds < 1.5) << "reading " << i << " after " << seconds << " s";
  }
  EXPECT_EQ(run.output, AsWritten(WithCounters(ReadFile(dir / "stdout"), dir / "script")));
  // Through the server the library sees the server's placeholders instead.
  if (!throughServer && fs::exists(dir / "calls")) {
    EXPECT_EQ(library.NormalizedCalls(), ReadFile(dir / "calls"));
  }
}

std::string CaseName(const fs::path& dir) {
  return CaseTestName(dir.parent_path().filename().string() + "_" + dir.filename().string());
}
auto ConsoleCaseName = [](const auto& info) { return CaseName(std::get<1>(info.param)); };

INSTANTIATE_TEST_SUITE_P(Direct, ConsoleCase,
                         testing::Combine(testing::Values(false), testing::ValuesIn(Cases(false))),
                         ConsoleCaseName);
INSTANTIATE_TEST_SUITE_P(ThroughServer, ConsoleCase,
                         testing::Combine(testing::Values(true), testing::ValuesIn(Cases(false, true))),
                         ConsoleCaseName);

#ifdef _WIN32
// A nvml.dll beside the program, which a search by bare name would find
// first, is never loaded; the system folder's is.
TEST(NvmlOnWindows, OnlyTheSystemFoldersNvmlIsLoaded) {
  ScratchDir dir;
  fs::copy_file(KESTRELCLI, dir / "kestrelcli.exe");
  fs::copy_file(fs::path(KESTREL_DOUBLES) / "nvml" / "nvml.dll", dir / "nvml.dll");
  const fs::path cases = KESTREL_NVML_CASES;
  ProgramOptions options;
  const fs::path script = cases / "list-one-gpu" / "script";
  options.environment["KESTREL_NVML_SCRIPT"] = script.string();
  options.environment[kPathVariable] = KESTREL_NVPMAPI_DIR;
  for (const char* installed : {"none", "nvml"}) {
    SCOPED_TRACE(installed);
    InstallNvml(installed);
    ProgramRun run = RunProgram((dir / "kestrelcli.exe").string(), options);
    const char* expected = installed == std::string("none") ? "no-nvml" : "list-one-gpu";
    EXPECT_EQ(run.output, AsWritten(WithCounters(ReadFile(cases / expected / "stdout"), script)));
  }
}
#endif

#ifdef KESTRELHOST
class HostCase : public testing::TestWithParam<std::string> {};

// The plug-in is named as a user in its folder names it, without a folder:
// that is the file in the working folder, even where another plug-in of that
// name stands beside kestrelhost itself.
TEST_P(HostCase, OutputCallsAndLogMatch) {
  const fs::path dir = GetParam();
  CounterDouble library;
  ProgramOptions options = Options(dir, library);
  PluginFolder folder;
  const std::string name = folder.plugin().filename().string();
  ASSERT_TRUE(fs::exists(fs::path(KESTRELHOST).parent_path() / name));
  const std::string other = ReadWord(dir / "plugin");
  if (!other.empty()) fs::remove(folder.plugin());
  if (!other.empty() && other != "none")
    fs::copy_file(fs::path(KESTREL_DOUBLES) / other / platform::kCounterLibraryFileName,
                  folder.plugin());
  if (fs::exists(dir / "kestrel.cfg")) fs::copy_file(dir / "kestrel.cfg", folder.configuration());
  if (!fs::exists(dir / "args")) options.arguments = {"--polls", "1"};
  if (!options.arguments.empty())
    options.arguments.insert(options.arguments.begin(), {name, "--interval", "0"});
  options.workingDirectory = folder.plugin().parent_path().string();

  ProgramRun run = RunProgram(KESTRELHOST, options);
  EXPECT_EQ(std::make_pair(run.signal, run.exitCode),
            std::make_pair(0, std::stoi(ReadWord(dir / "status", "0"))));
  // The expected outputs name the plug-in kestrel.so; on Windows it is kestrel.dll.
  EXPECT_EQ(run.output, AsWritten(std::regex_replace(ReadFile(dir / "stdout"), std::regex(R"(kestrel\.so)"),
                                                     name)));
  if (fs::exists(dir / "calls")) {
    EXPECT_EQ(library.CallsWithoutQueries(), ReadFile(dir / "calls"));
  }
  const std::string noLog = "(no log)";
  EXPECT_EQ(folder.HasLog() ? LogWithoutTimeStamps(ReadFile(folder.log())) : noLog,
            fs::exists(dir / "log") ? AsWritten(ReadFile(dir / "log")) : noLog);
}

INSTANTIATE_TEST_SUITE_P(Host, HostCase, testing::ValuesIn(Cases(true)),
                         [](const auto& info) { return CaseName(info.param); });
#endif

}  // namespace
