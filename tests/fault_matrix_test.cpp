// Every counter call kestrelcli and the plug-in make, made to fail: with a
// result code on the direct path (the double returns -9); on the server path
// as a failed COM call, with and without the code 21 stored first. Each cell
// checks what the program shows, and a normal exit with status 0. Under the
// sanitizer build a leak fails the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "counter_double.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

enum class Failure { DirectCode, ServerCallFails, ServerCallFailsAfterStoringCode };

const auto kEveryFailure = testing::Values(Failure::DirectCode, Failure::ServerCallFails,
                                           Failure::ServerCallFailsAfterStoringCode);

// Makes `function` fail: a line of the double's script on the direct path, or
// KESTREL_SERVER_FAULT for a program built to take the server path.
void MakeCallFail(const std::string& function, Failure failure, std::string& script,
                  ProgramOptions& options) {
  if (failure == Failure::DirectCode)
    script += function == "Init" ? "init -9\n" : "fail " + function + " -9\n";
  else
    options.environment["KESTREL_SERVER_FAULT"] =
        failure == Failure::ServerCallFails ? function : function + ",21";
}

template <typename Param>
std::string CellName(const testing::TestParamInfo<Param>& info) {
  const char* failures[] = {"code", "com", "com_and_code"};
  const auto& call = std::get<0>(info.param);
  return std::string(call.name) + "_" + call.suffix +
         failures[static_cast<int>(std::get<1>(info.param))];
}

// kestrelcli: the documented line, %s standing for the code.
struct CliCall {
  const char* name;      // the library function, and the server method
  const char* mode;      // kestrelcli's argument
  const char* expected;
  const char* suffix;    // of the cell's name
};

const CliCall kCliCalls[] = {
    {"Init", "0", "NVPerfAPI initialization failed with error code: %s\n", ""},
    {"GetNumCounters", "0", "INVPMGetNumCounters failed with error code: %s\n", ""},
    {"AddCounter", "0", "Error adding counter: %s\n", ""},
    {"AddCounter", "sample", "<<<Error adding counter: %s>>>", "sample_"},
    {"GetCounterName", "0", "\nCounter 0: <<<Error retrieving short name>>>\n", ""},
    {"GetCounterAttribute", "0", "Could not determine counter type\n", ""},
    {"Sample", "0", "Error %s sampling counter\n", ""},
    {"GetCounterValue", "0", "\nError %s retreiving counter value\n", ""},
    {"RemoveAllCounters", "sample", "Value: 300  Cycle: 9\n\nPress any key to exit", "sample_"},
    {"Shutdown", "0", "Value: 300  Cycle: 9\n", ""},
};

// Codes: the direct path's -9; the server's stored 21; else the bridge's
// -5, or the binder's -1 for a failed Init call.
std::string WithCode(std::string text, const std::string& name, Failure failure) {
  const char* code = failure == Failure::DirectCode                        ? "4294967287"
                     : failure == Failure::ServerCallFailsAfterStoringCode ? "21"
                     : name == "Init"                                      ? "4294967295"
                                                                           : "4294967291";
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, code);
  return text;
}

// Readings printed after the single-counter prompt.
size_t Readings(const std::string& output) {
  size_t start = output.find("stop collection\n\n");
  if (start == std::string::npos) return 0;
  size_t readings = 0;
  for (const char* mark : {"Value:", "Percent:", "Error "})
    for (size_t at = output.find(mark, start); at != std::string::npos;
         at = output.find(mark, at + 1))
      ++readings;
  return readings;
}

class CliFaultMatrix : public testing::TestWithParam<std::tuple<CliCall, Failure>> {};

