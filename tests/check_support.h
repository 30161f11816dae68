// kestrelhost's check and init commands run as a user runs them: in a folder
// of their own, so that they name files as the user typed them, with
// standard output and standard error collected apart.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "process.h"
#include "scratch.h"

namespace testing_support {

struct HostRun {
  std::string out;
  std::string err;
  int exitCode = -1;  // -1 when it did not exit normally: a crash shows as that
};

// The folder of one of the stand-in counter libraries: "counterlib",
// "simulated", "noexport".
inline std::string Doubles(const char* folder) {
  return std::string(KESTREL_DOUBLES) + "/" + folder;
}

// kestrelhost with `arguments`, in `folder`, finding the counter library in
// `libraryFolder` (empty: none can be found).
inline HostRun RunHostIn(const std::filesystem::path& folder,
                         const std::vector<std::string>& arguments,
                         const std::string& libraryFolder) {
  ScratchDir scratch;  // holds the standard error, and no counter library
  ProgramOptions options;
  options.arguments = {"-c", "cd \"$0\" && exec \"$@\" 2>\"$KESTREL_TEST_STDERR\"",
                       folder.string(), KESTRELHOST};
  options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
  options.environment["KESTREL_TEST_STDERR"] = (scratch / "stderr").string();
  options.environment["LD_LIBRARY_PATH"] =
      libraryFolder.empty() ? scratch.path().string() : libraryFolder;
  ProgramRun run = RunProgram("/bin/sh", options);
  return {run.output, ReadFile(scratch / "stderr"), run.exitCode};
}

}  // namespace testing_support
