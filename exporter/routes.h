// What the exporter answers on which path.
#pragma once

#include <string>

#include "http_server.h"
#include "shared_readings.h"

namespace exporter {

// `telemetryPath` the metrics from a shared reading; "/api/v1/readings" the
// same reading as JSON, for the live page; "/" that page and "/assets/..."
// its files; any other path 404. GET and HEAD only: any other method is 405
// with the methods that are allowed. Every answer forbids the browser to
// run or load anything that is not the exporter's own.
Handler Routes(SharedReadings& readings, std::string telemetryPath, std::string version);

}  // namespace exporter
