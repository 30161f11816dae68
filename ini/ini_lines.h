// The line-level rules of the configuration format (platform/profile.h lists
// them), in one place: the reader on systems without Windows' profile
// functions builds its lookups from them, and `kestrelhost check` walks a
// file with them line by line, so both see the same sections, keys and
// values on the same lines.
#pragma once

#include <string>
#include <string_view>

namespace ini {

// The next line of `text`, which loses it and its end (LF, CRLF or CR).
std::string_view NextLine(std::string_view& text);

struct Line {
  enum class Kind {
    kNone,     // blank: nothing
    kSection,  // "[name]"
    kKey,      // "key=value", or a name alone (see `bare`)
  };
  Kind kind = Kind::kNone;
  std::string_view text;   // the line without its leading blanks
  std::string_view name;   // a section's or a key's name, trimmed
  std::string_view value;  // a key's value as it reads: trimmed, unquoted, up to a NUL
  bool quoted = false;     // a pair of quotes was removed from the value
  // A line without "=" is a key without a value: it reads as missing, and
  // as the first of its name it hides any later key of that name.
  bool bare = false;
};

Line ParseLine(std::string_view line);

// The text of a configuration file as the lines above are read from: a
// UTF-8 byte-order mark is dropped, and a file that begins with a UTF-16
// byte-order mark (either byte order) is turned into UTF-8. Any other file
// is taken byte for byte.
std::string DecodeText(std::string bytes);

// Blanks are space, tab, vertical tab, form feed, and Ctrl-Z (the old DOS
// end-of-file mark, which editors still leave at the end of a file).
bool IsBlank(char c);
std::string_view Strip(std::string_view text);

// One pair of matching quotes ("..." or '...') around a value of two or
// more characters: the reader removes them.
bool IsQuoted(std::string_view value);

// Names match in any case (ASCII letters only, as the profile functions do).
bool SameName(std::string_view a, std::string_view b);
std::string LowerName(std::string_view name);

}  // namespace ini
