// The counter library as kestrelhost's own commands reach it: through the
// counter table, bound and shut down as the programs do.
#pragma once

#include <cstdint>
#include <string>

// Binds the counter table and asks for the number of counters. False, with
// `why` in words, when either fails; the table is shut down again then.
bool OpenCounters(uint32_t* count, std::string* why);

// Shutdown, as every program does at the end.
void CloseCounters();

// A result code as the programs print it: unsigned, so -2 is 4294967294.
std::string ResultCode(int32_t code);
