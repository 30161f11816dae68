// kestrel-exporter: serves the GPU's counters to Prometheus. Each scrape
// takes one reading of the counter table (shared by the scrapes that arrive
// meanwhile); nothing polls the GPU between scrapes.
//
//   kestrel-exporter [--web.listen-address=:9747] [--web.telemetry-path=/metrics]
//                    [--counters=REGEX] [--version] [--help]
//
// Exit status: 0 after SIGTERM or SIGINT, 1 when it cannot start (the port
// in use), 2 for a usage error.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <regex>
#include <string>

#include "counter_session.h"
#include "http_server.h"
#include "log.h"
#include "options.h"
#include "routes.h"
#include "service.h"
#include "shared_readings.h"

namespace {

using namespace exporter;

int UsageError(const std::string& why) {
  std::fprintf(stderr, "kestrel-exporter: %s (see --help)\n", why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string why;
  if (!ParseOptions(argc, argv, &options, &why)) return UsageError(why);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("kestrel-exporter, version %s\n", KESTREL_VERSION);
    return 0;
  }
  std::optional<std::regex> filter;
  if (!options.counters.empty()) {
    try {
      filter.emplace(options.counters, std::regex::ECMAScript);
    } catch (const std::regex_error& error) {
      return UsageError("--counters is not a regular expression: " + std::string(error.what()));
    }
  }

  // The stop signals are taken by this thread alone: the server's threads
  // are started with them blocked.
  platform::BlockStopSignals();
  Log(Level::kInfo, "Starting kestrel-exporter", {{"version", KESTREL_VERSION}});
  int socket = platform::ListenOn(options.listenAddress, &why);
  if (socket < 0) {
    Log(Level::kError, "Cannot listen", {{"address", options.listenAddress}, {"why", why}});
    return 1;
  }
  CounterSession session(std::move(filter));
  // Bound before the first scrape, so that a missing library is said at
  // start; nothing else touches the table yet.
  session.Open();
  SharedReadings readings(session);
  std::string address = platform::BoundAddress(socket);
  auto server = HttpServer::Start(socket, Routes(readings, options.telemetryPath, KESTREL_VERSION));
  if (server == nullptr) {
    close(socket);
    Log(Level::kError, "Cannot start the HTTP server", {{"address", address}});
    return 1;
  }
  Log(Level::kInfo, "Listening on", {{"address", address}, {"telemetry_path", options.telemetryPath}});

  int signal = platform::WaitForStopSignal();
  Log(Level::kInfo, "Stopping", {{"signal", signal == SIGTERM ? "SIGTERM" : "SIGINT"}});
  server.reset();
  readings.Close();
  Log(Level::kInfo, "Stopped");
  return 0;
}
