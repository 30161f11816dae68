// Findings about values in the sections the plug-in reads, each value read
// as the plug-in reads it: through its reader, into the same buffers, parsed
// by the same functions.
#include <charconv>
#include <cstring>

#include "check.h"
#include "data_sources.h"
#include "ini_field.h"
#include "ini_lines.h"
#include "numbers.h"
#include "profile.h"

namespace {

using Record = KESTREL_DATA_SOURCE_DESC;
using namespace configuration;

// "(they are 1 to 6)"
std::string ModifierRange() {
  std::string range = "(they are ";
  range += std::to_string(kModifiers.front().type);
  range += " to ";
  range += std::to_string(kModifiers.back().type);
  range += ')';
  return range;
}

// `callback(position, section)` for every source the plug-in loads.
template <class Callback>
void ForEachSource(const CheckContext& context, Callback callback) {
  for (int32_t position = 0; position < context.listEnd; ++position)
    if (const SectionBlock* section = context.sources[position]) callback(position, *section);
}

// What follows a number, unless it is only blanks.
std::string_view Rest(const char* end) { return ini::Strip(end).empty() ? "" : end; }

std::string FloatText(float value) {
  char text[32];
  auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : "?";
}

std::string CounterRange(uint32_t count) {
  if (count == 0) return "the counter library has no counters";
  return "the counter library has " + std::to_string(count) + ", numbered 0 to " +
         std::to_string(count - 1);
}

// Lengths are counted in characters, as Windows counts them: a text is cut
// when the field keeps fewer than it has.
bool IsCut(std::string_view kept, std::string_view value) {
  return ini::CharacterCount(kept) < ini::CharacterCount(value);
}

void AddCut(const CheckContext& context, const KeyLine& key, const std::string& kept) {
  context.findings.Add(key.line, "text-cut",
                       std::string(key.name) + " is " +
                           std::to_string(ini::CharacterCount(key.value)) +
                           " characters long: only its first " +
                           std::to_string(ini::CharacterCount(kept)) + " are kept, " +
                           Quoted(kept));
}

void CheckCounterExists(const CheckContext& context, const KeyLine& key, bool numeric,
                        int32_t number, uint32_t counter) {
  if (numeric && number < 0) {
    context.findings.Add(key.line, "no-such-counter",
                         "ID " + std::to_string(number) +
                             " names no counter: counters are numbered from 0");
  } else if (context.counterCount && counter >= *context.counterCount) {
    context.findings.Add(
        key.line, "no-such-counter",
        numeric ? "ID " + std::to_string(number) + " names no counter: " +
                      CounterRange(*context.counterCount)
                : "counter " + std::to_string(counter) +
                      ", which this source reads in place of its ID, does not exist: " +
                      CounterRange(*context.counterCount));
  }
}

void CheckNumber(const CheckContext& context, int32_t position, const KeyLine& key,
                 const configuration::Key& row) {
  std::string text = ReadSourceValue(context.file, position, row);
  if (IsCut(text, key.value))
    context.findings.Add(key.line, "text-cut",
                         std::string(key.name) + " is " +
                             std::to_string(ini::CharacterCount(key.value)) +
                             " characters long: only its first " +
                             std::to_string(ini::CharacterCount(text)) + " are read");
  const char* end = nullptr;
  std::string value;
  bool parsed;
  const bool integer = row.kind == Kind::kInteger;
  if (integer) {
    int32_t read = 0;
    parsed = ParseLeadingInt(text.c_str(), &read, &end);
    value = std::to_string(read);
  } else {
    float read = 0;
    parsed = ParseLeadingFloat(text.c_str(), &read, &end);
    value = FloatText(read);
  }
  if (!parsed) {
    context.findings.Add(key.line, "number",
                         std::string(key.name) + " " + Quoted(key.value) +
                             " is not a number: it reads as 0" +
                             (row.name == kModType ? ", so no modifier" : ""));
  } else if (!Rest(end).empty()) {
    context.findings.Add(key.line, "number",
                         std::string(key.name) + " " + Quoted(key.value) + " reads as " + value +
                             ": the rest, " + Quoted(Rest(end)) + ", is ignored");
  }
}

// The rows of a source's keys of `kind`, but for the ID, which CheckIds
// judges on its own.
template <class Callback>
void ForEachRow(Kind kind, Callback callback) {
  for (const configuration::Key& row : configuration::kKeys)
    if (row.section == Section::kSource && row.kind == kind && row.name != kId) callback(row);
}

}  // namespace

