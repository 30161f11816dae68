// What the exporter answers on which path.
#pragma once

#include <string>

#include "http_server.h"
#include "shared_readings.h"

namespace exporter {

// "/" a small page that links to the metrics; `telemetryPath` the metrics
// from a shared reading; any other path 404. GET and HEAD only: any other
// method is 405 with the methods that are allowed.
Handler Routes(SharedReadings& readings, std::string telemetryPath, std::string version);

}  // namespace exporter
