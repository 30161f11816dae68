// The configuration reader's lookups with arbitrary section and key names
// and buffer sizes. Input: two bytes of buffer size, then the section name
// and the key name, each ended by a NUL byte, then the file.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint32_t bufferSize = (data[0] | (data[1] << 8)) % 600;
  std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  size_t sectionEnd = rest.find('\0');
  if (sectionEnd == std::string::npos) return 0;
  size_t keyEnd = rest.find('\0', sectionEnd + 1);
  if (keyEnd == std::string::npos) return 0;
  std::string section = rest.substr(0, sectionEnd);
  std::string key = rest.substr(sectionEnd + 1, keyEnd - sectionEnd - 1);
  std::string content = rest.substr(keyEnd + 1);

  platform::ProfileFile file(
      fuzz::WriteInputFile(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
  // Exactly the size given, so a write past it is caught.
  std::unique_ptr<char[]> buffer(new char[bufferSize == 0 ? 1 : bufferSize]);
  uint32_t copied =
      file.ReadString(section.c_str(), key.c_str(), "fallback", buffer.get(), bufferSize);
  if (bufferSize == 0) {
    fuzz::Require(copied == 0, "nothing fits a buffer of size 0");
  } else {
    fuzz::Require(copied < bufferSize, "the copy leaves room for the terminator");
    fuzz::Require(buffer[copied] == '\0', "the copy is terminated");
  }
  file.ReadInt(section.c_str(), key.c_str(), 7);
  return 0;
}
