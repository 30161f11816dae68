#include "check_support.h"

#include "process.h"
#include "scratch.h"

namespace testing_support {

std::string Doubles(const char* folder) { return std::string(KESTREL_DOUBLES) + "/" + folder; }

HostRun RunHostIn(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
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
