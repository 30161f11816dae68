#include <windows.h>

#include <chrono>
#include <stdexcept>

#include "process.h"

namespace testing_support {

namespace {

std::string Quote(const std::string& argument) { return "\"" + argument + "\""; }

// Sets each variable to its value, or removes it for an empty one; returns
// what they were (empty for none), to be set back the same way.
std::map<std::string, std::string> SetVariables(const std::map<std::string, std::string>& values) {
  std::map<std::string, std::string> before;
  for (const auto& [name, value] : values) {
    static char old[32767];
    DWORD length = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
    before[name] = std::string(old, length < sizeof old ? length : 0);
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  }
  return before;
}

}  // namespace

ProgramRun RunProgram(const std::string& path, const ProgramOptions& options) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE outputRead, outputWrite, inputRead, inputWrite;
  if (!CreatePipe(&outputRead, &outputWrite, &inheritable, 0) ||
      !CreatePipe(&inputRead, &inputWrite, &inheritable, 0))
    throw std::runtime_error("CreatePipe failed");
  SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
  if (!options.sendKeyWhen) {  // an empty input: its end is there at once
    CloseHandle(inputWrite);
    inputWrite = nullptr;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inputRead;
  startup.hStdOutput = outputWrite;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::string commandLine = Quote(path);
  for (const std::string& argument : options.arguments) commandLine.append(" ").append(Quote(argument));
  if (!options.commandLineTail.empty()) commandLine += " " + options.commandLineTail;
  // The child inherits this process's environment, changed for the moment
  // it starts.
  std::map<std::string, std::string> before = SetVariables(options.environment);
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessA(
      path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
      options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup, &process);
  SetVariables(before);
  if (!started) throw std::runtime_error("cannot start " + path);
  CloseHandle(outputWrite);
  CloseHandle(inputRead);

  ProgramRun run;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(outputRead, nullptr, 0, nullptr, &available, nullptr)) break;
    if (available > 0) {
      char buffer[4096];
      DWORD got = 0;
      if (!ReadFile(outputRead, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      run.output.append(buffer, got);
      continue;
    }
    if (inputWrite != nullptr && options.sendKeyWhen(run.output)) {
      DWORD written = 0;
      WriteFile(inputWrite, "k", 1, &written, nullptr);
      CloseHandle(inputWrite);
      inputWrite = nullptr;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      TerminateProcess(process.hProcess, 1);
      break;
    }
    Sleep(10);
  }
  if (inputWrite != nullptr) CloseHandle(inputWrite);
  CloseHandle(outputRead);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  run.exitCode = static_cast<int>(exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return run;
}

}  // namespace testing_support
