// Reading a configuration file whole. The configuration reader on systems
// without Windows' profile functions takes the file only through this, and
// `kestrelhost check` too, so a file that one refuses the other refuses.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// A configuration is a few kilobytes; a larger file than this is refused
// rather than allowed to fill memory.
inline constexpr size_t kLargestConfigurationFile = 64u << 20;

// Only a regular file (or a link to one) is read: a FIFO would block, a
// device might never end. On failure `text` is empty and `why`, when given,
// says in a few words what is wrong ("it is a directory"). The text comes
// decoded as ini::DecodeText says: without a UTF-8 byte-order mark, and
// UTF-16 turned into UTF-8.
bool ReadConfigurationText(const char* path, std::string* text, std::string* why);

}  // namespace platform
