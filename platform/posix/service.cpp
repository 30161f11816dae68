#include "service.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

constexpr int kBacklog = 128;

// "HOST:PORT" into its parts; a bracketed IPv6 host loses its brackets.
bool SplitHostPort(const std::string& address, std::string* host, std::string* port) {
  size_t colon = address.rfind(':');
  if (colon == std::string::npos) return false;
  *host = address.substr(0, colon);
  *port = address.substr(colon + 1);
  if (host->size() >= 2 && host->front() == '[' && host->back() == ']')
    *host = host->substr(1, host->size() - 2);
  else if (host->find(':') != std::string::npos)
    return false;  // an IPv6 address without brackets cannot be told from its port
  if (port->empty() || port->find_first_not_of("0123456789") != std::string::npos) return false;
  return port->size() <= 5 && std::stoi(*port) <= 65535;
}

int ListenOnAddress(const addrinfo& info, std::string* why) {
  int fd = socket(info.ai_family, info.ai_socktype | SOCK_CLOEXEC, info.ai_protocol);
  if (fd < 0) {
    *why = std::strerror(errno);
    return -1;
  }
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  // "Every interface" on IPv6 takes IPv4 too, as exporters do.
  if (info.ai_family == AF_INET6) {
    int no = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
  }
  if (bind(fd, info.ai_addr, info.ai_addrlen) != 0 || listen(fd, kBacklog) != 0) {
    *why = std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int ListenOn(const std::string& address, std::string* why) {
  std::string host, port;
  if (!SplitHostPort(address, &host, &port)) {
    *why = "not HOST:PORT, :PORT or [IPV6]:PORT";
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int status = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
  if (status != 0) {
    *why = gai_strerror(status);
    return -1;
  }
  // Every interface: the IPv6 wildcard (which takes IPv4 too) where the
  // system has IPv6, else the IPv4 one. A named host: its first address
  // that can be bound.
  int fd = -1;
  if (host.empty())
    for (addrinfo* info = found; info != nullptr && fd < 0; info = info->ai_next)
      if (info->ai_family == AF_INET6) fd = ListenOnAddress(*info, why);
  for (addrinfo* info = found; info != nullptr && fd < 0; info = info->ai_next)
    fd = ListenOnAddress(*info, why);
  freeaddrinfo(found);
  return fd;
}

std::string BoundAddress(int socket) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "";
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    std::string bracketed(1, '[');
    bracketed.append(text).append("]:").append(std::to_string(ntohs(v6.sin6_port)));
    return bracketed;
  }
  const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
  inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

namespace {
sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  return signals;
}
}  // namespace

void BlockStopSignals() {
  sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int WaitForStopSignal() {
  sigset_t signals = StopSignals();
  int number = 0;
  while (sigwait(&signals, &number) != 0) {
  }
  return number;
}

}  // namespace platform
