// Reading an INI-style configuration file the way Windows' profile functions
// (GetPrivateProfileStringA, GetPrivateProfileIntA) read it, so one file
// means the same on every system:
//   - a UTF-8 byte-order mark is skipped; a file with a UTF-16 byte-order
//     mark is read as UTF-16 (Windows hands its text over in the ANSI code
//     page, Linux in UTF-8);
//   - section and key names match case-insensitively, after trimming blanks
//     (space, tab, vertical tab, form feed, Ctrl-Z);
//   - a line "[name]" opens a section (the name stands between "[" and the
//     last "]"; the rest of the line is ignored); keys before any section
//     belong to a section named "";
//   - the first "=" splits key from value; blanks around both are trimmed;
//     one pair of matching quotes ("..." or '...') around a value of two or
//     more characters is removed, but a quoted value that exactly fills the
//     buffer, counted in characters, loses its last character;
//   - a line without "=" is a key without a value: it reads as missing, and
//     hides a later key of the same name;
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
  // number of bytes copied. Windows gives text in the ANSI code page (one
  // byte a character in the Western ones); other systems give UTF-8, cut
  // where Windows cuts it, or sooner and between characters where that
  // would not fit in `size` - 1 bytes (see ini_field.h).
  uint32_t ReadString(const char* section, const char* key, const char* fallback, char* buffer,
                      uint32_t size) const;

  // The value of `key` in `section` as an integer: its first 29 characters
  // are read; control characters and blanks, an optional sign, then decimal
  // digits, or binary, octal or hex digits after "0b", "0o" or "0x" (lower
  // case only); it stops at the first other character and wraps around
  // beyond 32 bits. `fallback` when the key is missing or empty.
  int32_t ReadInt(const char* section, const char* key, int32_t fallback) const;

 private:
  struct Contents;
  std::unique_ptr<Contents> contents_;
};

}  // namespace platform
