// Number parsing and formatting shared by the programs. The rules follow
// scanf's "%d" and "%f" and printf's "%f", and never depend on the process's
// locale: the plug-in runs inside a host that may have chosen a decimal comma.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads the leading decimal integer of `text` as "%d" does: optional white
// space, an optional sign, then digits; anything after is ignored. A number
// beyond 32 bits wraps around. Returns false, leaving `*value` untouched,
// when `text` does not begin with such an integer.
bool ParseLeadingInt(const char* text, int32_t* value);

// Reads the leading decimal number of `text` as "%f" does into a float:
// optional white space, an optional sign, digits with an optional point and
// an optional exponent; anything after is ignored ("12.5 MHz" reads 12.5,
// and "100ergs" reads 100: an "e" without exponent digits ends the number).
// Too large a number reads as infinity, too small a one as zero. Returns
// false, leaving `*value` untouched, when `text` does not begin with one.
bool ParseLeadingFloat(const char* text, float* value);

// The same two, also storing in `*end` where the number ends (`text` itself
// when there is none), so that a caller can tell "12.5" from "12.5 MHz".
bool ParseLeadingInt(const char* text, int32_t* value, const char** end);
bool ParseLeadingFloat(const char* text, float* value, const char** end);

// Formats `value` as printf's "%f" does: fixed notation, six decimals, a
// point as separator ("inf", "nan" for those). Writes at most `size` - 1
// characters and a terminator; returns the number of characters written.
size_t FormatFixed(double value, char* buffer, size_t size);
