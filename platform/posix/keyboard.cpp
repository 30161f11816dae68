// "A key is waiting" on POSIX. On a terminal, canonical mode and echo are
// switched off the first time we look, so one key press is seen without
// Enter; the saved settings go back at exit and on the signals that would
// otherwise end the process with the terminal left raw (Ctrl+C among them).
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "platform.h"

namespace {

termios savedSettings;
volatile sig_atomic_t keyModeActive = 0;
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreTerminal() {
  if (keyModeActive) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
    keyModeActive = 0;
  }
}

// Puts the terminal back, then lets the signal end the process as it would
// have without us.
void RestoreAndRedeliver(int signalNumber) {
  RestoreTerminal();
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

void EnterKeyMode() {
  static bool tried = false;
  if (tried) return;
  tried = true;
  if (tcgetattr(STDIN_FILENO, &savedSettings) != 0) return;
  for (int signalNumber : kEndingSignals) {
    struct sigaction previous {};
    sigaction(signalNumber, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;  // keep what the caller chose
    struct sigaction action {};
    action.sa_handler = RestoreAndRedeliver;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
  }
  atexit(RestoreTerminal);
  termios raw = savedSettings;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  keyModeActive = 1;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) keyModeActive = 0;
}

}  // namespace

namespace platform {

bool KeyIsWaiting() {
  if (isatty(STDIN_FILENO)) EnterKeyMode();
  pollfd input{STDIN_FILENO, POLLIN, 0};
  int ready = poll(&input, 1, 0);
  if (ready < 0) return false;  // interrupted: look again on the next poll
  // POLLHUP: end of input; POLLNVAL: no standard input at all.
  return ready > 0 && (input.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
}

}  // namespace platform
