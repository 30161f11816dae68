#include "http_server.h"

#include <microhttpd.h>
#include <unistd.h>

namespace exporter {
namespace {

// A thread for each connection: a scrape waiting for a reading holds up no
// other connection, and the scrapes that wait together share one reading.
// Their stacks are small: a connection needs little.
constexpr size_t kThreadStack = 256 * 1024;
constexpr unsigned kConnectionLimit = 512;
// Seconds a connection may stay silent before it is closed.
constexpr unsigned kIdleSeconds = 30;
// Memory for one request's line and headers: a larger request is refused.
constexpr size_t kRequestMemory = 64 * 1024;

}  // namespace

struct HttpServer::Daemon {
  MHD_Daemon* daemon = nullptr;
};

namespace {

MHD_Result Answer(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** request) {
  // The first call comes with the headers: answering then would leave the
  // body unread and the connection to be closed. Answered once the body is
  // in (and dropped: nothing here takes one), the connection is kept.
  static int started;
  if (*request == nullptr) {
    *request = &started;
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;
    return MHD_YES;
  }
  const Handler& handler = *static_cast<const Handler*>(context);
  Response answer;
  try {
    answer = handler(method, url);
  } catch (...) {
    answer = {500, "text/plain; charset=utf-8", "Internal Server Error\n", {}};
  }
  MHD_Response* response = MHD_create_response_from_buffer(answer.body.size(), answer.body.data(),
                                                           MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
  for (const auto& [name, value] : answer.headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  MHD_Result queued = MHD_queue_response(connection, answer.status, response);
  MHD_destroy_response(response);
  return queued;
}

}  // namespace

std::unique_ptr<HttpServer> HttpServer::Start(int socket, Handler handler) {
  std::unique_ptr<HttpServer> server(new HttpServer);
  server->handler_ = std::move(handler);
  server->daemon_ = std::make_unique<Daemon>();
  server->daemon_->daemon = MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ITC,
      0, nullptr, nullptr, &Answer, &server->handler_, MHD_OPTION_LISTEN_SOCKET, socket,
      MHD_OPTION_THREAD_STACK_SIZE, kThreadStack,
      MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kRequestMemory, MHD_OPTION_END);
  if (server->daemon_->daemon == nullptr) return nullptr;
  return server;
}

HttpServer::~HttpServer() {
  if (daemon_ == nullptr || daemon_->daemon == nullptr) return;
  // The listener closes first, so that nobody connects while the answers in
  // progress end.
  int listener = MHD_quiesce_daemon(daemon_->daemon);
  if (listener >= 0) close(listener);
  MHD_stop_daemon(daemon_->daemon);
}

}  // namespace exporter
