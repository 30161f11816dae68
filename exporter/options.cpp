#include "options.h"

#include <cstring>
#include <string_view>

namespace exporter {

bool ParseOptions(int argc, char** argv, Options* options, std::string* why) {
  struct Valued {
    std::string_view name;
    std::string* value;
  };
  const Valued valued[] = {{"--web.listen-address", &options->listenAddress},
                           {"--web.telemetry-path", &options->telemetryPath},
                           {"--counters", &options->counters}};
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      options->help = true;
      continue;
    }
    if (argument == "--version") {
      options->version = true;
      continue;
    }
    const Valued* match = nullptr;
    std::string_view value;
    bool inline_value = false;
    for (const Valued& option : valued) {
      if (argument == option.name) {
        match = &option;
      } else if (argument.starts_with(option.name) && argument[option.name.size()] == '=') {
        match = &option;
        value = argument.substr(option.name.size() + 1);
        inline_value = true;
      }
    }
    if (match == nullptr) {
      *why = "unknown option " + std::string(argument);
      return false;
    }
    if (!inline_value) {
      if (i + 1 >= argc) {
        *why = std::string(match->name) + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    *match->value = std::string(value);
  }
  const std::string& path = options->telemetryPath;
  if (path.size() < 2 || path.front() != '/') {
    *why = "--web.telemetry-path must be a path below / (such as /metrics)";
    return false;
  }
  return true;
}

}  // namespace exporter
