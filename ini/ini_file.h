// The INI text of a configuration file, parsed once into its lookups by the
// rules that platform/profile.h lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ini {

class IniFile {
 public:
  // `text` as ReadConfigurationText gives it.
  explicit IniFile(std::string text);
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  struct Entry {
    std::string_view key;    // trimmed, as written
    std::string_view value;  // trimmed, unquoted
    bool quoted;             // a pair of quotes was removed from `value`
    bool bare;               // written without "=": it has no value at all
  };

  // The first entry of `key` in the first section named `section` (keys
  // before any section stand in the section named ""); null when there is
  // none.
  const Entry* Find(const char* section, const char* key) const;

 private:
  struct Range {
    uint32_t begin, end;  // into entries_
  };

  std::string text_;                                 // every name and value points into it
  std::vector<Entry> entries_;                       // in file order: a section's keys lie together
  std::unordered_map<std::string, Range> sections_;  // by lower-case name
};

}  // namespace ini
