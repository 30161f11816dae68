// The configuration reader, fed checked-in files. Each folder under profile/
// is one case:
//   input.ini  the file (absent: the file does not exist)
//   lookups    one lookup a line: "string SECTION|KEY|SIZE" or
//              "int SECTION|KEY|FALLBACK"; a string lookup's default is
//              "<default>"
//   expected   the lookups with their results, one a line
#include "profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "scratch.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCases = KESTREL_PROFILE_CASES;

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields;
  std::istringstream stream(text);
  for (std::string field; std::getline(stream, field, '|');) fields.push_back(field);
  return fields;
}

// "string Source0|Name|32 -> [value] 5" or "int Settings|Level|7 -> 1".
std::string Lookup(const platform::ProfileFile& file, const std::string& line) {
  size_t blank = line.find(' ');
  std::string kind = line.substr(0, blank);
  std::vector<std::string> fields = Fields(line.substr(blank + 1));
  if (fields.size() != 3) return line + " -> malformed lookup";
  if (kind == "int") {
    int32_t value = file.ReadInt(fields[0].c_str(), fields[1].c_str(), std::stoi(fields[2]));
    return line + " -> " + std::to_string(value);
  }
  uint32_t size = static_cast<uint32_t>(std::stoul(fields[2]));
  std::string buffer(size + 1, '#');  // one more: a write past `size` shows
  uint32_t copied =
      file.ReadString(fields[0].c_str(), fields[1].c_str(), "<default>", buffer.data(), size);
  std::string shown = size == 0 ? "" : buffer.substr(0, buffer.find('\0'));
  return line + " -> [" + shown + "] " + std::to_string(copied) +
         (buffer[size] != '#' ? " WROTE PAST THE BUFFER" : "");
}

class ProfileCase : public testing::TestWithParam<std::string> {};

TEST_P(ProfileCase, LookupsGiveTheExpectedValues) {
  const fs::path dir = kCases / GetParam();
  const fs::path input = dir / "input.ini";
  platform::ProfileFile file(fs::exists(input) ? input.c_str() : (dir / "absent.ini").c_str());
  std::string results;
  for (const std::string& line : SplitLines(ReadFile(dir / "lookups")))
    results += Lookup(file, line) + "\n";
  EXPECT_EQ(results, ReadFile(dir / "expected"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileCase, testing::ValuesIn(CaseFolders(kCases)), [](const auto& info) { return CaseTestName(info.param); });

}  // namespace
