// kestrel-exporter run as a real process on a free loopback port, and a
// plain HTTP/1.1 client to ask it over a real socket.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "scratch.h"

namespace testing_support {

struct HttpAnswer {
  int status = 0;  // 0: the connection closed before a status line came
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string raw;  // everything the server sent
};

// Sends `request` as it stands to 127.0.0.1:`port` and reads the answer
// until the server closes the connection (ask with "Connection: close") or
// stays silent for `timeoutMs`.
HttpAnswer Exchange(int port, const std::string& request, int timeoutMs = 10000);
// GET (or another method) of `path`, closing the connection after it.
HttpAnswer Ask(int port, const std::string& path, const std::string& method = "GET");
// What promtool's "check metrics" finds in `metrics`: "" when nothing.
std::string Promtool(const std::string& metrics);
// A socket connected to `port` of `host`, a numeric address, or -1.
int Connect(int port, const std::string& host = "127.0.0.1");

class ExporterProcess {
 public:
  // Starts kestrel-exporter with `arguments` (after --web.listen-address
  // 127.0.0.1:0 unless they name one) and `environment` added to this
  // process's own, its standard output and error in a file; waits until it
  // listens or exits.
  ExporterProcess(const std::vector<std::string>& arguments,
                  const std::map<std::string, std::string>& environment);
  ~ExporterProcess();  // SIGKILL if it is still running

  int port() const { return port_; }
  bool listening() const { return port_ > 0; }
  std::string log() const { return ReadIfPresent(scratch_ / "log"); }  // its output so far

  // Sends `signal` and waits for the exit. Returns the exit status, or -1
  // when it did not exit by itself within `timeoutMs` (it is killed then).
  int Stop(int signal, int timeoutMs = 10000);
  // Waits for an exit without a signal (a program that refused to start).
  int Wait(int timeoutMs = 10000);

 private:
  bool Exited();  // reaps the process if it has exited
  ScratchDir scratch_;
  int pid_ = -1;
  int exitStatus_ = -1;  // -1 also when a signal ended it
  int port_ = 0;
};

}  // namespace testing_support
