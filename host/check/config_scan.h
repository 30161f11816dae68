// A configuration file seen line by line, by the reader's own rules
// (ini/ini_lines.h): where every section and key stands, the repeated
// ones included, which the reader's lookups hide. Everything points into the
// text given, which must outlive the scan.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct KeyLine {
  std::string_view name;   // trimmed, as written
  std::string_view value;  // as the reader gives it: trimmed, unquoted
  bool quoted;
  bool bare;  // no "=": a key without a value, which reads as missing
  int line;
};

struct SectionBlock {
  std::string_view name;  // trimmed, as written
  int line;
  int firstLine;  // where the first section of this name stands: the one that is read
  std::vector<KeyLine> keys;
  bool repeated() const { return firstLine != line; }
};

struct ConfigScan {
  std::vector<KeyLine> keysBeforeSections;
  std::vector<SectionBlock> sections;  // in file order

  // The first section of that name (in any case), or null.
  const SectionBlock* Find(std::string_view name) const;

  std::unordered_map<std::string, size_t> first;  // by lower-case name, into sections
};

ConfigScan ScanConfiguration(std::string_view text);

// The first key of that name (in any case) in `section`, or null: the one
// the reader gives.
const KeyLine* FirstKey(const SectionBlock& section, std::string_view name);
