// What of a value a field keeps, and how its characters are counted.
#include "ini_field.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

namespace {

using ini::CharacterCount;
using ini::KeptPart;

TEST(CharacterCount, CountsEachUtf8SequenceOnce) {
  EXPECT_EQ(CharacterCount(""), 0u);
  EXPECT_EQ(CharacterCount("abc"), 3u);
  EXPECT_EQ(CharacterCount("a\u00e9\u6e29\U0001F600"), 4u);  // 1, 2, 3 and 4 bytes
}

// Such bytes come from files in another code page, where each is one
// character.
TEST(CharacterCount, CountsEachByteOfNoUtf8SequenceOnce) {
  EXPECT_EQ(CharacterCount("\xE9t\xE9"), 3u);         // Latin-1
  EXPECT_EQ(CharacterCount("\xA9"), 1u);              // a continuation alone
  EXPECT_EQ(CharacterCount("\xC0\xAF"), 2u);          // overlong
  EXPECT_EQ(CharacterCount("\xE0\x9F\xBF"), 3u);      // overlong
  EXPECT_EQ(CharacterCount("\xED\xA0\x80"), 3u);      // a surrogate
  EXPECT_EQ(CharacterCount("\xF4\x90\x80\x80"), 4u);  // beyond U+10FFFF
  EXPECT_EQ(CharacterCount("\xF8\x88\x80\x80\x80"), 5u);
  EXPECT_EQ(CharacterCount("\xE6\xB8"), 2u);  // cut short
  EXPECT_EQ(CharacterCount("\xE6\xB8z"), 3u);
  EXPECT_EQ(CharacterCount("\xED\x9F\xBF\xF4\x8F\xBF\xBF"), 2u);  // U+D7FF, U+10FFFF
}

// Every field size over a value of 1-, 2-, 3- and 4-byte characters: the
// most whole characters that fit in `size` - 1 bytes.
TEST(KeptPart, CutsBetweenCharacters) {
  const std::string_view value = "a\u00e9\u6e29\U0001F600b";
  // The first size that keeps each length, from none to all.
  const size_t firstSize[] = {0, 2, 4, 7, 11, 12};
  const size_t length[] = {0, 1, 3, 6, 10, 11};
  size_t which = 0;
  for (size_t size = 0; size <= 14; ++size) {
    if (which + 1 < std::size(firstSize) && size == firstSize[which + 1]) ++which;
    EXPECT_EQ(KeptPart(value, false, size), value.substr(0, length[which])) << "size " << size;
  }
}

TEST(KeptPart, CutsBytesOfNoUtf8SequenceOneByOne) {
  EXPECT_EQ(KeptPart("\xE9t\xE9t\xE9", false, 4), "\xE9t\xE9");
  EXPECT_EQ(KeptPart("a\xE6\xB8z", false, 3), "a\xE6");
}

// Windows drops the last character of a quoted value that fills the field
// in characters, not in bytes.
TEST(KeptPart, QuotedValueFillingTheFieldInCharactersLosesItsLast) {
  EXPECT_EQ(KeptPart("abc", true, 4), "ab");
  EXPECT_EQ(KeptPart("abc", true, 5), "abc");
  EXPECT_EQ(KeptPart("abc", true, 3), "ab");
  EXPECT_EQ(KeptPart("abc", false, 4), "abc");
  EXPECT_EQ(KeptPart("a\u00e9", true, 4), "a\u00e9");  // fills it in bytes only
  EXPECT_EQ(KeptPart("\u00e9\u00e9\u00e9", true, 4),
            "\u00e9");  // and in characters: two fit no more
  EXPECT_EQ(KeptPart("", true, 1), "");
}

}  // namespace
