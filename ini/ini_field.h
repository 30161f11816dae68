// How much of a value a field of a given size keeps, as the configuration
// reader on systems without Windows' profile functions cuts it, and how many
// characters a value has, for telling people what a field keeps of it.
//
// A value is text in UTF-8 (a UTF-16 file is turned into UTF-8 as it is
// read). Windows cuts a value from a file with a byte-order mark to the
// field in characters, then hands it over in the ANSI code page, one byte a
// character in the Western ones; here the field's bytes hold UTF-8, where a
// character takes one to four. So a field keeps the characters Windows
// keeps, as many of them as fit whole: never part of one, which would reach
// the host (and its log) as a byte that opens a character and then ends the
// text. (A file without a mark Windows reads in the ANSI code page, byte by
// byte, so UTF-8 in it reads wrong there anyway; here it is cut the same
// way as any other.)
#pragma once

#include <cstddef>
#include <string_view>

namespace ini {

// The characters of `text`: each UTF-8 sequence is one, and so is each byte
// that is not part of one (such a byte is a character of some other code
// page, as in an ANSI file written on Windows).
size_t CharacterCount(std::string_view text);

// The first part of `value` that a field of `size` bytes, its terminating
// NUL included, keeps: at most `size` - 1 bytes, cut between characters.
// A `quoted` value (one whose quotes were removed) of exactly `size` - 1
// characters loses its last character, as Windows drops it.
std::string_view KeptPart(std::string_view value, bool quoted, size_t size);

}  // namespace ini
