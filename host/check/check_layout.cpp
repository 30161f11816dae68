// Findings about the file's lines and sections: what the reader skips, and
// sections that the plug-in never reads.
#include "check.h"
#include "ini_lines.h"


namespace {

// A name that is close to what the plug-in reads: [Setings], [Source 1],
// [Sources2], [Source01].
std::string Suggestion(std::string_view name) {
  if (EditDistance(name, configuration::kSettings) <= 2) return Bracketed(configuration::kSettings);
  size_t digits = name.size();
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  std::string_view number = name.substr(digits);
  while (number.size() > 1 && number.front() == '0') number.remove_prefix(1);
  if (number.empty() || EditDistance(name.substr(0, digits), configuration::kSourcePrefix) > 2) return "";
  std::optional<int32_t> position = SourcePosition(configuration::kSourcePrefix + std::string(number));
  return position ? Bracketed(SourceSectionName(*position)) : "";
}

}  // namespace

void CheckBareKeys(const CheckContext& context) {
  auto check = [&](const KeyLine& key) {
    if (!key.bare || configuration::IsCommentedOut(key.name)) return;
    if (key.name.front() == '[') {
      context.findings.Add(key.line, "key-without-value",
                           Quoted(key.name) +
                               " has no closing \"]\": it opens no section, so the keys below it "
                               "belong to the section before it");
    } else {
      context.findings.Add(key.line, "key-without-value",
                           Quoted(key.name) +
                               " has no \"=\": the plug-in reads it as a key without a value, "
                               "as if it were missing, and a later key of this name in the "
                               "section is never read; a comment line begins with \";\"");
    }
  };
  for (const KeyLine& key : context.scan.keysBeforeSections) check(key);
  for (const SectionBlock& section : context.scan.sections)
    for (const KeyLine& key : section.keys) check(key);
}

void CheckKeysBeforeSections(const CheckContext& context) {
  for (const KeyLine& key : context.scan.keysBeforeSections) {
    if (configuration::IsCommentedOut(key.name) || key.bare) continue;
    context.findings.Add(key.line, "unknown-key",
                         Quoted(key.name) +
                             " stands before any section, so the plug-in never reads it");
  }
}

void CheckUnknownSections(const CheckContext& context) {
  for (const SectionBlock& section : context.scan.sections) {
    if (ini::SameName(section.name, configuration::kSettings) || SourcePosition(section.name))
      continue;
    std::string suggestion = Suggestion(section.name);
    if (!suggestion.empty()) {
      context.findings.Add(section.line, "unknown-section",
                           Bracketed(section.name) +
                               " is not a section the plug-in reads: did you mean " + suggestion +
                               "? Everything in it is ignored");
    } else {
      context.findings.Add(section.line, "unknown-section",
                           Bracketed(section.name) + " is not a section the plug-in reads (it reads " +
                               Bracketed(configuration::kSettings) + ", " +
                               Bracketed(SourceSectionName(0)) + ", " +
                               Bracketed(SourceSectionName(1)) +
                               ", ...): everything in it is ignored");
    }
  }
}

void CheckRepeatedSections(const CheckContext& context) {
  for (const SectionBlock& section : context.scan.sections) {
    if (!section.repeated()) continue;
    if (!ini::SameName(section.name, configuration::kSettings) && !SourcePosition(section.name))
      continue;
    context.findings.Add(section.line, "duplicate-section",
                         Bracketed(section.name) + " appears again (first at line " +
                             std::to_string(section.firstLine) +
                             "): only the first is read, so everything in this one is ignored");
  }
}

// Sources are read from Source0 up to the first section without an ID;
// numbered sections after that are never looked at.
void CheckListEnd(const CheckContext& context) {
  const std::string end = Bracketed(SourceSectionName(context.listEnd));
  const SectionBlock* last = context.sources.back();
  std::string why = "there is no " + end + ", and the list of sources ends at the first missing number";
  if (last != nullptr) {
    const KeyLine* id = FirstKey(*last, configuration::kId);
    if (id != nullptr) {
      context.findings.Add(id->line, "list-end",
                           "ID is empty, so the list of sources ends here: " + end +
                               " is never read");
      why = "the list of sources ends at " + end + ", whose ID is empty (line " +
            std::to_string(id->line) + ")";
    } else {
      context.findings.Add(last->line, "list-end",
                           end + " has no ID, so the list of sources ends here: this section "
                                 "is never read");
      why = "the list of sources ends at " + end + " (line " + std::to_string(last->line) +
            "), which has no ID";
    }
  }
  bool anySource = last != nullptr;
  for (const SectionBlock& section : context.scan.sections) {
    std::optional<int32_t> position = SourcePosition(section.name);
    if (!position) continue;
    anySource = true;
    if (*position <= context.listEnd || section.repeated()) continue;
    context.findings.Add(section.line, "never-read",
                         Bracketed(section.name) + " is never read: " + why);
  }
  if (context.listEnd == 0 && !anySource)
    context.findings.Add(1, "no-sources",
                         "there is no section [Source0]: the plug-in offers no sources");
}
