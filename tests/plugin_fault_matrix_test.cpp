// Every counter call the plug-in makes, made to fail: with a result code on
// the direct path; on the server path as a failed COM call, with and without
// a code stored first. kestrelhost loads the plug-in (one percentage source,
// 25 %, named and typed by the counter library) and polls it twice; each
// cell checks what the host is shown, and a normal exit. Under the sanitizer
// build a leak fails the exit status.
#include <gtest/gtest.h>

#include <filesystem>

#include "call_failures.h"
#include "counter_double.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// Bit patterns of the readings.
const std::string k25 = "0x41C80000";    // the source's reading, 25 %
const std::string kRaw = "0x3F800000";   // its raw value, 1, when the type is unknown
const std::string k03 = "0x3E99999A";    // sampling failed
const std::string k04 = "0x3ECCCCCD";    // the value could not be read

struct Call {
  const char* name;
  // What the host is shown, in order: on the direct path (every call of that
  // function fails), and on the server path (the first failing call closes
  // the connection; only the next count of sources connects again).
  std::vector<std::string> direct;
  std::vector<std::string> server;
};

const Call kCalls[] = {
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

class PluginFaultMatrix : public testing::TestWithParam<std::tuple<Call, Failure>> {};

TEST_P(PluginFaultMatrix, FailingCallGivesItsDocumentedResult) {
  auto [call, failure] = GetParam();
  const std::string name = call.name;
  CounterDouble library;
  ScratchDir folder;
  const bool direct = failure == Failure::DirectCode;
  fs::copy_file(direct ? KESTREL_PLUGIN : KESTREL_PLUGIN_VIA_SERVER, folder / "kestrel.so");
  WriteFile(folder / "kestrel.cfg", "[Source0]\nID=0\n");
  std::string script = "counter 0 1 4 quarter\n";
  ProgramOptions options;
  options.arguments = {(folder / "kestrel.so").string(), "--polls", "2", "--interval", "0"};
  MakeCallFail(name, failure, script, options);
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

std::string CellName(const testing::TestParamInfo<PluginFaultMatrix::ParamType>& info) {
  return std::string(std::get<0>(info.param).name) + "_" +
         FailureName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(EveryCall, PluginFaultMatrix,
                         testing::Combine(testing::ValuesIn(kCalls),
                                          EveryFailure()),
                         CellName);

}  // namespace
