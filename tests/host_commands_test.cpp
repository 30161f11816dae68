// kestrelhost's check and init commands, run as their own processes in the
// plug-in's folder: kestrel.so is there too. Each folder under check/ and
// init/ is one case of that command:
//   kestrel.cfg  a file in the folder, which the command leaves as it was
//                (absent: there is none)
//   name         the name that file has there (absent: kestrel.cfg)
//   setup        a /bin/sh script run in the folder first, for files no text
//                can hold; its exit status 77 skips the case
//   args         the command's arguments, one a line (absent: check's is
//                that file; init's none)
//   script       the counter-library double's script
//   library      "none" or "noexport" to run without a usable library, or
//                "simulated" for the simulated GPU (absent: the double, if
//                there is a script; else none)
//   output       where standard output goes instead, as /dev/full (absent:
//                it is collected)
//   stdout       the expected standard output, byte for byte; in init's, a
//                line "<header>" stands for the header that explains the
//                keys, which init/counters holds in full
//   stderr       the expected standard error (absent: not compared)
//   status       the expected exit status
//   calls        the expected call record, without the loader's
//                NVPMQueryInterface lines (absent: not compared)
//   written      init's: the file that "--out kestrel.cfg" writes
//   host         the sources the plug-in offers from kestrel.cfg (init's:
//                from what init wrote) as kestrelhost lists them, ending
//                normally (absent: not run)
// What init writes, check passes with nothing to report. What is no
// configuration file, check refuses with a clear message on standard error,
// exit status 2 and nothing on standard output, and the plug-in takes no
// source from it.
//
// And random bytes and huge files, given to the plug-in in kestrelhost and
// to kestrelhost check: neither ever crashes, and the plug-in loads what the
// reading rules give.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <regex>
#include <tuple>

#include "counter_double.h"
#include "plugin_under_test.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;
using namespace std::string_literals;

