#include "routes.h"

#include <utility>

#include "exposition.h"

namespace exporter {
namespace {

constexpr char kTextType[] = "text/plain; charset=utf-8";

std::string HtmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FrontPage(const std::string& telemetryPath, const std::string& version) {
  std::string path = HtmlEscaped(telemetryPath);
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\">"
         "<title>Kestrel exporter</title></head>\n<body>\n<h1>Kestrel exporter</h1>\n"
         "<p>NVIDIA GPU counters for Prometheus, version " + HtmlEscaped(version) + ".</p>\n"
         "<p><a href=\"" + path + "\">" + path + "</a></p>\n</body>\n</html>\n";
}

}  // namespace

Handler Routes(SharedReadings& readings, std::string telemetryPath, std::string version) {
  auto writer = std::make_shared<ExpositionWriter>(version);
  return [&readings, writer, telemetryPath = std::move(telemetryPath), version = std::move(version)](
             std::string_view method, std::string_view path) -> Response {
    if (method != "GET" && method != "HEAD")
      return {405, kTextType, "Method Not Allowed\n", {{"Allow", "GET, HEAD"}}};
    if (path == telemetryPath)
      return {200, kExpositionType, writer->Write(*readings.Latest()), {}};
    if (path == "/") return {200, "text/html; charset=utf-8", FrontPage(telemetryPath, version), {}};
    return {404, kTextType, "Not Found\n", {}};
  };
}

}  // namespace exporter
