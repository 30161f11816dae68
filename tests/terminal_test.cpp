// kestrelcli on a real terminal (a pseudo-terminal): one key press, without
// Enter, ends the key wait, and the terminal's settings are the same
// afterwards as before, whether the program ends normally or by Ctrl+C.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "counter_double.h"

using testing_support::CounterDouble;

namespace {

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

class TerminalRun {
 public:
  TerminalRun() {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    tcgetattr(slave_, &before_);
    child_ = fork();
    if (child_ == 0) {
      setsid();
      ioctl(slave_, TIOCSCTTY, 0);
      dup2(slave_, STDIN_FILENO);
      dup2(slave_, STDOUT_FILENO);
      dup2(slave_, STDERR_FILENO);
      close(master_);
      close(slave_);
      execl(KESTRELCLI, KESTRELCLI, static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~TerminalRun() {
    if (child_ > 0 && !exited_) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    close(master_);
    close(slave_);
  }

  // Reads the terminal until `text` has appeared; false on a time-out.
  bool WaitFor(const std::string& text, int seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (screen_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 50) > 0) {
        char buffer[512];
        ssize_t got = read(master_, buffer, sizeof buffer);
        if (got > 0) screen_.append(buffer, static_cast<size_t>(got));
      }
    }
    return true;
  }

  void Type(const char* keys) { ASSERT_EQ(write(master_, keys, strlen(keys)), (ssize_t)strlen(keys)); }

  // Waits for the program to end; returns its wait status, or -1 on a time-out.
  int Wait(int seconds = 10) {
    for (int tick = 0; tick < seconds * 100; ++tick) {
      int status = 0;
      WaitFor("\x01", 0);  // keep draining the terminal
      if (waitpid(child_, &status, WNOHANG) == child_) {
        exited_ = true;
        return status;
      }
      usleep(10000);
    }
    return -1;
  }

  termios Now() const {
    termios now{};
    tcgetattr(slave_, &now);
    return now;
  }
  const termios& before() const { return before_; }

 private:
  int master_ = -1, slave_ = -1;
  pid_t child_ = -1;
  bool exited_ = false;
  termios before_{};
  std::string screen_;
};

TEST(Terminal, OneKeyWithoutEnterEndsTheWaitAndTheSettingsAreRestored) {
  CounterDouble library;
  library.SetScript("counter 1 1 1 a\n");
  TerminalRun run;
  ASSERT_TRUE(run.WaitFor("Press any key to exit"));
  usleep(200000);
  EXPECT_FALSE(run.Now().c_lflag & ICANON) << "the program should read keys one at a time";
  run.Type("x");
  int status = run.Wait(5);
  ASSERT_NE(status, -1) << "a key without Enter did not end the wait";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(SameSettings(run.Now(), run.before()));
  EXPECT_EQ(library.Calls().back(), "Shutdown");
}

TEST(Terminal, CtrlCEndsTheProgramWithoutShutdownAndRestoresTheSettings) {
  CounterDouble library;
  library.SetScript("counter 1 1 1 a\n");
  TerminalRun run;
  ASSERT_TRUE(run.WaitFor("Press any key to exit"));
  usleep(200000);
  ASSERT_FALSE(SameSettings(run.Now(), run.before()));
  run.Type("\x03");  // the terminal turns Ctrl+C into SIGINT
  int status = run.Wait(5);
  ASSERT_NE(status, -1);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  EXPECT_TRUE(SameSettings(run.Now(), run.before()));
  EXPECT_NE(library.Calls().back(), "Shutdown");
}

}  // namespace
