// kestrel-exporter's command line, in the spelling of Prometheus' exporters:
// "--flag value" or "--flag=value".
#pragma once

#include <string>

namespace exporter {

struct Options {
  std::string listenAddress = ":9747";  // --web.listen-address
  std::string telemetryPath = "/metrics";  // --web.telemetry-path
  std::string counters;  // --counters: a regular expression, empty for all
  bool help = false;     // --help, -h
  bool version = false;  // --version
};

inline constexpr char kUsage[] =
    "usage: kestrel-exporter [OPTIONS]\n"
    "Serves the GPU's counters to Prometheus, read at each scrape.\n"
    "\n"
    "  --web.listen-address=ADDRESS  where to listen: HOST:PORT, :PORT for every\n"
    "                                interface, [IPV6]:PORT (default :9747)\n"
    "  --web.telemetry-path=PATH     the path of the metrics (default /metrics)\n"
    "  --counters=REGEX              only counters whose name matches REGEX\n"
    "                                (anywhere in the name; default all)\n"
    "  --version                     print the version and exit\n"
    "  -h, --help                    print this help and exit\n";

// Reads the command line into `*options`. Returns false, with `*why` saying
// what is wrong, for an unknown option, a missing value, or a telemetry path
// that is not an absolute path of its own ("/" is the front page).
bool ParseOptions(int argc, char** argv, Options* options, std::string* why);

}  // namespace exporter
