// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace fuzz {

// A file of this process's own, rewritten for every input: the readers under
// test take a path.
inline const char* WriteInputFile(const uint8_t* data, size_t size) {
  static const std::string path =
      std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/kestrel-fuzz-" +
      std::to_string(static_cast<long>(getpid())) + ".cfg";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  return path.c_str();
}

// Stops the run, so the fuzzer keeps the input, when an invariant fails.
inline void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace fuzz
