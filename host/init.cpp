// kestrelhost init [--out FILE]: asks the counter library, through the
// counter table as the programs do, for every counter and writes a complete
// configuration with one source per counter, to standard output or FILE.
// `kestrelhost check` finds nothing to report in what it writes.
//
// Exit status: 0 written; 1 the counter library cannot be asked, or FILE
// exists already or cannot be written; 2 a wrong command line.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "configuration_schema.h"
#include "counter_api.h"
#include "counter_interface.h"
#include "counter_units.h"
#include "counters.h"
#include "data_sources.h"
#include "ini_field.h"
#include "ini_lines.h"

namespace {

using counter_interface::kNameBufferSize;
using counter_interface::kTypeAttribute;
using configuration::Section;

// The bytes of a source's Name field, its terminator included.
size_t NameCapacity() { return configuration::FindKey(Section::kSource, "Name")->capacity; }

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text + " ") {
    if (c != ' ') {
      word += c;
    } else if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
  }
  return words;
}

std::string Bracketed(const char* name) {
  std::string bracketed = "[";
  bracketed += name;
  bracketed += ']';
  return bracketed;
}

// The header's lines, "; " included, wrap before this column.
constexpr size_t kHeaderWidth = 71;

// Every comment line begins with ";": a key of a name the plug-in never reads.
const char kFormat[] =
    "; Format: a line [Name] opens a section; a key, an equals sign and a value\n"
    "; on one line set a key. Names match in any case; blanks around names and\n"
    "; values are dropped, and so is one pair of quotes around a value. A key\n"
    "; without an equals sign reads as missing. A semicolon is an ordinary\n"
    "; character: a line that begins with one, like this one, is a key of a\n"
    "; name that the plug-in never reads. Of a key or a section given twice\n"
    "; only the first counts.\n"
    ";\n";

const char kSources[] =
    "; [Source0], [Source1], ...: one section per source, in the order the host\n"
    "; shows them, numbered from 0 without gaps: the first section without an\n"
    "; ID ends the list. To drop a source, remove its section and renumber the\n"
    "; sections after it.\n";

const char kNumbers[] =
    "; Numbers are decimal, with a point; a number followed by text reads as\n"
    "; the number alone, and a value that is not a number reads as 0.\n";

// ";   Name  help", the help wrapped under itself.
std::string KeyLines(Section section) {
  size_t column = 0;
  for (const configuration::Key& key : configuration::kKeys)
    if (key.section == section) column = std::max(column, std::strlen(key.name));
  column += 2;
  std::string lines;
  for (const configuration::Key& key : configuration::kKeys) {
    if (key.section != section) continue;
    std::string line = ";   ";
    line += key.name;
    line.resize(4 + column, ' ');
    const size_t indent = line.size();
    bool first = true;
    for (const std::string& word : Words(configuration::HelpOf(key))) {
      if (!first && line.size() + 1 + word.size() > kHeaderWidth) {
        lines += line;
        lines += '\n';
        line.assign(indent, ' ');
        line.front() = ';';
        first = true;
      }
      if (!first) line += ' ';
      line += word;
      first = false;
    }
    lines += line;
    lines += '\n';
  }
  return lines;
}

std::string Header() {
  std::string header = kFormat;
  header += "; ";
  header += Bracketed(configuration::kSettings);
  header += "\n";
  header += KeyLines(Section::kSettings);
  header += ";\n";
  header += kSources;
  header += KeyLines(Section::kSource);
  header += kNumbers;
  return header;
}

bool ParseInitOptions(int argc, char** argv, const char** out) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc && *out == nullptr)
      *out = argv[++i];
    else
      return false;
  }
  return true;
}

// The name as a value that reads back as exactly the name the host shows:
// cut to its field, and quoted where the reader would otherwise drop blanks
// or quotes at its ends, or where a ";" after a blank would look like a
// comment to `check`. Line ends cannot be written; they become blanks.
std::string NameValue(std::string name) {
  for (char& c : name)
    if (c == '\n' || c == '\r') c = ' ';
  auto needsQuotes = [](std::string_view text) {
    return !text.empty() && (ini::IsBlank(text.front()) || ini::IsBlank(text.back()) ||
                             ini::IsQuoted(text) || configuration::LooksLikeComment(text));
  };
  std::string_view kept = ini::KeptPart(name, false, NameCapacity());
  if (!needsQuotes(kept)) return std::string(kept);
  kept = ini::KeptPart(kept, true, NameCapacity());
  std::string value(kept);
  return needsQuotes(kept) ? "\"" + value + "\"" : value;
}