void CheckIds(const CheckContext& context) {
  ForEachSource(context, [&](int32_t position, const SectionBlock& section) {
    const KeyLine* key = FirstKey(section, kId);
    if (key == nullptr) return;
    const configuration::Key& row = *FindKey(Section::kSource, kId);
    Record source{};
    Store(row, ReadSourceValue(context.file, position, row).c_str(), source);
    if (IsCut(source.id, key->value)) AddCut(context, *key, source.id);
    int32_t number = 0;
    const char* end = nullptr;
    bool numeric = ParseLeadingInt(source.id, &number, &end);
    uint32_t counter = CounterIndexOf(source, static_cast<uint32_t>(position));
    if (!numeric) {
      context.findings.Add(key->line, "id-not-a-number",
                           "ID " + Quoted(source.id) +
                               " does not begin with a number: the source reads counter " +
                               std::to_string(counter) + ", its own position in the list");
    } else if (!Rest(end).empty()) {
      context.findings.Add(key->line, "number",
                           "ID " + Quoted(source.id) + " reads as counter " +
                               std::to_string(number) + ": the rest, " + Quoted(Rest(end)) +
                               ", is ignored");
    }
    CheckCounterExists(context, *key, numeric, number, counter);
  });
}

void CheckTexts(const CheckContext& context) {
  ForEachSource(context, [&](int32_t position, const SectionBlock& section) {
    ForEachRow(Kind::kText, [&](const configuration::Key& row) {
      const KeyLine* key = FirstKey(section, row.name);
      if (key == nullptr) return;
      // What the field keeps, by the reader's rules (a quoted value that
      // fills its field loses its last character).
      Record source{};
      Store(row, ReadSourceValue(context.file, position, row).c_str(), source);
      std::string kept = reinterpret_cast<const char*>(&source) + row.offset;
      if (IsCut(kept, key->value)) AddCut(context, *key, kept);
      if (!key->quoted && LooksLikeComment(key->value))
        context.findings.Add(key->line, "comment-in-value",
                             std::string(key->name) + " " + Quoted(key->value) +
                                 " holds a \";\" after a blank: it starts no comment, so all of "
                                 "it is kept (put the value in quotes if that is meant)");
    });
  });
}

void CheckNumbers(const CheckContext& context) {
  ForEachSource(context, [&](int32_t position, const SectionBlock& section) {
    for (Kind kind : {Kind::kNumber, Kind::kInteger})
      ForEachRow(kind, [&](const configuration::Key& row) {
        const KeyLine* key = FirstKey(section, row.name);
        if (key != nullptr && !key->value.empty()) CheckNumber(context, position, *key, row);
      });
  });
}

// A modifier that makes every reading 0, one that does not exist, and a
// factor that no modifier uses.
void CheckModifiers(const CheckContext& context) {
  ForEachSource(context, [&](int32_t position, const SectionBlock& section) {
    const KeyLine* type = FirstKey(section, kModType);
    const KeyLine* factor = FirstKey(section, kModFactor);
    bool hasType = type != nullptr && !type->value.empty();
    bool hasFactor = factor != nullptr && !factor->value.empty();
    if (!hasType) {
      if (hasFactor)
        context.findings.Add(factor->line, "modifier",
                             "ModFactor is set, but without a ModType it changes nothing");
      return;
    }
    Record source{};
    for (const char* name : {kModType, kModFactor}) {
      const configuration::Key& row = *FindKey(Section::kSource, name);
      Store(row, ReadSourceValue(context.file, position, row).c_str(), source);
    }
    std::string factorIs = hasFactor ? "ModFactor is " + FloatText(source.modFactor)
                                     : std::string("ModFactor is not set, which reads as 0");
    const configuration::Modifier* modifier = FindModifier(source.modType);
    if (modifier != nullptr && modifier->zeroesEverything(source.modFactor))
      context.findings.Add(type->line, "modifier",
                           "ModType " + std::to_string(modifier->type) + " " + modifier->does +
                               ", but " + factorIs + ": every reading shows as 0");
    if (modifier == nullptr && source.modType != 0)  // 0: no modifier, as meant
      context.findings.Add(type->line, "modifier",
                           "ModType " + std::to_string(source.modType) + " is not a modifier " +
                               ModifierRange() + ": the reading is shown unchanged");
  });
}

// The level is read as Windows reads an integer from a profile; only 0 or
// not 0 matters, and a word such as "yes" reads as 0.
void CheckLoggingLevel(const CheckContext& context) {
  if (context.settings == nullptr) return;
  const KeyLine* key = FirstKey(*context.settings, kLoggingLevel);
  if (key == nullptr || key->value.empty()) return;
  int32_t ignored = 0;
  if (ParseLeadingInt(std::string(key->value).c_str(), &ignored)) return;
  int32_t level = context.file.ReadInt(kSettings, kLoggingLevel, 0);
  context.findings.Add(key->line, "logging-level",
                       "LoggingLevel " + Quoted(key->value) + " is not a number: it reads as " +
                           std::to_string(level) +
                           (level == 0 ? ", so no log is written" : ", so the log is written") +
                           " (1 writes the log, 0 does not)");
}
