// Every counter call kestrelcli makes, made to fail: with a result code on
// the direct path; on the server path as a failed COM call, with and without
// a code stored first. Each cell checks the documented line, a normal exit
// with status 0 and, on the server path, that the failed call closed the
// connection (the server shut the library down) and nothing reached the
// library afterwards. Under the sanitizer build a leak fails the exit status.
#include <gtest/gtest.h>

#include <algorithm>

#include "call_failures.h"
#include "counter_double.h"
#include "process.h"

using namespace testing_support;

namespace {

struct Call {
  const char* name;       // the library function, and the server method
  const char* mode;       // kestrelcli's argument
  const char* expected;   // the documented line, %s standing for the code
};

const Call kCalls[] = {
    {"Init", "0", "NVPerfAPI initialization failed with error code: %s\n"},
    {"GetNumCounters", "0", "INVPMGetNumCounters failed with error code: %s\n"},
    {"AddCounter", "0", "Error adding counter: %s\n"},
    {"AddCounter", "sample", "<<<Error adding counter: %s>>>"},
    {"GetCounterName", "0", "\nCounter 0: <<<Error retrieving short name>>>\n"},
    {"GetCounterAttribute", "0", "Could not determine counter type\n"},
    {"Sample", "0", "Error %s sampling counter\n"},
    {"GetCounterValue", "0", "\nError %s retreiving counter value\n"},
    {"RemoveAllCounters", "sample", "Value: 300  Cycle: 9\n\nPress any key to exit"},
    {"Shutdown", "0", "Value: 300  Cycle: 9\n"},
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

class CliFaultMatrix : public testing::TestWithParam<std::tuple<Call, Failure>> {};

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

std::string CellName(const testing::TestParamInfo<CliFaultMatrix::ParamType>& info) {
  const Call& call = std::get<0>(info.param);
  return std::string(call.name) + "_" + (std::string(call.mode) == "sample" ? "sample_" : "") +
         FailureName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(EveryCall, CliFaultMatrix,
                         testing::Combine(testing::ValuesIn(kCalls),
                                          EveryFailure()),
                         CellName);

}  // namespace
