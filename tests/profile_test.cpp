// The configuration reader, fed checked-in files. Each folder under profile/
// is one case:
//   input.ini  the file (absent: the file does not exist)
//   lookups    one lookup a line: "string SECTION|KEY|SIZE" or
//              "int SECTION|KEY|FALLBACK"; a string lookup's default is
//              "<default>"
//   expected   the lookups with their results, one a line, in UTF-8
// The cases run against the reader of each system: on Windows that is
// GetPrivateProfileStringA, so the reader of other systems is held to it.
// Windows gives text in the ANSI code page, so there an expected text is
// taken through that code page first, and its length is the one it has
// there. Where the two cut a value differently (a character takes more
// bytes in UTF-8 than in the code page, so fewer fit), its lookup has two
// lines, tagged "windows: " and "posix: ", each holding on its system only;
// the posix one keeps a beginning of what the windows one keeps.
// `kestrelhost check` walks the same file line by line; it must see every
// key as the reader gives it.
#include "profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#endif

#include "config_scan.h"
#include "ini_field.h"
#include "ini_lines.h"
#include "scratch.h"
#include "text_file.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCases = KESTREL_PROFILE_CASES;

#ifdef _WIN32
constexpr std::string_view kThisSystem = "windows: ";
constexpr std::string_view kOtherSystem = "posix: ";

// UTF-8 text as the ANSI code page has it: what the code page lacks becomes
// "?", as Windows writes it.
// Sized for any text: UTF-16 takes no more units than UTF-8 takes bytes, and
// a code page no more than two bytes a unit.
std::string AsTheReaderGivesIt(const std::string& text) {
  const int bytes = static_cast<int>(text.size());
  std::wstring unicode(text.size(), L'\0');
  unicode.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, unicode.data(), bytes));
  std::string ansi(2 * unicode.size(), '\0');
  const int units = static_cast<int>(unicode.size());
  ansi.resize(WideCharToMultiByte(CP_ACP, 0, unicode.data(), units, ansi.data(), 2 * units,
                                  nullptr, nullptr));
  return ansi;
}
#else
constexpr std::string_view kThisSystem = "posix: ";
constexpr std::string_view kOtherSystem = "windows: ";

std::string AsTheReaderGivesIt(const std::string& text) { return text; }
#endif

// "string Source0|Name|32" or "int Settings|Level|7": kind, section, key, and
// the size or the fallback.
const std::regex kLookup(R"((int|string) ([^|]*)\|([^|]*)\|(-?\d+))");
// A string lookup with its result: lookup, size, text, length.
const std::regex kStringResult(R"((string [^|]*\|[^|]*\|(\d+)) -> \[(.*)\] (\d+))");

// A line of `expected` as it reads on this system: "" when it holds on the
// other system only. A string lookup's text is given as this system's
// reader gives it, and its length as the length it has there; a length
// written wrong (not the UTF-8 text's) is left as written, to show.
std::string ExpectedHere(std::string line) {
  if (line.starts_with(kOtherSystem)) return "";
  if (line.starts_with(kThisSystem)) line.erase(0, kThisSystem.size());
  std::smatch result;
  if (!std::regex_match(line, result, kStringResult) ||
      result[4] != std::to_string(result[3].length()))
    return line + "\n";
  std::string given = AsTheReaderGivesIt(result[3]);
  return result[1].str() + " -> [" + given + "] " + std::to_string(given.size()) + "\n";
}

// "string Source0|Name|32 -> [value] 5" or "int Settings|Level|7 -> 1".
std::string Lookup(const platform::ProfileFile& file, const std::string& line) {
  std::smatch fields;
  if (!std::regex_match(line, fields, kLookup)) return line + " -> malformed lookup";
  const std::string section = fields[2], key = fields[3];
  if (fields[1] == "int")
    return line + " -> " +
           std::to_string(file.ReadInt(section.c_str(), key.c_str(), std::stoi(fields[4])));
  uint32_t size = static_cast<uint32_t>(std::stoul(fields[4]));
  std::string buffer(size + 1, '#');  // one more: a write past `size` shows
  uint32_t copied = file.ReadString(section.c_str(), key.c_str(), "<default>", buffer.data(), size);
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
  std::string expected;
  for (const std::string& line : SplitLines(ReadFile(dir / "expected")))
    expected += ExpectedHere(line);
  EXPECT_EQ(results, expected);
}

// Where the systems cut a value differently, the line for systems other
// than Windows keeps all of Windows' text that fits whole in the field's
// bytes: the two differ only by what a character takes there.
TEST_P(ProfileCase, WhereTheSystemsDifferPosixKeepsWhatFitsOfWindowsText) {
  static const std::regex pair(
      R"(windows: (string [^|]*\|[^|]*\|(\d+)) -> \[(.*)\] \d+\nposix: \1 -> \[(.*)\] \d+)");
  std::vector<std::string> lines = SplitLines(ReadFile(kCases / GetParam() / "expected"));
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].starts_with("windows: ") && !lines[i].starts_with("posix: ")) continue;
    const std::string both = lines[i] + "\n" + (i + 1 < lines.size() ? lines[i + 1] : "");
    ++i;
    std::smatch texts;
    ASSERT_TRUE(std::regex_match(both, texts, pair))
        << "not a windows string lookup followed by its posix line: " << both;
    EXPECT_EQ(texts[4].str(), ini::KeptPart(texts[3].str(), false, std::stoul(texts[2])))
        << texts[1];
    EXPECT_NE(texts[4].str(), texts[3].str()) << texts[1] << ": the same on both, so one line";
  }
}

// Every key as check's scan sees it (the first of its name in the first
// section of its name; one without "=" reads as missing) is what the reader
// gives for it.
TEST_P(ProfileCase, CheckSeesEveryKeyAsTheReaderReadsIt) {
  const std::string input = (kCases / GetParam() / "input.ini").string();
  std::string text;
  if (!platform::ReadConfigurationText(input.c_str(), &text, nullptr)) GTEST_SKIP() << "no file";
  // A file with a byte-order mark is read as Unicode, and its text given as
  // the system gives it; any other is taken byte for byte on every system.
  const std::string bytes = ReadFile(input);
  const bool unicode = bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFF\xFE") ||
                       bytes.starts_with("\xFE\xFF");
  ConfigScan scan = ScanConfiguration(text);
  platform::ProfileFile file(input.c_str());
  auto expectKeys = [&](std::string_view section, const std::vector<KeyLine>& keys) {
    for (const KeyLine& key : keys) {
      if (key.name.find('\0') != std::string_view::npos) continue;  // no lookup can name it
      const KeyLine& first = *std::find_if(keys.begin(), keys.end(), [&](const KeyLine& other) {
        return ini::SameName(other.name, key.name);
      });
      std::string wanted = first.bare ? "<default>" : std::string(first.value);
      if (unicode) wanted = AsTheReaderGivesIt(wanted);
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
