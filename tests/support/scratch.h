// Files for tests: a fresh folder per test, whole-file read and write.
#pragma once

#include <filesystem>
#include <functional>
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

// A table that is its own expected output, lines "INPUT -> RESULT": the
// table again, each RESULT worked out anew by `result` from the INPUT (and
// the RESULT as written, for tables whose results name what to work out).
// Lines that start with '#' or have no " -> " stay as they are.
std::string WorkedOut(
    const std::string& table,
    const std::function<std::string(const std::string& input, const std::string& written)>& result);
// A text of such a table: \t, \n and \xHH stand for a tab, a line end and
// that byte.
std::string Unescaped(const std::string& text);

// An expected text of a case over the counter library over NVML, its
// "<counters>" written out as the counters of every GPU that `script` (the
// fake NVML's) lists: so a counter added to the library's table changes only
// the cases that show every counter.
std::string WithCounters(const std::string& expected, const std::filesystem::path& script);

// Expected texts are checked in with "\n" line ends; this is how the
// system's text files and console output write them ("\r\n" on Windows).
std::string AsWritten(const std::string& text);

}  // namespace testing_support
