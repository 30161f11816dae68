#include "ini_file.h"

#include "ini_lines.h"

namespace ini {

IniFile::IniFile(std::string text) : text_(std::move(text)) {
  std::string_view rest = text_;
  // The keys before any section make a section of their own, named "", so
  // a later "[]" repeats it.
  Range* section = &sections_[""];
  *section = {0, 0};
  while (!rest.empty()) {
    Line line = ParseLine(NextLine(rest));
    if (line.kind == Line::Kind::kSection) {
      auto [found, added] = sections_.try_emplace(LowerName(line.name));
      section = added ? &found->second : nullptr;  // a repeated section is never searched
      if (section != nullptr)
        section->begin = section->end = static_cast<uint32_t>(entries_.size());
      continue;
    }
    if (section == nullptr || line.kind != Line::Kind::kKey) continue;
    entries_.push_back({line.name, line.value, line.quoted, line.bare});
    section->end = static_cast<uint32_t>(entries_.size());
  }
}

const IniFile::Entry* IniFile::Find(const char* section, const char* key) const {
  auto found = sections_.find(LowerName(Strip(section)));
  if (found == sections_.end()) return nullptr;
  std::string_view wanted = Strip(key);
  // The first of duplicate keys wins.
  for (uint32_t i = found->second.begin; i < found->second.end; ++i)
    if (SameName(entries_[i].key, wanted)) return &entries_[i];
  return nullptr;
}

}  // namespace ini
