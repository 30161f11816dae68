// The configuration reader, fed checked-in files. Each folder under profile/
// is one case:
//   input.ini  the file (absent: the file does not exist)
//   lookups    one lookup a line: "string SECTION|KEY|SIZE" or
//              "int SECTION|KEY|FALLBACK"; a string lookup's default is
//              "<default>"
//   expected   the lookups with their results, one a line
// The cases run against the reader of each system: on Windows that is
// GetPrivateProfileStringA, so the reader of other systems is held to it.
// `kestrelhost check` walks the same file line by line; it must see every
// key as the reader gives it.
#include "profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "config_scan.h"
#include "ini_lines.h"
#include "scratch.h"
#include "text_file.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCases = KESTREL_PROFILE_CASES;

// "string Source0|Name|32 -> [value] 5" or "int Settings|Level|7 -> 1".
std::string Lookup(const platform::ProfileFile& file, const std::string& line) {
  std::istringstream fields(line.substr(line.find(' ') + 1));
  std::string section, key, last;
  if (!std::getline(fields, section, '|') || !std::getline(fields, key, '|') ||
      !std::getline(fields, last))
    return line + " -> malformed lookup";
  const char *inSection = section.c_str(), *named = key.c_str();
  if (line.starts_with("int "))
    return line + " -> " + std::to_string(file.ReadInt(inSection, named, std::stoi(last)));
  uint32_t size = static_cast<uint32_t>(std::stoul(last));
  std::string buffer(size + 1, '#');  // one more: a write past `size` shows
  uint32_t copied = file.ReadString(inSection, named, "<default>", buffer.data(), size);
  std::string shown = size == 0 ? "" : buffer.substr(0, buffer.find('\0'));
  return line + " -> [" + shown + "] " + std::to_string(copied) +
         (buffer[size] != '#' ? " WROTE PAST THE BUFFER" : "");
}

class ProfileCase : public testing::TestWithParam<std::string> {};

TEST_P(ProfileCase, LookupsGiveTheExpectedValues) {
  const fs::path dir = kCases / GetParam();
  const fs::path input = dir / "input.ini";
  platform::ProfileFile file((fs::exists(input) ? input : dir / "absent.ini").string().c_str());
  std::string results;
  for (const std::string& line : SplitLines(ReadFile(dir / "lookups")))
    results += Lookup(file, line) + "\n";
  EXPECT_EQ(results, ReadFile(dir / "expected"));
}

// Every key as check's scan sees it (the first of its name in the first
// section of its name; one without "=" reads as missing) is what the reader
// gives for it.
TEST_P(ProfileCase, CheckSeesEveryKeyAsTheReaderReadsIt) {
  const std::string input = (kCases / GetParam() / "input.ini").string();
  std::string text;
  if (!platform::ReadConfigurationText(input.c_str(), &text, nullptr)) GTEST_SKIP() << "no file";
  ConfigScan scan = ScanConfiguration(text);
  platform::ProfileFile file(input.c_str());
  auto expectKeys = [&](std::string_view section, const std::vector<KeyLine>& keys) {
    for (const KeyLine& key : keys) {
      if (key.name.find('\0') != std::string_view::npos) continue;  // no lookup can name it
      const KeyLine& first = *std::find_if(keys.begin(), keys.end(), [&](const KeyLine& other) {
        return ini::SameName(other.name, key.name);
      });
      std::string wanted = first.bare ? "<default>" : std::string(first.value);
      char read[1024];
      file.ReadString(std::string(section).c_str(), std::string(key.name).c_str(), "<default>",
                      read, sizeof read);
      EXPECT_EQ(read, wanted) << "[" << section << "] " << key.name << " on line " << key.line;
    }
  };
  expectKeys("", scan.keysBeforeSections);
  for (const SectionBlock& section : scan.sections)
    if (!section.repeated() && !section.name.empty() &&
        section.name.find('\0') == std::string_view::npos)
      expectKeys(section.name, section.keys);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileCase, testing::ValuesIn(CaseFolders(kCases)),
                         [](const auto& info) { return CaseTestName(info.param); });

}  // namespace
