#include "ini_field.h"

namespace ini {

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the UTF-8 sequence that starts `text`, or 1 when it starts
// with a byte that begins none: a stray continuation byte, an overlong
// form, a surrogate, a code beyond U+10FFFF, or a sequence cut short.
size_t CharacterLength(std::string_view text) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  size_t length = lead < 0x80   ? 1
                  : lead < 0xC2 ? 0
                  : lead < 0xE0 ? 2
                  : lead < 0xF0 ? 3
                  : lead < 0xF5 ? 4
                                : 0;
  if (length <= 1 || text.size() < length) return 1;
  for (size_t i = 1; i < length; ++i)
    if (!IsContinuation(byte(i))) return 1;
  // The second byte's range that makes the code neither overlong, nor a
  // surrogate, nor too large.
  unsigned char second = byte(1);
  if (lead == 0xE0 && second < 0xA0) return 1;
  if (lead == 0xED && second >= 0xA0) return 1;
  if (lead == 0xF0 && second < 0x90) return 1;
  if (lead == 0xF4 && second >= 0x90) return 1;
  return length;
}

}  // namespace

size_t CharacterCount(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); i += CharacterLength(text.substr(i))) ++count;
  return count;
}

std::string_view KeptPart(std::string_view value, bool quoted, size_t size) {
  if (size == 0) return {};
  size_t room = size - 1;
  // Windows copies a quoted value with its closing quote, cut to the field,
  // and then drops the last character copied, meant to be that quote: when
  // the value alone fills the field, that is the value's own last
  // character. Windows counts UTF-16 units there, a character beyond U+FFFF
  // being two; a value holding one is longer still in bytes, so the byte
  // limit below cuts it first and the difference never shows.
  size_t characters = room;
  if (quoted && room > 0 && CharacterCount(value) == room) characters = room - 1;
  size_t kept = 0;
  for (size_t count = 0; kept < value.size() && count < characters; ++count) {
    size_t length = CharacterLength(value.substr(kept));
    if (kept + length > room) break;
    kept += length;
  }
  return value.substr(0, kept);
}

}  // namespace ini
