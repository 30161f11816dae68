// What of a value a field keeps, and how its characters are counted, over
// the table in ini_field/cases: each line's result is worked out again
// here, so the whole file is the expected output.
#include "ini_field.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "scratch.h"

namespace {

// A text of the table: UTF-8 as it stands, other bytes written \xHH.
std::string Unescaped(const std::string& text) {
  std::string bytes;
  for (size_t at = 0; at < text.size(); ++at) {
    const bool escaped = text.compare(at, 2, "\\x") == 0;
    bytes += escaped ? static_cast<char>(std::stoi(text.substr(at + 2, 2), nullptr, 16)) : text[at];
    if (escaped) at += 3;
  }
  return bytes;
}

// "count TEXT" or "keep SIZE [quoted] TEXT".
std::string Result(const std::string& line) {
  std::istringstream words(line);
  std::string verb, size, text;
  words >> verb;
  if (verb == "keep") words >> size;
  std::getline(words >> std::ws, text);
  if (verb == "count") return std::to_string(ini::CharacterCount(Unescaped(text)));
  const bool quoted = text.starts_with("quoted");
  const std::string value = Unescaped(quoted ? text.substr(std::min<size_t>(text.size(), 7)) : text);
  const std::string_view kept = ini::KeptPart(value, quoted, std::stoul(size));
  return std::to_string(kept.size()) + (value.starts_with(kept) ? "" : " NOT A PREFIX");
}

TEST(IniField, CharactersCountAndFieldsKeepWhatTheCasesSay) {
  const std::string cases = testing_support::ReadFile(KESTREL_INI_FIELD_CASES);
  std::string results;
  for (const std::string& line : testing_support::SplitLines(cases)) {
    const size_t arrow = line.rfind(" -> ");
    const bool table = !line.starts_with("#") && arrow != std::string::npos;
    results += table ? line.substr(0, arrow + 4) + Result(line.substr(0, arrow)) : line;
    results += "\n";
  }
  EXPECT_EQ(results, cases);
}

}  // namespace
