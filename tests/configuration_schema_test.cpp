// The configuration reference in docs/configuration.md against the schema
// the plug-in reads by: the same keys, in the same sections, of the same
// kind and length, with the same defaults.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "configuration_schema.h"

namespace {

using configuration::Kind;
using configuration::Section;

struct DocumentedKey {
  size_t table;  // 0 for the first key table, 1 for the second
  std::string type, fallback;
};

std::string WithoutBackticks(std::string text) {
  std::erase(text, '`');
  return text;
}

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream row(line.substr(1));
  std::string cell;
  while (std::getline(row, cell, '|')) {
    size_t begin = cell.find_first_not_of(' '), end = cell.find_last_not_of(' ');
    cells.push_back(begin == std::string::npos ? "" : cell.substr(begin, end - begin + 1));
  }
  return cells;
}

// The rows of the tables headed "| Key | Type | Default | What it does |".
std::map<std::string, DocumentedKey> DocumentedKeys() {
  std::ifstream file(KESTREL_CONFIGURATION_DOC);
  std::map<std::string, DocumentedKey> keys;
  std::string line;
  int table = -1;
  bool inTable = false;
  while (std::getline(file, line)) {
    if (line.starts_with("| Key | Type | Default |")) {
      ++table;
      inTable = true;
    } else if (!line.starts_with("|")) {
      inTable = false;
    } else if (inTable && !line.starts_with("|---")) {
      std::vector<std::string> cells = Cells(line);
      if (cells.size() >= 3)
        keys[WithoutBackticks(cells[0])] = {static_cast<size_t>(table), cells[1],
                                            WithoutBackticks(cells[2])};
    }
  }
  return keys;
}

TEST(ConfigurationReference, DescribesEveryKeyOfTheSchemaAndNoOther) {
  std::map<std::string, DocumentedKey> documented = DocumentedKeys();
  ASSERT_FALSE(documented.empty()) << "no key table in " << KESTREL_CONFIGURATION_DOC;
  for (const configuration::Key& key : configuration::kKeys) {
    SCOPED_TRACE(key.name);
    auto found = documented.find(key.name);
    if (found == documented.end()) {
      ADD_FAILURE() << "not in the reference";
      continue;
    }
    const DocumentedKey& doc = found->second;
    // [Settings] is the first table, the sources' keys the second.
    EXPECT_EQ(doc.table, key.section == Section::kSettings ? 0u : 1u);
    EXPECT_EQ(doc.fallback, key.fallbackText);
    switch (key.kind) {
      case Kind::kText:
        EXPECT_NE(doc.type.find("text, up to " + std::to_string(key.capacity - 1) + " characters"),
                  std::string::npos)
            << doc.type;
        break;
      case Kind::kInteger:
        EXPECT_TRUE(doc.type.starts_with("integer")) << doc.type;
        break;
      case Kind::kNumber:
        EXPECT_TRUE(doc.type.starts_with("number")) << doc.type;
        break;
    }
    documented.erase(found);
  }
  for (const auto& [name, doc] : documented) ADD_FAILURE() << name << " is not a key of the schema";
}

}  // namespace
