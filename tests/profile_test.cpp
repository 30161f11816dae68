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
#include <sstream>
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
std::string AsTheReaderGivesIt(const std::string& text) {
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return text;
  int wide =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring unicode(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), unicode.data(), wide);
  int narrow = WideCharToMultiByte(CP_ACP, 0, unicode.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(narrow), '\0');
  WideCharToMultiByte(CP_ACP, 0, unicode.data(), wide, ansi.data(), narrow, nullptr, nullptr);
  return ansi;
}
#else
constexpr std::string_view kThisSystem = "posix: ";
constexpr std::string_view kOtherSystem = "windows: ";

std::string AsTheReaderGivesIt(const std::string& text) { return text; }
#endif

// A string lookup's result, "[text] length", split from `line`: false when
// it has none.
bool SplitResult(const std::string& line, std::string* lookup, std::string* text, size_t* length) {
  size_t open = line.find(" -> [");
  size_t close = line.rfind("] ");
  if (!line.starts_with("string ") || open == std::string::npos || close == std::string::npos ||
      close < open)
    return false;
  *lookup = line.substr(0, open);
  *text = line.substr(open + 5, close - open - 5);
  *length = std::stoul(line.substr(close + 2));
  return true;
}

// A line of `expected` as it reads on this system: "" when it holds on the
// other system only. A string lookup's text is given as this system's
// reader gives it, and its length as the length it has there; a length
// written wrong (not the UTF-8 text's) is left as written, to show.
std::string ExpectedHere(std::string line) {
  if (line.starts_with(kOtherSystem)) return "";
  if (line.starts_with(kThisSystem)) line.erase(0, kThisSystem.size());
  std::string lookup, text;
  size_t length = 0;
  if (!SplitResult(line, &lookup, &text, &length) || length != text.size()) return line + "\n";
  std::string given = AsTheReaderGivesIt(text);
  return lookup + " -> [" + given + "] " + std::to_string(given.size()) + "\n";
}

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
  std::string expected;
  for (const std::string& line : SplitLines(ReadFile(dir / "expected")))
    expected += ExpectedHere(line);
  EXPECT_EQ(results, expected);
}

// Where the systems cut a value differently, the line for systems other
// than Windows keeps all of Windows' text that fits whole in the field's
// bytes: the two differ only by what a character takes there.
TEST_P(ProfileCase, WhereTheSystemsDifferPosixKeepsWhatFitsOfWindowsText) {
  std::vector<std::string> lines = SplitLines(ReadFile(kCases / GetParam() / "expected"));
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (!line.starts_with("windows: ") && !line.starts_with("posix: ")) continue;
    std::string lookup, windowsText, posixLookup, posixText;
    size_t length = 0;
    ASSERT_TRUE(line.starts_with("windows: ") && i + 1 < lines.size() &&
                lines[i + 1].starts_with("posix: "))
        << "not a windows line followed by its posix line: " << line;
    ASSERT_TRUE(SplitResult(line.substr(9), &lookup, &windowsText, &length) &&
                SplitResult(lines[++i].substr(7), &posixLookup, &posixText, &length))
        << "not a string lookup: " << line;
    ASSERT_EQ(posixLookup, lookup);
    size_t size = std::stoul(lookup.substr(lookup.rfind('|') + 1));
    EXPECT_EQ(posixText, ini::KeptPart(windowsText, false, size)) << lookup;
    EXPECT_NE(posixText, windowsText) << lookup << ": the same on both, so one line";
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
