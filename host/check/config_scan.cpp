#include "config_scan.h"

#include "ini_lines.h"


const SectionBlock* ConfigScan::Find(std::string_view name) const {
  auto found = first.find(ini::LowerName(name));
  return found == first.end() ? nullptr : &sections[found->second];
}

const KeyLine* FirstKey(const SectionBlock& section, std::string_view name) {
  for (const KeyLine& key : section.keys)
    if (ini::SameName(key.name, name)) return &key;
  return nullptr;
}

ConfigScan ScanConfiguration(std::string_view text) {
  ConfigScan scan;
  int number = 0;
  while (!text.empty()) {
    std::string_view raw = ini::NextLine(text);
    ++number;
    ini::Line line = ini::ParseLine(raw);
    if (line.kind == ini::Line::Kind::kSection) {
      auto [found, added] = scan.first.try_emplace(ini::LowerName(line.name), scan.sections.size());
      int firstLine = added ? number : scan.sections[found->second].line;
      scan.sections.push_back({line.name, number, firstLine, {}});
    } else if (line.kind == ini::Line::Kind::kKey) {
      KeyLine key{line.name, line.value, line.quoted, line.bare, number};
      if (scan.sections.empty())
        scan.keysBeforeSections.push_back(key);
      else
        scan.sections.back().keys.push_back(key);
    }
  }
  return scan;
}
