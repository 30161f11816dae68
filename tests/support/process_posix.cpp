#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "process.h"

namespace testing_support {

ProgramRun RunProgram(const std::string& path, const ProgramOptions& options) {
  signal(SIGPIPE, SIG_IGN);  // a child that is gone must not end the test
  int output[2];
  int input[2];
  if (pipe(output) != 0 || pipe(input) != 0) throw std::runtime_error("pipe failed");
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    dup2(options.sendKeyWhen ? input[0] : open("/dev/null", O_RDONLY), STDIN_FILENO);
    dup2(output[1], STDOUT_FILENO);
    for (int end : {output[0], output[1], input[0], input[1]}) close(end);
    for (const auto& [name, value] : options.environment)
      value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& argument : options.arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(127);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(output[1]);
  close(input[0]);
  int keyPipe = options.sendKeyWhen ? input[1] : -1;
  if (keyPipe < 0) close(input[1]);  // an empty input: its end is there at once

  ProgramRun run;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  for (;;) {
    pollfd ready{output[0], POLLIN, 0};
    poll(&ready, 1, 10);
    if (ready.revents & (POLLIN | POLLHUP)) {
      char buffer[4096];
      ssize_t got = read(output[0], buffer, sizeof buffer);
      if (got <= 0) break;
      run.output.append(buffer, static_cast<size_t>(got));
    }
    if (keyPipe >= 0 && options.sendKeyWhen(run.output)) {
      (void)!write(keyPipe, "k", 1);
      close(keyPipe);
      keyPipe = -1;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      break;
    }
  }
  close(output[0]);
  if (keyPipe >= 0) close(keyPipe);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

}  // namespace testing_support
