// Every counter call kestrelcli and the plug-in make, made to fail: with a
// result code on the direct path (the double returns -9); on the server path
// as a failed COM call, with and without the code 21 stored first. Each cell
// checks what the program shows, and a normal exit with status 0. Under the
// sanitizer build a leak fails the exit status. The cells are listed in
// fault_matrix/kestrelcli and fault_matrix/kestrelhost.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "counter_double.h"
#include "process.h"
#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

enum class Failure { DirectCode, ServerCallFails, ServerCallFailsAfterStoringCode };

const auto kEveryFailure = testing::Values(Failure::DirectCode, Failure::ServerCallFails,
                                           Failure::ServerCallFailsAfterStoringCode);

// Scripts the double and makes `function` fail: a line of the script on the
// direct path, or KESTREL_SERVER_FAULT for a program built to take the
// server path.
void MakeCallFail(const std::string& function, Failure failure, CounterDouble& library,
                  std::string script, ProgramOptions& options) {
  if (failure == Failure::DirectCode)
    script += function == "Init" ? "init -9\n" : "fail " + function + " -9\n";
  else
    options.environment["KESTREL_SERVER_FAULT"] =
        failure == Failure::ServerCallFails ? function : function + ",21";
  library.SetScript(script);
}

std::vector<std::string> Split(const std::string& text, const char* between) {
  const std::regex separator(between);
  return {std::sregex_token_iterator(text.begin(), text.end(), separator, -1), {}};
}

// The lines of fault_matrix/`program`, each split into its fields.
using Cell = std::vector<std::string>;
std::vector<Cell> Cells(const char* program) {
  std::vector<Cell> cells;
  for (std::string line : SplitLines(ReadFile(fs::path(KESTREL_FAULT_MATRIX) / program)))
    if (!line.empty() && line[0] != '#')
      cells.push_back(Split(std::regex_replace(line, std::regex(R"(\\n)"), "\n"), R"( \| )"));
  return cells;
}

using CellParam = std::tuple<Cell, Failure>;
std::string CellName(const testing::TestParamInfo<CellParam>& info) {
  const char* failures[] = {"code", "com", "com_and_code"};
  const Cell& cell = std::get<0>(info.param);
  return cell[0] + "_" + (cell[1] == "sample" ? "sample_" : "") +
         failures[static_cast<int>(std::get<1>(info.param))];
}

// Codes: the direct path's -9; the server's stored 21; else the bridge's
// -5, or the binder's -1 for a failed Init call.
std::string WithCode(const std::string& text, const std::string& name, Failure failure) {
  const char* code = failure == Failure::DirectCode                        ? "4294967287"
                     : failure == Failure::ServerCallFailsAfterStoringCode ? "21"
                     : name == "Init"                                      ? "4294967295"
                                                                           : "4294967291";
  return std::regex_replace(text, std::regex("%s"), code);
}

// Readings printed after the single-counter prompt.
size_t Readings(const std::string& output) {
  const std::string after =
      output.substr(std::min(output.size(), output.find("stop collection\n\n")));
  static const std::regex reading("\n(Value:|Percent:|Error )");
  return static_cast<size_t>(
      std::distance(std::sregex_iterator(after.begin(), after.end(), reading), {}));
}

class CliFaultMatrix : public testing::TestWithParam<CellParam> {};

TEST_P(CliFaultMatrix, FailingCallGivesItsDocumentedResult) {
  auto [cell, failure] = GetParam();
  const std::string& name = cell[0];
  const bool sampleAll = cell[1] == "sample";
  CounterDouble library;
  ProgramOptions options;
  options.arguments = {cell[1]};
  MakeCallFail(name, failure, library, "counter 1 300 9 busy\n", options);
  // Two readings: the second shows what the calls answer after the failure.
  if (!sampleAll) options.sendKeyWhen = [](const std::string& out) { return Readings(out) >= 2; };
  const char* program = failure == Failure::DirectCode ? KESTRELCLI : KESTRELCLI_VIA_SERVER;
  ProgramRun run = RunProgram(program, options);

  EXPECT_EQ(std::make_pair(run.signal, run.exitCode), std::make_pair(0, 0));
  EXPECT_NE(run.output.find(WithCode(cell[2], name, failure)), std::string::npos) << run.output;
  if (failure == Failure::DirectCode) return;

  // The failed call closed the connection: the server shut the library down
  // once, and nothing reached the library after that (a failing Shutdown
  // method never reaches it at all); a reading after the close finds no
  // connection.
  auto calls = library.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Shutdown"), name == "Shutdown" ? 0 : 1);
  EXPECT_TRUE(name == "Shutdown" || calls.back() == "Shutdown");
  const std::string afterClose = "Error 4294967291 sampling counter\n";
  bool failsDuringReadings = !sampleAll && name != "Init" && name != "GetNumCounters" &&
                             name != "AddCounter" && name != "Shutdown";
  EXPECT_TRUE(!failsDuringReadings || run.output.ends_with(afterClose)) << run.output;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, CliFaultMatrix,
                         testing::Combine(testing::ValuesIn(Cells("kestrelcli")), kEveryFailure),
                         CellName);

// The plug-in in kestrelhost: one percentage source, 25 %, named and typed by
// the counter library, polled twice.
class PluginFaultMatrix : public testing::TestWithParam<CellParam> {};

TEST_P(PluginFaultMatrix, FailingCallGivesItsDocumentedResult) {
  auto [cell, failure] = GetParam();
  CounterDouble library;
  ScratchDir folder;
  const bool direct = failure == Failure::DirectCode;
  fs::copy_file(direct ? KESTREL_PLUGIN : KESTREL_PLUGIN_VIA_SERVER, folder / "kestrel.so");
  WriteFile(folder / "kestrel.cfg", "[Source0]\nID=0\n");
  ProgramOptions options;
  options.arguments = {(folder / "kestrel.so").string(), "--polls", "2", "--interval", "0"};
  MakeCallFail(cell[0], failure, library, "counter 0 1 4 quarter\n", options);

  ProgramRun run = RunProgram(KESTRELHOST, options);
  EXPECT_EQ(std::make_pair(run.signal, run.exitCode), std::make_pair(0, 0));
  size_t at = 0;
  for (const std::string& shown : Split(cell[direct ? 1 : 2], "; ")) {
    at = run.output.find(shown, at);
    ASSERT_NE(at, std::string::npos) << "\"" << shown << "\" missing from:\n" << run.output;
    at += shown.size();
  }
  // Whatever failed, every clearing of the list shuts the library down after
  // removing its counters, and the last call is a Shutdown (a library that
  // failed to start is called no more).
  if (!direct || cell[0] == "Init") return;
  const std::string calls = library.CallsWithoutQueries();
  EXPECT_FALSE(std::regex_search(calls, std::regex("RemoveAllCounters\n(?!Shutdown\n)"))) << calls;
  EXPECT_TRUE(calls.ends_with("Shutdown\n")) << calls;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, PluginFaultMatrix,
                         testing::Combine(testing::ValuesIn(Cells("kestrelhost")), kEveryFailure),
                         CellName);

}  // namespace
