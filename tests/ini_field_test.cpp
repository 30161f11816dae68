// What of a value a field keeps, and how its characters are counted, over
// the table in ini_field/cases: each line's result is worked out again
// here, so the whole file is the expected output.
#include "ini_field.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "scratch.h"

namespace {

using namespace testing_support;

// "count TEXT" or "keep SIZE [quoted] TEXT".
std::string Result(const std::string& line, const std::string&) {
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
  const std::string cases = ReadFile(KESTREL_INI_FIELD_CASES);
  EXPECT_EQ(WorkedOut(cases, Result), cases);
}

}  // namespace
