// The configuration reference in docs/configuration.md against the schema
// the plug-in reads by: the same keys, in the same sections, of the same
// kind and length, with the same defaults.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "configuration_schema.h"

namespace {

using configuration::Kind;

struct DocumentedKey {
  int table = -1;  // [Settings]'s is the first, the sources' the second
  std::string type, fallback;
};

// The rows "| `Key` | Type | Default | ... |" of the key tables.
std::map<std::string, DocumentedKey> DocumentedKeys() {
  static const std::regex row(R"(\| `([^`]+)` \| ([^|]+) \| ([^|]+) \|.*)");
  std::ifstream file(KESTREL_CONFIGURATION_DOC);
  std::map<std::string, DocumentedKey> keys;
  int table = -1;
  std::smatch cells;
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with("| Key | Type | Default |")) ++table;
    if (std::regex_match(line, cells, row))
      keys[cells[1]] = {table, cells[2], std::regex_replace(cells[3].str(), std::regex("`"), "")};
  }
  return keys;
}

TEST(ConfigurationReference, DescribesEveryKeyOfTheSchemaAndNoOther) {
  std::map<std::string, DocumentedKey> documented = DocumentedKeys();
  for (const configuration::Key& key : configuration::kKeys) {
    SCOPED_TRACE(key.name);
    const DocumentedKey doc = documented[key.name];  // no table and no type when left out
    EXPECT_EQ(doc.table, key.section == configuration::Section::kSettings ? 0 : 1);
    EXPECT_EQ(doc.fallback, key.fallbackText);
    std::string kind = key.kind == Kind::kInteger ? "integer" : "number";
    if (key.kind == Kind::kText)
      kind = "text, up to " + std::to_string(key.capacity - 1) + " characters";
    EXPECT_NE(doc.type.find(kind), std::string::npos) << doc.type;
    documented.erase(key.name);
  }
  for (const auto& [name, doc] : documented) ADD_FAILURE() << name << " is not a key of the schema";
}

}  // namespace
