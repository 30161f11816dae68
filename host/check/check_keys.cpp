// Findings about key names in the sections the plug-in reads: keys it never
// reads, misspelt ones, and keys given twice.
#include <iterator>

#include "check.h"
#include "ini_lines.h"


namespace {

const std::vector<std::string_view> kSourceKeys(std::begin(configuration::kSourceKeys),
                                                 std::end(configuration::kSourceKeys));
const std::vector<std::string_view> kSettingsKeys = {configuration::kLoggingLevel};

bool IsOneOf(std::string_view name, const std::vector<std::string_view>& keys) {
  for (std::string_view key : keys)
    if (ini::SameName(name, key)) return true;
  return false;
}

// The known key that `name` most likely meant, or empty: one or two slips
// away (only one for the short names, where two would match almost anything).
std::string_view CloseMatch(std::string_view name, const std::vector<std::string_view>& keys) {
  std::string_view best;
  size_t bestDistance = 3;
  for (std::string_view key : keys) {
    size_t distance = EditDistance(name, key);
    if (distance <= (key.size() <= 4 ? 1u : 2u) && distance < bestDistance) {
      best = key;
      bestDistance = distance;
    }
  }
  return best;
}

// Keys beginning with ";" or "#" are commented out: the plug-in never asks
// for such a name, just as the author meant.
bool IsCommentedOut(std::string_view name) {
  return !name.empty() && (name.front() == ';' || name.front() == '#');
}

void CheckNamesIn(const CheckContext& context, const SectionBlock& section, bool isSettings) {
  const auto& own = isSettings ? kSettingsKeys : kSourceKeys;
  const auto& other = isSettings ? kSourceKeys : kSettingsKeys;
  const std::string where = Bracketed(section.name);
  for (const KeyLine& key : section.keys) {
    if (IsOneOf(key.name, own) || IsCommentedOut(key.name) || key.bare) continue;
    std::string_view match = CloseMatch(key.name, own);
    if (key.name.empty()) {
      context.findings.Add(key.line, "unknown-key",
                           "this line has no key name before \"=\": the plug-in ignores it");
    } else if (IsOneOf(key.name, other)) {
      context.findings.Add(key.line, "unknown-key",
                           std::string(key.name) + " belongs in " +
                               (isSettings ? "the [SourceN] sections" : "[Settings]") + ": in " +
                               where + " the plug-in ignores it");
    } else if (!match.empty()) {
      context.findings.Add(key.line, "misspelt-key",
                           Quoted(key.name) + " is not a key the plug-in reads: did you mean " +
                               std::string(match) + "?");
    } else if (isSettings) {
      context.findings.Add(key.line, "unknown-key",
                           Quoted(key.name) +
                               " is not a key the plug-in reads: [Settings] holds only "
                               "LoggingLevel, so it is ignored");
    } else {
      context.findings.Add(key.line, "unknown-key",
                           Quoted(key.name) + " is not a key the plug-in reads in " + where +
                               ", so it is ignored (a source has ID, Name, Dim, MaxLimit, "
                               "MinLimit, GridDim, Group, ModType and ModFactor)");
    }
  }
}

void CheckRepeatsIn(const CheckContext& context, const SectionBlock& section,
                    const std::vector<std::string_view>& keys) {
  for (const KeyLine& key : section.keys) {
    if (!IsOneOf(key.name, keys)) continue;
    const KeyLine* first = FirstKey(section, key.name);
    if (first == &key) continue;
    context.findings.Add(key.line, "duplicate-key",
                         std::string(key.name) + " is given again (first at line " +
                             std::to_string(first->line) + "): the first one counts, so " +
                             Quoted(key.value) + " here is ignored");
  }
}

}  // namespace

void CheckKeyNames(const CheckContext& context) {
  if (context.settings != nullptr) CheckNamesIn(context, *context.settings, true);
  for (int32_t position = 0; position < context.listEnd; ++position)
    if (const SectionBlock* source = context.sources[position])
      CheckNamesIn(context, *source, false);
}

// Of the section that ends the list only the ID is read.
void CheckRepeatedKeys(const CheckContext& context) {
  if (context.settings != nullptr) CheckRepeatsIn(context, *context.settings, kSettingsKeys);
  for (int32_t position = 0; position < context.listEnd; ++position)
    if (const SectionBlock* source = context.sources[position])
      CheckRepeatsIn(context, *source, kSourceKeys);
  if (const SectionBlock* end = context.sources.back()) CheckRepeatsIn(context, *end, {configuration::kId});
}
