// The configuration file's schema, written once: one row per key, one row
// per modifier, and the few rules of the file that are not the reader's.
// The plug-in loads its sources by these rows; `kestrelhost check` judges a
// file by them and `kestrelhost init` explains them in the header it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {
class ProfileFile;
}
struct KESTREL_DATA_SOURCE_DESC;

namespace configuration {

// [Settings] holds the plug-in's own settings.
inline constexpr char kSettings[] = "Settings";

// The sources are sections Source0, Source1, ..., read from 0 up to the
// first without an ID, and never beyond this position.
inline constexpr char kSourcePrefix[] = "Source";
inline constexpr int32_t kLastSourcePosition = 0x7FFFFFFF;

// What the loader reads an ID or a number into: a longer value is cut to
// one character less before it is parsed.
inline constexpr uint32_t kValueBufferSize = 260;

// The keys the code names itself, beyond reading them by their row.
inline constexpr char kLoggingLevel[] = "LoggingLevel";
inline constexpr char kId[] = "ID";  // ends the list when empty; picks the counter
inline constexpr char kModType[] = "ModType";
inline constexpr char kModFactor[] = "ModFactor";

enum class Section : uint8_t { kSettings, kSource };

enum class Kind : uint8_t {
  kText,     // copied, cut to its field
  kInteger,  // the leading integer ("%d"); a value without one reads 0
  kNumber,   // the leading number ("%f"); a value without one reads 0
};

// What a missing or empty text of a source falls back to; the counter's
// index chooses what to ask the counter library.
using Fallback = void (*)(uint32_t counter, char* field, size_t capacity);

struct Key {
  Section section;
  const char* name;
  Kind kind;
  // The record field a source's value lands in (KESTREL_DATA_SOURCE_DESC):
  // its offset, and for a text its capacity in bytes, terminator included.
  size_t offset;
  size_t capacity;
  // The buffer the reader is given. A text read into its own field loses a
  // character where a quoted value fills it, as the profile functions do.
  uint32_t readSize;
  Fallback fallback;         // null: a missing value stays empty or 0
  const char* fallbackText;  // what a missing key reads as, in words
  const char* help;          // one line; "{max}" stands for capacity - 1
};

// Every key, [Settings] first, then a source's in the order they are read.
extern const std::span<const Key> kKeys;

// The row of `name` (in any case) in `section`, or null.
const Key* FindKey(Section section, std::string_view name);

// The value of a source's key as the loader reads it from `section`
// ("Source3"): through the reader, into a buffer of the row's readSize.
void ReadSourceValue(const platform::ProfileFile& file, const char* section, const Key& key,
                     char (&value)[kValueBufferSize]);
std::string ReadSourceValue(const platform::ProfileFile& file, int32_t position, const Key& key);

// Stores `value` into the row's field of `record`: a text cut to its field,
// a number parsed ("%d", "%f"; a field stays as it is when `value` does not
// begin with one). Fallbacks are the loader's.
void Store(const Key& key, const char* value, KESTREL_DATA_SOURCE_DESC& record);

// "A, B and C": the names of a section's keys, for messages.
std::string KeyList(Section section);

// The help of a row, "{max}" filled in.
std::string HelpOf(const Key& key);

// How ModType changes a reading v with ModFactor f.
struct Modifier {
  int32_t type;
  const char* formula;  // "v * f"
  const char* does;     // "multiplies the reading by ModFactor"
  float (*apply)(float v, float f);
  // The factors for which every reading is 0, whatever the counter says.
  bool (*zeroesEverything)(float f);
};

extern const std::span<const Modifier> kModifiers;  // types 1 up, without gaps

// The modifier of `type`, or null: any other type leaves the reading as it is.
const Modifier* FindModifier(int32_t type);

// "Source3": the section the plug-in reads at `position`.
std::string SourceSectionName(int32_t position);

// The ID of the source at `position` as the loader reads it, into `id`; an
// empty one ends the list.
void ReadSourceId(const platform::ProfileFile& file, int32_t position,
                  char (&id)[kValueBufferSize]);

// The number of sources `file` holds: the position of the first section
// without an ID.
int32_t SourceListEnd(const platform::ProfileFile& file);

// A key whose name begins with ";" or "#", the usual comment marks: the
// format has no comments, but the plug-in never asks for such a name.
bool IsCommentedOut(std::string_view name);

// A ";" after a blank looks like the start of a comment, which the format
// does not have: unquoted, the whole text is kept all the same.
bool LooksLikeComment(std::string_view value);

}  // namespace configuration