TEST_P(CliFaultMatrix, FailingCallGivesItsDocumentedResult) {
  auto [call, failure] = GetParam();
  const std::string name = call.name;
  const bool sampleAll = std::string(call.mode) == "sample";
  CounterDouble library;
  ProgramOptions options;
  options.arguments = {call.mode};
  std::string script = "counter 1 300 9 busy\n";
  MakeCallFail(name, failure, script, options);
  library.SetScript(script);
  // Two readings: the second shows what the calls answer after the failure.
  if (!sampleAll) options.sendKeyWhen = [](const std::string& output) { return Readings(output) >= 2; };
  const char* program = failure == Failure::DirectCode ? KESTRELCLI : KESTRELCLI_VIA_SERVER;
  ProgramRun run = RunProgram(program, options);

  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.output.find(WithCode(call.expected, name, failure)), std::string::npos) << run.output;
  if (failure == Failure::DirectCode) return;

  // The failed call closed the connection: the server shut the library down
  // once, and nothing reached the library after that. (A failing Shutdown
  // method never reaches the library at all.)
  auto calls = library.Calls();
  if (name == "Shutdown") {
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Shutdown"), 0);
  } else {
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Shutdown"), 1);
    EXPECT_EQ(calls.back(), "Shutdown");
  }
  // A reading after the close finds no connection.
  bool failsDuringReadings = !sampleAll && name != "Init" && name != "GetNumCounters" &&
                             name != "AddCounter" && name != "Shutdown";
  if (failsDuringReadings) {
    const std::string afterClose = "Error 4294967291 sampling counter\n";
    EXPECT_EQ(run.output.substr(run.output.size() - afterClose.size()), afterClose) << run.output;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCall, CliFaultMatrix,
                         testing::Combine(testing::ValuesIn(kCliCalls), kEveryFailure),
                         CellName<CliFaultMatrix::ParamType>);

// The plug-in in kestrelhost: one percentage source, 25 %, named and typed by
// the counter library, polled twice. Readings as bit patterns: the source's
// 25 %; its raw value 1, when the type is unknown; sampling failed; the value
// could not be read.
const std::string k25 = "0x41C80000", kRaw = "0x3F800000", k03 = "0x3E99999A",
                  k04 = "0x3ECCCCCD";

struct PluginCall {
  const char* name;
  // What the host is shown, in order: on the direct path (every call of that
  // function fails), and on the server path (the first failing call closes
  // the connection; only the next count of sources connects again).
  std::vector<std::string> direct;
  std::vector<std::string> server;
  const char* suffix = "";
};

const PluginCall kPluginCalls[] = {
    {"Init", {"0 sources"}, {"0 sources"}},
    // The loader's fallbacks for a source without Name and Dim.
    {"GetCounterName", {"Unknown", "%", "Poll 1\n0   25 ", k25}, {"Unknown", "?", k25, k25}},
    {"GetCounterAttribute", {"quarter", "?", kRaw, kRaw}, {"quarter", "?", kRaw, k03}},
    {"AddCounter", {"refused", k25, k25}, {"refused", k03, k03}},
    {"Sample", {"enabled", k03, k03}, {"enabled", k03, k03}},
    {"GetCounterValue", {"enabled", k04, k04}, {"enabled", k04, k03}},
    // Their results are ignored: nothing shows.
    {"RemoveAllCounters", {"enabled", k25, k25}, {"enabled", k25, k25}},
    {"Shutdown", {"enabled", k25, k25}, {"enabled", k25, k25}},
};

class PluginFaultMatrix : public testing::TestWithParam<std::tuple<PluginCall, Failure>> {};

TEST_P(PluginFaultMatrix, FailingCallGivesItsDocumentedResult) {
  auto [call, failure] = GetParam();
  CounterDouble library;
  ScratchDir folder;
  const bool direct = failure == Failure::DirectCode;
  fs::copy_file(direct ? KESTREL_PLUGIN : KESTREL_PLUGIN_VIA_SERVER, folder / "kestrel.so");
  WriteFile(folder / "kestrel.cfg", "[Source0]\nID=0\n");
  std::string script = "counter 0 1 4 quarter\n";
  ProgramOptions options;
  options.arguments = {(folder / "kestrel.so").string(), "--polls", "2", "--interval", "0"};
  MakeCallFail(call.name, failure, script, options);
  library.SetScript(script);

  ProgramRun run = RunProgram(KESTRELHOST, options);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0);
  size_t at = 0;
  for (const std::string& shown : direct ? call.direct : call.server) {
    size_t found = run.output.find(shown, at);
    ASSERT_NE(found, std::string::npos) << "\"" << shown << "\" missing from:\n" << run.output;
    at = found + shown.size();
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCall, PluginFaultMatrix,
                         testing::Combine(testing::ValuesIn(kPluginCalls), kEveryFailure),
                         CellName<PluginFaultMatrix::ParamType>);

}  // namespace
