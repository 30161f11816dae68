#include "profile.h"

#include <windows.h>

#include <string>

namespace platform {

// Windows reads the file itself, afresh for every key.
struct ProfileFile::Contents {
  std::string path;
};

ProfileFile::ProfileFile(const char* path) : contents_(new Contents{path}) {}

ProfileFile::~ProfileFile() = default;

// An empty path would make Windows read win.ini: it stands for a missing file.
uint32_t ProfileFile::ReadString(const char* section, const char* key, const char* fallback,
                                 char* buffer, uint32_t size) const {
  if (contents_->path.empty()) {
    if (size == 0) return 0;
    lstrcpynA(buffer, fallback, static_cast<int>(size));
    return static_cast<uint32_t>(lstrlenA(buffer));
  }
  return GetPrivateProfileStringA(section, key, fallback, buffer, size, contents_->path.c_str());
}

int32_t ProfileFile::ReadInt(const char* section, const char* key, int32_t fallback) const {
  if (contents_->path.empty()) return fallback;
  return static_cast<int32_t>(
      GetPrivateProfileIntA(section, key, fallback, contents_->path.c_str()));
}

}  // namespace platform
