// Runs one of our programs as its own process and collects what it printed.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct ProgramRun {
  std::string output;  // standard output, byte for byte
  int exitCode = -1;   // -1 when the program did not exit normally
  int signal = 0;      // the signal that ended it, if one did
};

struct ProgramOptions {
  std::vector<std::string> arguments;
  // Variables to set (or, with an empty value, to remove) for the child.
  std::map<std::string, std::string> environment;
  // Without a key trigger standard input is empty (the end of input counts
  // as a key). With one, standard input is a pipe that gets a key once the
  // trigger, shown the output so far, answers true; it is asked every few
  // milliseconds.
  std::function<bool(const std::string& output)> sendKeyWhen;
  int timeoutSeconds = 60;
  std::string workingDirectory;  // empty: this process's own
  // Windows: more of the command line, as written, after the arguments
  // (which are quoted one by one).
  std::string commandLineTail;
};

ProgramRun RunProgram(const std::string& path, const ProgramOptions& options);

}  // namespace testing_support
