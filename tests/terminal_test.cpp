// kestrelcli on a real terminal (a pseudo-terminal): one key press, without
// Enter, ends the key wait, and the terminal's settings are the same
// afterwards as before, whether the program ends normally or by Ctrl+C.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <csignal>
#include <cstring>
#include <string>

#include "counter_double.h"

using testing_support::CounterDouble;

namespace {

termios Of(int terminal) {
  termios now;
  std::memset(&now, 0, sizeof now);  // so that whole records compare
  tcgetattr(terminal, &now);
  return now;
}

struct Outcome {
  termios before{}, waiting{}, after{};
  int status = -1;  // the wait status; -1 when the program did not end in time
};

// kestrelcli listing the counters on the terminal, sent `key` once it waits
// for one.
Outcome RunWithKey(char key) {
  Outcome outcome;
  int master = -1, terminal = -1;
  if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) return outcome;
  outcome.before = Of(terminal);
  const pid_t child = fork();
  if (child == 0) {
    close(master);
    login_tty(terminal);
    execl(KESTRELCLI, KESTRELCLI, static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string screen;
  bool sent = false;
  // waitpid stores the status only once the program has ended.
  for (int tick = 0; tick < 1000 && waitpid(child, &outcome.status, WNOHANG) != child; ++tick) {
    pollfd ready{master, POLLIN, 0};
    char buffer[512];
    ssize_t got = poll(&ready, 1, 10) > 0 ? read(master, buffer, sizeof buffer) : 0;
    if (got > 0) screen.append(buffer, static_cast<size_t>(got));
    if (!sent && screen.find("Press any key to exit") != std::string::npos) {
      usleep(200000);  // the prompt may come before the settings are made
      outcome.waiting = Of(terminal);
      sent = write(master, &key, 1) == 1;
    }
  }
  if (outcome.status == -1) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  outcome.after = Of(terminal);
  close(master);
  close(terminal);
  return outcome;
}

TEST(Terminal, OneKeyWithoutEnterOrCtrlCEndsTheProgramAndTheSettingsAreRestored) {
  for (const char key : {'x', '\x03'}) {
    const bool ctrlC = key == '\x03';  // the terminal turns it into SIGINT
    SCOPED_TRACE(ctrlC ? "Ctrl+C" : "a key");
    CounterDouble library;
    library.SetScript("counter 1 1 1 a\n");
    Outcome run = RunWithKey(key);
    EXPECT_FALSE(run.waiting.c_lflag & ICANON) << "the program should read keys one at a time";
    ASSERT_NE(run.status, -1) << "the key did not end the wait";
    if (ctrlC)
      EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGINT);
    else
      EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0);
    EXPECT_EQ(std::memcmp(&run.after, &run.before, sizeof run.before), 0);
    EXPECT_EQ(library.Calls().back() == "Shutdown", !ctrlC);
  }
}

}  // namespace
