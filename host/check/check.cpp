// kestrelhost check CONFIG [--json]: reads a configuration file with the
// plug-in's own reader and rules and reports, one line each, what the
// plug-in will make of it that its author probably did not mean.
//
// Exit status: 0 nothing found, 1 something found, 2 the file cannot be read
// (or the command line is wrong). That the counter library cannot be reached
// is said on standard error and changes nothing in the status: the file is
// judged on its own, and the IDs are then not checked against the counters.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "check.h"
#include "commands.h"
#include "counters.h"
#include "data_sources.h"
#include "ini_lines.h"
#include "profile.h"
#include "text_file.h"


std::optional<int32_t> SourcePosition(std::string_view name) {
  const std::string_view prefix = configuration::kSourcePrefix;
  if (name.size() <= prefix.size() || !ini::SameName(name.substr(0, prefix.size()), prefix))
    return {};
  std::string_view digits = name.substr(prefix.size());
  if (digits.size() > 10) return {};
  int64_t position = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return {};
    position = position * 10 + (c - '0');
  }
  if (position >= kLastSourcePosition ||
      SourceSectionName(static_cast<int32_t>(position)) != prefix.data() + std::string(digits))
    return {};  // leading zeros, or beyond the last position
  return static_cast<int32_t>(position);
}

std::string Shown(std::string_view text) {
  constexpr size_t kLongest = 48;
  bool shortened = text.size() > kLongest;
  if (shortened) text = text.substr(0, kLongest - 3);
  std::string shown;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shortened ? shown + "..." : shown;
}

// Appended piece by piece: GCC 12 warns falsely about `"x" + std::string`.
std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += Shown(text);
  quoted += '"';
  return quoted;
}

std::string Bracketed(std::string_view name) {
  std::string bracketed(1, '[');
  bracketed += Shown(name);
  bracketed += ']';
  return bracketed;
}

size_t EditDistance(std::string_view a, std::string_view b) {
  // Every edit changes the length by one at most; so far apart, the callers
  // need no more, and a megabyte-long name costs nothing.
  size_t difference = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (difference > 2) return difference;
  std::string x = ini::LowerName(a), y = ini::LowerName(b);
  std::vector<std::vector<size_t>> d(x.size() + 1, std::vector<size_t>(y.size() + 1));
  for (size_t i = 0; i <= x.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= y.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= x.size(); ++i) {
    for (size_t j = 1; j <= y.size(); ++j) {
      size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[x.size()][y.size()];
}

namespace {

struct CheckOptions {
  const char* path = nullptr;
  bool json = false;
};

bool ParseCheckOptions(int argc, char** argv, CheckOptions* options) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0)
      options->json = true;
    else if (options->path == nullptr && argv[i][0] != '-')
      options->path = argv[i];
    else
      return false;
  }
  return options->path != nullptr;
}

// The reader would take such a file apart at every NUL byte, whatever it is
// meant to be; a file saved as UTF-16 without its byte-order mark is the
// usual way to get one.
bool IsText(const std::string& text, std::string* why) {
  size_t nul = text.find('\0');
  if (nul == std::string::npos) return true;
  std::string_view rest(text.data(), nul);
  int line = 0;
  while (!rest.empty()) {
    ini::NextLine(rest);
    ++line;
  }
  if (line == 0 || text[nul - 1] == '\n' || text[nul - 1] == '\r') ++line;
  *why = "it is not a text file: line " + std::to_string(line) + " holds a NUL byte";
  return false;
}

// Only asked when there is a source whose counter could be missing.
std::optional<uint32_t> CounterCount() {
  uint32_t count = 0;
  std::string why;
  if (!OpenCounters(&count, &why)) {
    std::fprintf(stderr, "kestrelhost: note: the IDs were not checked against the counters: %s\n",
                 why.c_str());
    return {};
  }
  CloseCounters();
  return count;
}

void RunChecks(const CheckContext& context) {
  CheckBareKeys(context);
  CheckKeysBeforeSections(context);
  CheckUnknownSections(context);
  CheckRepeatedSections(context);
  CheckListEnd(context);
  CheckKeyNames(context);
  CheckRepeatedKeys(context);
  CheckIds(context);
  CheckTexts(context);
  CheckNumbers(context);
  CheckModifiers(context);
  CheckLoggingLevel(context);
}

}  // namespace

int RunCheck(int argc, char** argv) {
  CheckOptions options;
  if (!ParseCheckOptions(argc, argv, &options)) return Usage();

  std::string text, why;
  if (!platform::ReadConfigurationText(options.path, &text, &why) || !IsText(text, &why)) {
    std::fprintf(stderr, "kestrelhost: cannot read %s: %s\n", options.path, why.c_str());
    return 2;
  }
  ConfigScan scan = ScanConfiguration(text);
  // Windows' profile functions look for a bare file name in the Windows
  // folder, not the current one; the plug-in always gives a full path.
  std::error_code error;
  std::string fullPath = std::filesystem::absolute(options.path, error).string();
  platform::ProfileFile file(error ? options.path : fullPath.c_str());

  Findings findings;
  CheckContext context{scan, file, configuration::SourceListEnd(file), {}, scan.Find(configuration::kSettings), {}, findings};
  for (int64_t position = 0; position <= context.listEnd; ++position)
    context.sources.push_back(scan.Find(SourceSectionName(static_cast<int32_t>(position))));
  if (context.listEnd > 0) context.counterCount = CounterCount();
  RunChecks(context);

  if (options.json)
    findings.PrintJson(options.path);
  else
    findings.PrintText(options.path);
  std::fflush(stdout);
  return findings.empty() ? 0 : 1;
}
