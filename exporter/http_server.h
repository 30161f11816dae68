// The HTTP side, on libmicrohttpd: it owns connections, parsing, timeouts
// and limits; we only answer a method and a path.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace exporter {

struct Response {
  unsigned status = 200;
  std::string contentType;
  std::string body;  // a HEAD request gets the headers alone
  std::vector<std::pair<std::string, std::string>> headers;
};

using Handler = std::function<Response(std::string_view method, std::string_view path)>;

class HttpServer {
 public:
  // Serves `handler` on the listening socket `socket`, which it takes over.
  // Returns null when the server cannot start.
  static std::unique_ptr<HttpServer> Start(int socket, Handler handler);
  ~HttpServer();  // stops listening, then waits for the answers in progress

  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

 private:
  HttpServer() = default;
  struct Daemon;
  std::unique_ptr<Daemon> daemon_;
  Handler handler_;
};

}  // namespace exporter
