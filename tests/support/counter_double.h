// Drives the counter-library double from a test: writes its script and reads
// back the calls it received. The double reads both file names from the
// environment, so this works in this process and in any child it starts.
#pragma once

#include <string>
#include <vector>

#include "scratch.h"

namespace testing_support {

class CounterDouble {
 public:
  // Points the double at a fresh script (empty: Init succeeds, no counters)
  // and an empty call record.
  CounterDouble();
  // Replaces the script; read again by the double at its next loader run.
  void SetScript(const std::string& script);
  std::vector<std::string> Calls() const;
  // The call record with every pointer written as P, for comparing with a
  // checked-in expectation.
  std::string NormalizedCalls() const;
  // The normalised record without the loader's NVPMQueryInterface lines:
  // each binding shows as its Init.
  std::string CallsWithoutQueries() const;
  void ClearCalls();
  const std::filesystem::path& callsPath() const { return calls_; }

 private:
  ScratchDir dir_;
  std::filesystem::path script_;
  std::filesystem::path calls_;
};

// The pointer a call record line shows for `pointer`.
std::string RecordedPointer(const void* pointer);

}  // namespace testing_support
