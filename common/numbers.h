// Number parsing shared by the programs. The rules follow scanf's "%d" and
// never depend on the process's locale.
#pragma once

#include <cstdint>

// Reads the leading decimal integer of `text` as "%d" does: optional white
// space, an optional sign, then digits; anything after is ignored. A number
// beyond 32 bits wraps around. Returns false, leaving `*value` untouched,
// when `text` does not begin with such an integer.
bool ParseLeadingInt(const char* text, int32_t* value);
