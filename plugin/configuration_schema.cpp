#include "configuration_schema.h"

#include <cstddef>

#include "counter_api.h"
#include "counter_interface.h"
#include "data_sources.h"
#include "ini_lines.h"
#include "numbers.h"
#include "profile.h"

namespace configuration {

namespace {

using Record = KESTREL_DATA_SOURCE_DESC;

// The counter's own short name, else "Unknown".
void NameFromCounter(uint32_t counter, char* field, size_t capacity) {
  constexpr uint32_t kSize = counter_interface::kNameBufferSize;
  char name[kSize];
  uint32_t length = kSize;
  if (CounterApiTable.GetCounterName(counter, name, &length) == 0)
    CopyText(field, capacity, name);  // a name without terminator is cut all the same
  else
    CopyText(field, capacity, "Unknown");
}

void UnitsFromCounterType(uint32_t counter, char* field, size_t capacity) {
  uint64_t type = 0;
  if (CounterApiTable.GetCounterAttribute(counter, counter_interface::kTypeAttribute, &type) != 0)
    CopyText(field, capacity, "?");
  else
    CopyText(field, capacity, type != 0 ? "Raw" : "%");
}

constexpr Key Text(const char* name, size_t offset, size_t capacity, Fallback fallback,
                   const char* fallbackText, const char* help) {
  return {Section::kSource, name,     Kind::kText, offset, capacity, static_cast<uint32_t>(capacity),
          fallback,         fallbackText, help};
}

constexpr Key Number(const char* name, Kind kind, size_t offset, const char* help) {
  return {Section::kSource, name, kind, offset, 0, kValueBufferSize, nullptr, "0", help};
}

const Key kKeyRows[] = {
    {Section::kSettings, kLoggingLevel, Kind::kInteger, 0, 0, 0, nullptr, "0",
     "0: no log. Any other number: the plug-in writes its log beside it, under its own name "
     "with .log."},
    // The ID is read whole and then cut to its field, so a quoted ID that
    // fills the field keeps every character.
    {Section::kSource, kId, Kind::kText, offsetof(Record, id), sizeof(Record::id), kValueBufferSize,
     nullptr, "none: the list ends", "the counter's index, as kestrelcli lists them"},
    Text("Name", offsetof(Record, name), sizeof(Record::name), NameFromCounter,
         "the counter's own name, else Unknown",
         "the name the host shows, at most {max} characters (without it: the counter's own "
         "name)"),
    Text("Dim", offsetof(Record, units), sizeof(Record::units), UnitsFromCounterType,
         "Raw for a raw counter, % for a percentage counter, ? when the type cannot be read",
         "the units, at most {max} characters (without it: Raw for a raw counter, % for a "
         "percentage counter). A raw counter whose name ends in its unit (power_mw) gets that "
         "unit, or a larger one with the scaling below (W, ModType=2, ModFactor=1000)"),
    Number("MaxLimit", Kind::kNumber, offsetof(Record, maxLimit),
           "the host's upper display limit (without it: 0)"),
    Number("MinLimit", Kind::kNumber, offsetof(Record, minLimit),
           "the host's lower display limit (without it: 0)"),
    Number("GridDim", Kind::kNumber, offsetof(Record, gridDim),
           "the host's grid step (without it: 0)"),
    Text("Group", offsetof(Record, group), sizeof(Record::group), nullptr, "empty",
         "the group the host files the source under, at most {max} characters"),
    Number(kModType, Kind::kInteger, offsetof(Record, modType),
           "how the reading v is changed with the factor f: {modifiers}; no ModType, or any "
           "other number, leaves it unchanged"),
    Number(kModFactor, Kind::kNumber, offsetof(Record, modFactor), "the factor f"),
};

// Single precision throughout, as the host receives it.
const Modifier kModifierRows[] = {
    {1, "v * f", "multiplies the reading by ModFactor", [](float v, float f) { return v * f; },
     [](float f) { return f == 0; }},
    {2, "v / f", "divides the reading by ModFactor",
     [](float v, float f) { return f <= 0.0f ? 0.0f : v / f; }, [](float f) { return f <= 0; }},
    {3, "f / v", "divides ModFactor by the reading",
     [](float v, float f) { return v <= 0.0f ? 0.0f : f / v; }, [](float f) { return f == 0; }},
    {4, "v + f", "adds ModFactor to the reading", [](float v, float f) { return v + f; },
     [](float) { return false; }},
    {5, "v - f", "subtracts ModFactor from the reading", [](float v, float f) { return v - f; },
     [](float) { return false; }},
    {6, "f - v", "subtracts the reading from ModFactor", [](float v, float f) { return f - v; },
     [](float) { return false; }},
};

std::string ModifierList() {
  std::string list;
  for (const Modifier& modifier : kModifiers) {
    if (!list.empty()) list += ", ";
    list += std::to_string(modifier.type);
    list += ' ';
    list += modifier.formula;
  }
  return list;
}

void Replace(std::string& text, std::string_view placeholder, const std::string& by) {
  size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), by);
}

}  // namespace

