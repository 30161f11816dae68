// Arbitrary bytes as a configuration file for `kestrelhost check --json`,
// the counter-library double behind it: whatever the file holds, standard
// output is one JSON array of findings, each with its four fields, empty
// exactly when the status says nothing was found; a file that cannot be
// read prints nothing there.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "fuzz_input.h"

// kestrelhost's own lives beside its command table; the command line given
// here is always well formed.
int Usage() {
  fuzz::Require(false, "a well-formed command line is refused");
  return 2;
}

namespace {

// Runs the check with its standard output in a file of this process's own.
int RunCapturing(const char* input, std::string* output) {
  static const std::string path = std::string(input) + ".out";
  std::fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  fuzz::Require(saved >= 0 && file >= 0, "standard output can be captured");
  dup2(file, STDOUT_FILENO);
  close(file);
  char command[] = "--json";
  char* argv[] = {const_cast<char*>(input), command};
  int status = RunCheck(2, argv);
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::ifstream captured(path, std::ios::binary);
  output->assign(std::istreambuf_iterator<char>(captured), std::istreambuf_iterator<char>());
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string output;
  int status = RunCapturing(fuzz::WriteInputFile(data, size), &output);
  fuzz::Require(status >= 0 && status <= 2, "the status is 0, 1 or 2");
  if (status == 2) {
    fuzz::Require(output.empty(), "a file that cannot be read prints nothing on standard output");
    return 0;
  }
  nlohmann::json findings = nlohmann::json::parse(output, nullptr, false);
  fuzz::Require(!findings.is_discarded(), "the output is JSON");
  fuzz::Require(findings.is_array(), "the output is an array");
  fuzz::Require(findings.empty() == (status == 0), "the status says whether anything was found");
  for (const nlohmann::json& finding : findings) {
    fuzz::Require(finding.is_object() && finding.size() == 4, "a finding has four fields");
    fuzz::Require(finding.contains("file") && finding["file"].is_string(), "a finding names its file");
    fuzz::Require(finding.contains("line") && finding["line"].is_number_integer() &&
                      finding["line"].get<int64_t>() >= 1,
                  "a finding names its line");
    fuzz::Require(finding.contains("kind") && finding["kind"].is_string() &&
                      !finding["kind"].get<std::string>().empty(),
                  "a finding has a kind");
    fuzz::Require(finding.contains("message") && finding["message"].is_string() &&
                      !finding["message"].get<std::string>().empty(),
                  "a finding says what it found");
  }
  return 0;
}
