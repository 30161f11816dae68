// Reading the sources from the configuration file. Each section Source0,
// Source1, ... describes one source; the first section without an "ID" ends
// the list, so the numbering must have no gaps.
#include <cstdio>

#include "configuration_rules.h"
#include "counter_api.h"
#include "counter_interface.h"
#include "data_sources.h"
#include "numbers.h"
#include "profile.h"

namespace {

using counter_interface::kTypeAttribute;
constexpr uint32_t kCounterNameSize = counter_interface::kNameBufferSize;
using namespace configuration;

class SectionReader {
 public:
  SectionReader(const platform::ProfileFile& file, int32_t position) : file_(file) {
    std::snprintf(section_, sizeof section_, "%s%d", kSourcePrefix, position);
  }

  template <size_t N>
  void Text(const char* key, char (&field)[N]) const {
    file_.ReadString(section_, key, "", field, N);
  }

  // "%f": a value that does not begin with a number leaves the field at zero.
  void Float(const char* key, float* field) const {
    char text[kValueBufferSize];
    Text(key, text);
    ParseLeadingFloat(text, field);
  }

  void Int(const char* key, int32_t* field) const {
    char text[kValueBufferSize];
    Text(key, text);
    ParseLeadingInt(text, field);
  }

 private:
  const platform::ProfileFile& file_;
  char section_[32];
};

// The counter's own short name, else "Unknown".
void NameFromCounter(uint32_t counter, char (&name)[32]) {
  char counterName[kCounterNameSize];
  uint32_t length = kCounterNameSize;
  if (CounterApiTable.GetCounterName(counter, counterName, &length) == 0)
    CopyText(name, counterName);  // a name without terminator is cut all the same
  else
    CopyText(name, "Unknown");
}

void UnitsFromCounterType(uint32_t counter, char (&units)[32]) {
  uint64_t type = 0;
  if (CounterApiTable.GetCounterAttribute(counter, kTypeAttribute, &type) != 0)
    CopyText(units, "?");
  else
    CopyText(units, type != 0 ? "Raw" : "%");
}

}  // namespace

int32_t CKestrelDataSources::LoadConfiguration(const platform::ProfileFile& file) {
  ClearSources();
  if (BindCounterApi() != 0) return 0;
  for (int32_t position = 0; position < kLastSourcePosition; ++position) {
    SectionReader section(file, position);
    char id[kValueBufferSize];
    section.Text(kId, id);
    if (id[0] == '\0') return 1;

    KESTREL_DATA_SOURCE_DESC source{};
    CopyText(source.id, id);  // an ID too long for its field is cut like every other text
    uint32_t counter = CounterIndexOf(source, static_cast<uint32_t>(position));
    section.Text(kName, source.name);
    if (source.name[0] == '\0') NameFromCounter(counter, source.name);
    CopyText(source.description, "Not Available");
    section.Text(kDim, source.units);
    if (source.units[0] == '\0') UnitsFromCounterType(counter, source.units);
    section.Float(kMaxLimit, &source.maxLimit);
    section.Float(kMinLimit, &source.minLimit);
    section.Float(kGridDim, &source.gridDim);
    section.Text(kGroup, source.group);
    section.Int(kModType, &source.modType);
    section.Float(kModFactor, &source.modFactor);
    sources_.push_back(source);
  }
  return 1;
}