const std::span<const Key> kKeys(kKeyRows);
const std::span<const Modifier> kModifiers(kModifierRows);

const Key* FindKey(Section section, std::string_view name) {
  for (const Key& key : kKeys)
    if (key.section == section && ini::SameName(key.name, name)) return &key;
  return nullptr;
}

void ReadSourceValue(const platform::ProfileFile& file, const char* section, const Key& key,
                     char (&value)[kValueBufferSize]) {
  file.ReadString(section, key.name, "", value, key.readSize);
}

std::string ReadSourceValue(const platform::ProfileFile& file, int32_t position, const Key& key) {
  char value[kValueBufferSize];
  ReadSourceValue(file, SourceSectionName(position).c_str(), key, value);
  return value;
}

void Store(const Key& key, const char* value, KESTREL_DATA_SOURCE_DESC& record) {
  char* field = reinterpret_cast<char*>(&record) + key.offset;
  switch (key.kind) {
    case Kind::kText:
      CopyText(field, key.capacity, value);
      break;
    case Kind::kInteger:
      ParseLeadingInt(value, reinterpret_cast<int32_t*>(field));
      break;
    case Kind::kNumber:
      ParseLeadingFloat(value, reinterpret_cast<float*>(field));
      break;
  }
}

std::string KeyList(Section section) {
  std::string list;
  const char* last = nullptr;
  for (const Key& key : kKeys) {
    if (key.section != section) continue;
    if (last != nullptr) {
      if (!list.empty()) list += ", ";
      list += last;
    }
    last = key.name;
  }
  if (!list.empty()) list += " and ";
  return last != nullptr ? list + last : list;
}

std::string HelpOf(const Key& key) {
  std::string help = key.help;
  Replace(help, "{max}", std::to_string(key.capacity - 1));
  Replace(help, "{modifiers}", ModifierList());
  return help;
}

const Modifier* FindModifier(int32_t type) {
  for (const Modifier& modifier : kModifiers)
    if (modifier.type == type) return &modifier;
  return nullptr;
}

std::string SourceSectionName(int32_t position) {
  std::string name = kSourcePrefix;
  name += std::to_string(position);
  return name;
}

void ReadSourceId(const platform::ProfileFile& file, int32_t position,
                  char (&id)[kValueBufferSize]) {
  ReadSourceValue(file, SourceSectionName(position).c_str(), *FindKey(Section::kSource, kId), id);
}

int32_t SourceListEnd(const platform::ProfileFile& file) {
  char id[kValueBufferSize];
  int32_t position = 0;
  for (; position < kLastSourcePosition; ++position) {
    ReadSourceId(file, position, id);
    if (id[0] == '\0') break;
  }
  return position;
}

bool IsCommentedOut(std::string_view name) {
  return !name.empty() && (name.front() == ';' || name.front() == '#');
}

bool LooksLikeComment(std::string_view value) {
  return value.find(" ;") != std::string_view::npos || value.find("\t;") != std::string_view::npos;
}

}  // namespace configuration
