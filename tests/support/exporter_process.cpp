#include "exporter_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

HttpAnswer Parse(const std::string& raw) {
  HttpAnswer answer;
  answer.raw = raw;
  size_t end = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos) return answer;
  answer.status = std::atoi(raw.c_str() + 9);
  std::istringstream lines(raw.substr(0, end));
  std::string line;
  std::getline(lines, line);  // the status line
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    size_t value = line.find_first_not_of(' ', colon + 1);
    answer.headers[Lower(line.substr(0, colon))] = value == std::string::npos ? "" : line.substr(value);
  }
  answer.body = raw.substr(end + 4);
  return answer;
}

}  // namespace

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

HttpAnswer Exchange(int port, const std::string& request, int timeoutMs) {
  signal(SIGPIPE, SIG_IGN);  // a server that closes early must not end the test
  int fd = Connect(port);
  if (fd < 0) return {};
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (size_t sent = 0; sent < request.size();) {
    ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server stopped reading; what it answered still counts
    sent += static_cast<size_t>(n);
  }
  std::string raw;
  while (Clock::now() < deadline) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 50) <= 0) continue;
    char buffer[65536];
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    raw.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return Parse(raw);
}

std::string Promtool(const std::string& metrics) {
  char path[] = "/tmp/kestrel-scraped-XXXXXX";
  int fd = mkstemp(path);
  (void)!write(fd, metrics.data(), metrics.size());
  close(fd);
  std::string command = std::string(KESTREL_PROMTOOL) + " check metrics < " + path + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string findings;
  char buffer[512];
  while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr) findings += buffer;
  int status = pipe == nullptr ? -1 : pclose(pipe);
  unlink(path);
  return status == 0 ? findings : "exit status " + std::to_string(status) + ": " + findings;
}

HttpAnswer Ask(int port, const std::string& path, const std::string& method) {
  return Exchange(port, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

ExporterProcess::ExporterProcess(const std::vector<std::string>& arguments,
                                 const std::map<std::string, std::string>& environment) {
  char pattern[] = "/tmp/kestrel-exporter-log-XXXXXX";
  int logFd = mkstemp(pattern);
  logPath_ = pattern;
  std::vector<std::string> args = {KESTREL_EXPORTER};
  bool named = std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
    return a.rfind("--web.listen-address", 0) == 0;
  });
  if (!named) args.insert(args.end(), {"--web.listen-address", "127.0.0.1:0"});
  args.insert(args.end(), arguments.begin(), arguments.end());
  pid_ = fork();
  if (pid_ == 0) {
    dup2(logFd, STDERR_FILENO);
    for (const auto& [name, value] : environment)
      value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(logFd);
  // The port it took, from its "Listening on" line.
  static const std::regex listening("msg=\"Listening on\" address=[^ ]*:([0-9]+)");
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    std::smatch match;
    std::string text = log();
    if (std::regex_search(text, match, listening)) {
      port_ = std::stoi(match[1]);
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;  // it exited: Wait answers what it exited with
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

ExporterProcess::~ExporterProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  unlink(logPath_.c_str());
}

std::string ExporterProcess::log() const {
  std::ifstream file(logPath_);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

int ExporterProcess::Wait(int timeoutMs) {
  if (pid_ <= 0) return exitStatus_;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (Clock::now() < deadline) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return exitStatus_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

int ExporterProcess::Stop(int signal, int timeoutMs) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  int status = Wait(timeoutMs);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  return status;
}

}  // namespace testing_support