namespace {

struct HostRun {
  std::string out;
  std::string err;
  int exitCode = -1;  // -1 when it did not exit normally: a crash shows as that
};

// kestrelhost with `arguments`, run as a user runs it: in `folder`, so that
// it names files as the user typed them, with standard error collected
// apart, finding the counter library in `libraryFolder` (empty: none can be
// found); standard output collected too, or sent to `output`.
HostRun RunHostIn(const fs::path& folder, const std::vector<std::string>& arguments,
                  const std::string& libraryFolder, const std::string& output = "/dev/stdout") {
  ScratchDir scratch;  // holds the standard error, and no counter library
  ProgramOptions options;
  options.arguments = {"-c",
                       "cd \"$0\" && exec \"$@\" 2>\"$KESTREL_TEST_STDERR\" >\"$KESTREL_TEST_STDOUT\"",
                       folder.string(), KESTRELHOST};
  options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
  options.environment["KESTREL_TEST_STDERR"] = (scratch / "stderr").string();
  options.environment["KESTREL_TEST_STDOUT"] = output;
  options.environment["LD_LIBRARY_PATH"] =
      libraryFolder.empty() ? scratch.path().string() : libraryFolder;
  ProgramRun run = RunProgram("/bin/sh", options);
  return {run.output, ReadFile(scratch / "stderr"), run.exitCode};
}

std::vector<std::string> Cases() {
  std::vector<std::string> dirs;
  for (const fs::path root : {KESTREL_CHECK_CASES, KESTREL_INIT_CASES})
    for (const std::string& name : CaseFolders(root)) dirs.push_back((root / name).string());
  return dirs;
}

// `text` with init's header, "; Format:" up to the blank line after it,
// made "<header>" when `expected` has that line.
std::string HeaderMasked(const std::string& text, const std::string& expected) {
  if (expected.find("\n<header>\n") == std::string::npos) return text;
  return std::regex_replace(text, std::regex(R"(; Format:[\s\S]*?\n\n)"), "<header>\n\n",
                            std::regex_constants::format_first_only);
}

class CommandCase : public testing::TestWithParam<std::string> {};

TEST_P(CommandCase, OutputAndStatusMatch) {
  const fs::path dir = GetParam();
  const std::string command = dir.parent_path().filename().string();
  CounterDouble library;
  library.SetScript(ReadIfPresent(dir / "script"));
  std::string which = ReadWord(dir / "library", fs::exists(dir / "script") ? "counterlib" : "");
  const std::string folder = which.empty() || which == "none" ? "" : KESTREL_DOUBLES "/"s + which;
  PluginFolder plugin;
  const fs::path cwd = plugin.plugin().parent_path();
  const std::string name = ReadWord(dir / "name", "kestrel.cfg");
  if (fs::exists(dir / "kestrel.cfg")) fs::copy_file(dir / "kestrel.cfg", cwd / name);
  if (fs::exists(dir / "setup")) {
    ProgramOptions options;
    options.arguments = {"-e", (dir / "setup").string()};
    options.workingDirectory = cwd;
    const ProgramRun setup = RunProgram("/bin/sh", options);
    if (setup.exitCode == 77) GTEST_SKIP() << "this case cannot be made here";
    ASSERT_EQ(setup.exitCode, 0) << setup.output;
  }
  std::vector<std::string> args = SplitLines(ReadIfPresent(dir / "args"));
  if (command == "check" && !fs::exists(dir / "args")) args = {name};
  args.insert(args.begin(), command);

  HostRun run = RunHostIn(cwd, args, folder, ReadWord(dir / "output", "/dev/stdout"));
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
  // The folder's files are read only to be compared: a setup's may never end.
  if (fs::exists(dir / "written")) expectIfGiven("written", ReadIfPresent(cwd / "kestrel.cfg"));
  if (fs::exists(dir / "kestrel.cfg")) expectIfGiven("kestrel.cfg", ReadIfPresent(cwd / name));
  if (command == "init" && run.exitCode == 0) {
    if (!fs::exists(dir / "written")) WriteFile(cwd / "kestrel.cfg", run.out);
    HostRun check = RunHostIn(cwd, {"check", "kestrel.cfg"}, folder);
    EXPECT_EQ(std::tie(check.exitCode, check.out, check.err), std::make_tuple(0, ""s, ""s));
  }
  if (fs::exists(dir / "host")) {
    HostRun host = RunHostIn(cwd, {"./kestrel.so", "--polls", "0"}, folder);
    EXPECT_EQ(std::tie(host.exitCode, host.out), std::make_tuple(0, ReadFile(dir / "host")));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandCase, testing::ValuesIn(Cases()), [](const auto& info) {
  const fs::path dir = info.param;
  return CaseTestName(dir.parent_path().filename().string() + "_" + dir.filename().string());
});

// In the plug-in's folder: kestrel.so, and kestrel.cfg as each test makes it.
class HostileInput : public testing::Test {
 protected:
  HostileInput() {
    library_.SetScript("counter 1 300 1 raw\ncounter 1 5 1 five\ncounter 1 6 1 six\n");
  }

  // The plug-in polled once in kestrelhost, which must end normally: its
  // first line, "kestrel.so: N sources".
  std::string Plugin() {
    HostRun run = RunHostIn(dir_, {"./kestrel.so", "--polls", "1", "--interval", "0"},
                            KESTREL_DOUBLES "/counterlib");
    EXPECT_EQ(run.exitCode, 0);
    output_ = run.out;
    return output_.substr(0, output_.find('\n'));
  }

  CounterDouble library_;
  PluginFolder folder_;
  const fs::path dir_ = folder_.plugin().parent_path();
  const fs::path cfg_ = folder_.configuration();
  std::string output_;
};

std::string RandomBytes(unsigned seed, size_t size, bool withNul) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(withNul ? generator() : 1 + generator() % 255);
  return bytes;
}

TEST_F(HostileInput, RandomBytesNeverCrashAndSourcesAmidThemStillLoad) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    WriteFile(cfg_, RandomBytes(seed, 64 * 1024, true));
    EXPECT_EQ(RunHostIn(dir_, {"check", "kestrel.cfg"}, "").exitCode, 2);
    EXPECT_EQ(Plugin(), "kestrel.so: 0 sources");

    WriteFile(cfg_, RandomBytes(seed, 64 * 1024, false) + "\n[Source0]\nID=1\nName=found\n" +
                        RandomBytes(seed + 100, 4096, false));
    EXPECT_EQ(Plugin(), "kestrel.so: 1 source");
    EXPECT_NE(output_.find("found"), std::string::npos);
    HostRun text = RunHostIn(dir_, {"check", "--json", "kestrel.cfg"}, "");
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_TRUE(text.out.ends_with("]\n")) << text.out;
  }
}

// Ten thousand sections, the first of megabyte lines cut to their fields.
TEST_F(HostileInput, TenThousandSectionsLoadAndMegabyteLinesAreCutToTheirFields) {
  const std::string megabyte(1 << 20, 'x');
  std::string text = "[" + megabyte + "]\n" + megabyte + "\n[Source0]\nID=2" +
                     std::string(1 << 20, ' ') + "x\nName=" + megabyte + "\nMaxLimit=1" +
                     std::string(1 << 20, '0') + "\n";
  for (int i = 1; i < 10000; ++i)
    text += "[Source" + std::to_string(i) + "]\nID=" + std::to_string(i % 2) + "\n";
  WriteFile(cfg_, text + "[Source0]\nID=\n");  // a repeated section is never searched
  EXPECT_EQ(Plugin(), "kestrel.so: 10000 sources");
  EXPECT_NE(output_.find("\n0   " + std::string(31, 'x') + " Raw"), std::string::npos);
  EXPECT_EQ(library_.Calls().back(), "Shutdown");
  EXPECT_NE(ReadFile(library_.callsPath()).find("AddCounter 2\n"), std::string::npos);
}

}  // namespace
