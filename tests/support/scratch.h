// Files for tests: a fresh folder per test, whole-file read and write.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A new empty folder, removed again when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);
std::vector<std::string> SplitLines(const std::string& text);

// The cases of a data-driven test: the names of the folders below `root`,
// sorted.
std::vector<std::string> CaseFolders(const std::filesystem::path& root);
// A file of a case, or "" when the case does not have it.
std::string ReadIfPresent(const std::filesystem::path& path);
// A one-word file of a case without its line end, or `otherwise`.
std::string ReadWord(const std::filesystem::path& path, const std::string& otherwise = "");
// A case folder's name as a test name: letters and digits kept, the rest '_'.
std::string CaseTestName(const std::string& name);

// Expected texts are checked in with "\n" line ends; this is how the
// system's text files and console output write them ("\r\n" on Windows).
std::string AsWritten(const std::string& text);

}  // namespace testing_support
