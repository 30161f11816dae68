#include "exporter_process.h"

#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <thread>

#include "process.h"

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPoll = std::chrono::milliseconds(10);

HttpAnswer Parse(const std::string& raw) {
  HttpAnswer answer;
  answer.raw = raw;
  const size_t end = raw.find("\r\n\r\n");
  if (!raw.starts_with("HTTP/1.1 ") || end == std::string::npos) return answer;
  answer.status = std::atoi(raw.c_str() + 9);
  static const std::regex header("\r\n([^:\r\n]+): *([^\r\n]*)");
  const std::string head = raw.substr(0, end);
  for (std::sregex_iterator at(head.begin(), head.end(), header), last; at != last; ++at) {
    std::string name = (*at)[1];
    std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::tolower(c); });
    answer.headers[name] = (*at)[2];
  }
  answer.body = raw.substr(end + 4);
  return answer;
}

}  // namespace

int Connect(int port, const std::string& host) {
  addrinfo hints{}, *found = nullptr;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
    close(fd);
    fd = -1;
  }
  freeaddrinfo(found);
  return fd;
}

HttpAnswer Exchange(int port, const std::string& request, int timeoutMs) {
  int fd = Connect(port);
  if (fd < 0) return {};
  const timeval limit{timeoutMs / 1000, timeoutMs % 1000 * 1000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  // A server may stop reading and still answer: what it answered counts.
  (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string raw;
  char buffer[65536];
  for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
    raw.append(buffer, static_cast<size_t>(got));
  close(fd);
  return Parse(raw);
}

HttpAnswer Ask(int port, const std::string& path, const std::string& method) {
  return Exchange(
      port, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

std::string Promtool(const std::string& metrics) {
  ScratchDir scratch;
  WriteFile(scratch / "metrics", metrics);
  ProgramOptions options;
  options.arguments = {"-c", KESTREL_PROMTOOL " check metrics < metrics 2>&1"};
  options.workingDirectory = scratch.path().string();
  ProgramRun run = RunProgram("/bin/sh", options);
  if (run.exitCode == 0) return run.output;
  return "exit status " + std::to_string(run.exitCode) + ": " + run.output;
}

ExporterProcess::ExporterProcess(const std::vector<std::string>& arguments,
                                 const std::map<std::string, std::string>& environment) {
  int logFd = open((scratch_ / "log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  std::vector<std::string> args = {KESTREL_EXPORTER};
  const auto address = [](const std::string& a) { return a.starts_with("--web.listen-address"); };
  if (std::ranges::none_of(arguments, address))
    args.insert(args.end(), {"--web.listen-address", "127.0.0.1:0"});
  args.insert(args.end(), arguments.begin(), arguments.end());
  pid_ = fork();
  if (pid_ == 0) {
    dup2(logFd, STDOUT_FILENO);
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
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  for (; Clock::now() < deadline && !Exited(); std::this_thread::sleep_for(kPoll)) {
    std::smatch match;
    const std::string text = log();
    if (std::regex_search(text, match, listening)) {
      port_ = std::stoi(match[1]);
      return;
    }
  }
}

ExporterProcess::~ExporterProcess() { Stop(SIGKILL); }

bool ExporterProcess::Exited() {
  int status = 0;
  if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return pid_ <= 0;
}

int ExporterProcess::Wait(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Exited()) {
    if (Clock::now() > deadline) return -1;
    std::this_thread::sleep_for(kPoll);
  }
  return exitStatus_;
}

int ExporterProcess::Stop(int signal, int timeoutMs) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  const int status = Wait(timeoutMs);
  if (pid_ > 0) Stop(SIGKILL);
  return status;
}

}  // namespace testing_support
