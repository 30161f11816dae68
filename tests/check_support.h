// kestrelhost's check and init commands run as a user runs them: in a folder
// of their own, so that they name files as the user typed them, with
// standard output and standard error collected apart.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct HostRun {
  std::string out;
  std::string err;
  int exitCode = -1;  // -1 when it did not exit normally: a crash shows as that
};

// The folder of one of the stand-in counter libraries: "counterlib",
// "simulated", "noexport".
std::string Doubles(const char* folder);

// kestrelhost with `arguments`, in `folder`, finding the counter library in
// `libraryFolder` (empty: none can be found).
HostRun RunHostIn(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                  const std::string& libraryFolder);

}  // namespace testing_support
