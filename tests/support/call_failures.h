// The ways a fault-matrix cell makes one counter call fail.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "process.h"

namespace testing_support {

enum class Failure {
  DirectCode,                       // the counter library returns -9
  ServerCallFails,                  // the server's method fails as a COM call
  ServerCallFailsAfterStoringCode,  // the same, after storing the code 21
};

inline auto EveryFailure() {
  return testing::Values(Failure::DirectCode, Failure::ServerCallFails,
                         Failure::ServerCallFailsAfterStoringCode);
}

inline const char* FailureName(Failure failure) {
  const char* names[] = {"code", "com", "com_and_code"};
  return names[static_cast<int>(failure)];
}

// Adds what makes `function` fail: a line of the counter-library double's
// script on the direct path, or KESTREL_SERVER_FAULT for a program built to
// take the server path.
inline void MakeCallFail(const std::string& function, Failure failure, std::string& script,
                         ProgramOptions& options) {
  if (failure == Failure::DirectCode)
    script += function == "Init" ? "init -9\n" : "fail " + function + " -9\n";
  else
    options.environment["KESTREL_SERVER_FAULT"] =
        failure == Failure::ServerCallFails ? function : function + ",21";
}

}  // namespace testing_support
