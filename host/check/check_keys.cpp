// Findings about key names in the sections the plug-in reads: keys it never
// reads, misspelt ones, and keys given twice.
#include "check.h"
#include "ini_lines.h"

namespace {

using configuration::Section;

bool IsOneOf(std::string_view name, Section section) {
  return configuration::FindKey(section, name) != nullptr;
}

// The known key that `name` most likely meant, or empty: one or two slips
// away (only one for the short names, where two would match almost anything).
std::string_view CloseMatch(std::string_view name, Section section) {
  std::string_view best;
  size_t bestDistance = 3;
  for (const configuration::Key& key : configuration::kKeys) {
    if (key.section != section) continue;
    size_t distance = EditDistance(name, key.name);
    if (distance <= (std::string_view(key.name).size() <= 4 ? 1u : 2u) && distance < bestDistance) {
      best = key.name;
      bestDistance = distance;
    }
  }
  return best;
}

// Where a section's keys belong: "[Settings]", "the [SourceN] sections".
std::string HomeOf(Section section) {
  if (section == Section::kSettings) return Bracketed(configuration::kSettings);
  std::string home = "the ";
  home += Bracketed(std::string(configuration::kSourcePrefix) + "N");
  home += " sections";
  return home;
}

void CheckNamesIn(const CheckContext& context, const SectionBlock& section, bool isSettings) {
  const Section own = isSettings ? Section::kSettings : Section::kSource;
  const Section other = isSettings ? Section::kSource : Section::kSettings;
  const std::string where = Bracketed(section.name);
  for (const KeyLine& key : section.keys) {
    if (IsOneOf(key.name, own) || configuration::IsCommentedOut(key.name) || key.bare) continue;
    std::string_view match = CloseMatch(key.name, own);
    if (key.name.empty()) {
      context.findings.Add(key.line, "unknown-key",
                           "this line has no key name before \"=\": the plug-in ignores it");
    } else if (IsOneOf(key.name, other)) {
      context.findings.Add(key.line, "unknown-key",
                           std::string(key.name) + " belongs in " + HomeOf(other) + ": in " +
                               where + " the plug-in ignores it");
    } else if (!match.empty()) {
      context.findings.Add(key.line, "misspelt-key",
                           Quoted(key.name) + " is not a key the plug-in reads: did you mean " +
                               std::string(match) + "?");
    } else if (isSettings) {
      context.findings.Add(key.line, "unknown-key",
                           Quoted(key.name) + " is not a key the plug-in reads: " +
                               Bracketed(configuration::kSettings) + " holds only " +
                               configuration::KeyList(Section::kSettings) + ", so it is ignored");
    } else {
      context.findings.Add(key.line, "unknown-key",
                           Quoted(key.name) + " is not a key the plug-in reads in " + where +
                               ", so it is ignored (a source has " +
                               configuration::KeyList(Section::kSource) + ")");
    }
  }
}

// `only`: the one key of the section that is read, or null for all of them.
void CheckRepeatsIn(const CheckContext& context, const SectionBlock& section, Section keys,
                    const char* only = nullptr) {
  for (const KeyLine& key : section.keys) {
    if (only != nullptr ? !ini::SameName(key.name, only) : !IsOneOf(key.name, keys)) continue;
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
  if (context.settings != nullptr) CheckRepeatsIn(context, *context.settings, Section::kSettings);
  for (int32_t position = 0; position < context.listEnd; ++position)
    if (const SectionBlock* source = context.sources[position])
      CheckRepeatsIn(context, *source, Section::kSource);
  if (const SectionBlock* end = context.sources.back())
    CheckRepeatsIn(context, *end, Section::kSource, configuration::kId);
}
