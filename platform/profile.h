// Reading an INI-style configuration file the way Windows' profile functions
// (GetPrivateProfileStringA, GetPrivateProfileIntA) read it, so one file
// means the same on every system:
//   - section and key names match case-insensitively, after trimming blanks;
//   - a line "[name]" opens a section (the name stands between "[" and the
//     last "]"; the rest of the line is ignored); keys before any section
//     belong to none;
//   - the first "=" splits key from value; blanks around both are trimmed;
//     one pair of matching quotes ("..." or '...') around a value of two or
//     more characters is removed; a line without "=" holds no key;
//   - ";" is an ordinary character;
//   - the first of duplicate keys wins; of duplicate sections only the first
//     is searched;
//   - lines end at LF, CRLF or CR;
//   - a missing file, section or key gives the default.
// On Windows the system's functions do the reading; elsewhere the file is
// read and parsed once, when the object is made.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

class ProfileFile {
 public:
  // A file that cannot be read reads as an empty one.
  explicit ProfileFile(const char* path);
  ~ProfileFile();
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

  // Copies the value of `key` in `section`, or `fallback` when there is none,
  // into `buffer`, cut to `size` - 1 characters and terminated. Returns the
  // number of characters copied.
  uint32_t ReadString(const char* section, const char* key, const char* fallback, char* buffer,
                      uint32_t size) const;

  // The value of `key` in `section` as an integer: optional blanks, an
  // optional sign, then decimal digits, or hex digits after "0x"; it stops at
  // the first other character. `fallback` when the key is missing or empty.
  int32_t ReadInt(const char* section, const char* key, int32_t fallback) const;

 private:
  struct Contents;
  std::unique_ptr<Contents> contents_;
};

}  // namespace platform
