#include "routes.h"

#include <utility>

#include "assets.h"
#include "exposition.h"
#include "readings_json.h"

namespace exporter {
namespace {

constexpr char kTextType[] = "text/plain; charset=utf-8";
constexpr char kReadingsPath[] = "/api/v1/readings";

// The page's own files and readings, nothing inline, nothing from anywhere
// else; the exporter's answers are never to be framed or sniffed.
const std::vector<std::pair<std::string, std::string>> kSafetyHeaders = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
     "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
};

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

void ReplaceAll(std::string& text, std::string_view placeholder, const std::string& value) {
  for (size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size()))
    text.replace(at, placeholder.size(), value);
}

// The page with the telemetry path and the version written in.
std::string FrontPage(const std::string& telemetryPath, const std::string& version) {
  std::string page(AssetAt("/")->body);
  ReplaceAll(page, "@TELEMETRY_PATH@", HtmlEscaped(telemetryPath));
  ReplaceAll(page, "@VERSION@", HtmlEscaped(version));
  return page;
}

Response Answer(SharedReadings& readings, ExpositionWriter& writer, const std::string& telemetryPath,
                const std::string& frontPage, std::string_view method, std::string_view path) {
  if (method != "GET" && method != "HEAD")
    return {405, kTextType, "Method Not Allowed\n", {{"Allow", "GET, HEAD"}}};
  if (path == telemetryPath)
    return {200, kExpositionType, writer.Write(*readings.Latest()), {}};
  if (path == kReadingsPath)
    return {200, kJsonType, ReadingsJson(*readings.Latest()), {{"Cache-Control", "no-store"}}};
  if (path == "/") return {200, std::string(AssetAt("/")->contentType), frontPage, {}};
  // Fetched anew with each page: a new version of the program shows at once.
  if (const Asset* asset = AssetAt(path); asset != nullptr && path.starts_with("/assets/"))
    return {200, std::string(asset->contentType), std::string(asset->body), {{"Cache-Control", "no-cache"}}};
  return {404, kTextType, "Not Found\n", {}};
}

}  // namespace

Handler Routes(SharedReadings& readings, std::string telemetryPath, std::string version) {
  auto writer = std::make_shared<ExpositionWriter>(version);
  std::string frontPage = FrontPage(telemetryPath, version);
  return [&readings, writer, telemetryPath = std::move(telemetryPath), frontPage = std::move(frontPage)](
             std::string_view method, std::string_view path) -> Response {
    Response response = Answer(readings, *writer, telemetryPath, frontPage, method, path);
    response.headers.insert(response.headers.end(), kSafetyHeaders.begin(), kSafetyHeaders.end());
    return response;
  };
}

}  // namespace exporter
