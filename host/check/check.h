// The pieces of `kestrelhost check`: what every check gets, and the checks,
// one function per kind of finding, grouped by what they look at:
// check_layout.cpp (lines and sections), check_keys.cpp (key names),
// check_values.cpp (what the plug-in makes of each value).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config_scan.h"
#include "configuration_schema.h"
#include "findings.h"

namespace platform {
class ProfileFile;
}

using configuration::kLastSourcePosition;
using configuration::SourceSectionName;

struct CheckContext {
  const ConfigScan& scan;
  const platform::ProfileFile& file;  // the plug-in's own reader, over the same file
  // The list of sources as the plug-in reads it: sections Source0 up to
  // (not including) Source<listEnd>, the first without an ID.
  int32_t listEnd;
  std::vector<const SectionBlock*> sources;  // by position; null where a section is missing
  const SectionBlock* settings;              // null when there is none
  std::optional<uint32_t> counterCount;      // when the counter library answered
  Findings& findings;
};

// When `name` is a section the plug-in reads as a source (exactly
// "Source%d" in any case), its position.
std::optional<int32_t> SourcePosition(std::string_view name);

// A text as a message shows it: control characters escaped, a long one
// shortened; Quoted puts it in quotes, Bracketed in brackets (a section).
std::string Shown(std::string_view text);
std::string Quoted(std::string_view text);
std::string Bracketed(std::string_view name);

// The number of single-character edits (insert, delete, replace, swap two
// neighbours) between two names, in any case; beyond 2, only a number that
// is more than 2 as well.
size_t EditDistance(std::string_view a, std::string_view b);

// check_layout.cpp
void CheckBareKeys(const CheckContext& context);
void CheckKeysBeforeSections(const CheckContext& context);
void CheckUnknownSections(const CheckContext& context);
void CheckRepeatedSections(const CheckContext& context);
void CheckListEnd(const CheckContext& context);

// check_keys.cpp
void CheckKeyNames(const CheckContext& context);
void CheckRepeatedKeys(const CheckContext& context);

// check_values.cpp
void CheckIds(const CheckContext& context);
void CheckTexts(const CheckContext& context);
void CheckNumbers(const CheckContext& context);
void CheckModifiers(const CheckContext& context);
void CheckLoggingLevel(const CheckContext& context);
