// Findings about values in the sections the plug-in reads, each value read
// as the plug-in reads it: through its reader, into the same buffers, parsed
// by the same functions.
#include <charconv>
#include <cstring>

#include "check.h"
#include "data_sources.h"
#include "ini_lines.h"
#include "numbers.h"
#include "profile.h"


namespace {

using Record = KESTREL_DATA_SOURCE_DESC;
using namespace configuration;

// `callback(position, section)` for every source the plug-in loads.
template <class Callback>
void ForEachSource(const CheckContext& context, Callback callback) {
  for (int32_t position = 0; position < context.listEnd; ++position)
    if (const SectionBlock* section = context.sources[position]) callback(position, *section);
}

// The value of `key` as the plug-in gets it with a buffer of `capacity`.
std::string ReadAsPlugin(const CheckContext& context, int32_t position, const char* key,
                         size_t capacity) {
  std::string value(capacity, '\0');
  context.file.ReadString(SourceSectionName(position).c_str(), key, "", value.data(),
                          static_cast<uint32_t>(capacity));
  value.resize(std::strlen(value.c_str()));
  return value;
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

void AddCut(const CheckContext& context, const KeyLine& key, const std::string& kept) {
  context.findings.Add(key.line, "text-cut",
                       std::string(key.name) + " is " + std::to_string(key.value.size()) +
                           " characters long: only its first " + std::to_string(kept.size()) +
                           " are kept, " + Quoted(kept));
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

struct NumberKey {
  const char* name;
  bool integer;
};

const NumberKey kNumberKeys[] = {{kMaxLimit, false}, {kMinLimit, false}, {kGridDim, false},
                                 {kModType, true},   {kModFactor, false}};

void CheckNumber(const CheckContext& context, int32_t position, const KeyLine& key,
                 const NumberKey& number) {
  if (key.value.size() > kValueBufferSize - 1)
    context.findings.Add(key.line, "text-cut",
                         std::string(key.name) + " is " + std::to_string(key.value.size()) +
                             " characters long: only its first " +
                             std::to_string(kValueBufferSize - 1) + " are read");
  std::string text = ReadAsPlugin(context, position, number.name, kValueBufferSize);
  const char* end = nullptr;
  std::string value;
  bool parsed;
  if (number.integer) {
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
                             (number.integer ? ", so no modifier" : ""));
  } else if (!Rest(end).empty()) {
    context.findings.Add(key.line, "number",
                         std::string(key.name) + " " + Quoted(key.value) + " reads as " + value +
                             ": the rest, " + Quoted(Rest(end)) + ", is ignored");
  }
}

// A ";" after a blank looks like the start of a comment, which the format
// does not have. Quotes say that the text is meant as it stands.
bool HoldsComment(const KeyLine& key) {
  return !key.quoted && (key.value.find(" ;") != std::string_view::npos ||
                         key.value.find("\t;") != std::string_view::npos);
}

}  // namespace

void CheckIds(const CheckContext& context) {
  ForEachSource(context, [&](int32_t position, const SectionBlock& section) {
    const KeyLine* key = FirstKey(section, kId);
    if (key == nullptr) return;
    Record source{};
    CopyText(source.id, ReadAsPlugin(context, position, kId, kValueBufferSize).c_str());
    if (key->value.size() > sizeof source.id - 1) AddCut(context, *key, source.id);
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
  struct TextKey {
    const char* name;
    size_t capacity;
  };
  const TextKey keys[] = {{kName, sizeof(Record::name)},
                          {kDim, sizeof(Record::units)},
                          {kGroup, sizeof(Record::group)}};
  ForEachSource(context, [&](int32_t position, const SectionBlock& section) {
    for (const TextKey& text : keys) {
      const KeyLine* key = FirstKey(section, text.name);
      if (key == nullptr) continue;
      // A quoted value that fills its field exactly loses its last character.
      std::string kept = ReadAsPlugin(context, position, text.name, text.capacity);
      if (kept != key->value) AddCut(context, *key, kept);
      if (HoldsComment(*key))
        context.findings.Add(key->line, "comment-in-value",
                             std::string(key->name) + " " + Quoted(key->value) +
                                 " holds a \";\" after a blank: it starts no comment, so all of "
                                 "it is kept (put the value in quotes if that is meant)");
    }
  });
}

void CheckNumbers(const CheckContext& context) {
  ForEachSource(context, [&](int32_t position, const SectionBlock& section) {
    for (const NumberKey& number : kNumberKeys) {
      const KeyLine* key = FirstKey(section, number.name);
      if (key != nullptr && !key->value.empty()) CheckNumber(context, position, *key, number);
    }
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
    ParseLeadingInt(ReadAsPlugin(context, position, kModType, kValueBufferSize).c_str(),
                    &source.modType);
    ParseLeadingFloat(ReadAsPlugin(context, position, kModFactor, kValueBufferSize).c_str(),
                      &source.modFactor);
    std::string factorIs = hasFactor ? "ModFactor is " + FloatText(source.modFactor)
                                     : std::string("ModFactor is not set, which reads as 0");
    const char* what = nullptr;
    if (source.modType == configuration::kMultiply && source.modFactor == 0)
      what = "ModType 1 multiplies the reading by ModFactor, but ";
    else if (source.modType == configuration::kDivideBy && source.modFactor <= 0)
      what = "ModType 2 divides the reading by ModFactor, but ";
    else if (source.modType == configuration::kDivideInto && source.modFactor == 0)
      what = "ModType 3 divides ModFactor by the reading, but ";
    if (what != nullptr)
      context.findings.Add(type->line, "modifier",
                           what + factorIs + ": every reading shows as 0");
    if (source.modType < 0 || source.modType > configuration::kLastModifier)
      context.findings.Add(type->line, "modifier",
                           "ModType " + std::to_string(source.modType) +
                               " is not a modifier (they are 1 to 6): the reading is shown "
                               "unchanged");
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