std::string SourceSection(uint32_t counter) {
  const std::string index = std::to_string(counter);
  char name[kNameBufferSize];
  uint32_t length = kNameBufferSize;
  int32_t nameResult = CounterApiTable.GetCounterName(counter, name, &length);
  name[kNameBufferSize - 1] = '\0';  // a library that forgets the terminator
  uint64_t type = 0;
  int32_t typeResult = CounterApiTable.GetCounterAttribute(counter, kTypeAttribute, &type);

  std::string comment = "; counter " + index;
  if (typeResult != 0)
    comment += ": its type cannot be read (code " + ResultCode(typeResult) + "), set Dim";
  else if (type != 0)
    comment += ", a raw count: set MaxLimit to the largest reading you expect";
  else
    comment += ", a percentage counter";
  if (nameResult != 0)
    comment += "; its name cannot be read (code " + ResultCode(nameResult) + "), set Name";
  else if (ini::KeptPart(name, false, NameCapacity()).size() < std::strlen(name))
    comment += "; its name is cut to the " + std::to_string(NameCapacity() - 1) +
               " characters the host shows";

  std::string section = "\n" + comment + "\n[" + configuration::SourceSectionName(static_cast<int32_t>(counter)) + "]\nID=" + index + "\n";
  std::string value = nameResult == 0 ? NameValue(name) : "";
  if (!value.empty()) section += "Name=" + value + "\n";
  const counter_units::CounterUnit* unit = nameResult == 0 ? counter_units::UnitOf(name) : nullptr;
  if (typeResult == 0 && type != 0 && unit != nullptr && unit->dim != nullptr)
    section += std::string("Dim=") + unit->dim + "\n" + unit->modifier;
  else if (typeResult == 0 && type != 0)
    section += "Dim=Raw\n";
  if (typeResult == 0 && type == 0) section += "Dim=%\nMinLimit=0\nMaxLimit=100\n";
  return section;
}

std::string Configuration(uint32_t count) {
  std::string text = "; Configuration of the kestrel plug-in, written by \"kestrelhost init\":\n"
                     "; one source for each of the " + std::to_string(count) +
                     " counters of the counter library.\n"
                     "; The plug-in reads the file beside it under its own name with .cfg\n"
                     "; (kestrel.so or kestrel.dll reads kestrel.cfg). After every change,\n"
                     "; \"kestrelhost check kestrel.cfg\" tells what the plug-in will make of it.\n"
                     ";\n";
  text += Header();
  text += "\n[Settings]\nLoggingLevel=0\n";
  for (uint32_t counter = 0; counter < count; ++counter) text += SourceSection(counter);
  return text;
}

bool Write(const char* path, const std::string& text) {
  FILE* file = std::fopen(path, "w");
  if (file == nullptr) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int RunInit(int argc, char** argv) {
  const char* out = nullptr;
  if (!ParseInitOptions(argc, argv, &out)) return Usage();
  std::error_code ignored;
  if (out != nullptr && std::filesystem::exists(out, ignored)) {
    std::fprintf(stderr, "kestrelhost: %s exists already: it is left as it is\n", out);
    return 1;
  }

  uint32_t count = 0;
  std::string why;
  if (!OpenCounters(&count, &why)) {
    std::fprintf(stderr, "kestrelhost: cannot list the counters: %s\n", why.c_str());
    return 1;
  }
  if (count == 0) {
    CloseCounters();
    std::fprintf(stderr, "kestrelhost: the counter library has no counters: nothing to configure\n");
    return 1;
  }
  std::string text = Configuration(count);
  CloseCounters();

  if (out == nullptr) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "kestrelhost: cannot write the configuration: %s\n",
                   std::strerror(errno));
      return 1;
    }
    return 0;
  }
  if (!Write(out, text)) {
    std::fprintf(stderr, "kestrelhost: cannot write %s: %s\n", out, std::strerror(errno));
    std::remove(out);
    return 1;
  }
  std::printf("kestrelhost: wrote %s, one source for each of the %u counters\n", out, count);
  return 0;
}
