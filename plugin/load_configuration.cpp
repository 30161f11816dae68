// Reading the sources from the configuration file, row by row of the
// schema. Each section Source0, Source1, ... describes one source; the first
// section without an "ID" ends the list, so the numbering must have no gaps.
#include "configuration_schema.h"
#include "counter_api.h"
#include "data_sources.h"
#include "profile.h"

using namespace configuration;

int32_t CKestrelDataSources::LoadConfiguration(const platform::ProfileFile& file) {
  ClearSources();
  if (BindCounterApi() != 0) return 0;
  const Key& idKey = *FindKey(Section::kSource, kId);
  for (int32_t position = 0; position < kLastSourcePosition; ++position) {
    const std::string section = SourceSectionName(position);
    char id[kValueBufferSize];
    ReadSourceValue(file, section.c_str(), idKey, id);
    if (id[0] == '\0') return 1;

    KESTREL_DATA_SOURCE_DESC source{};
    CopyText(source.description, "Not Available");
    for (const Key& key : kKeys) {
      if (key.section != Section::kSource) continue;
      // The ID, read once already, comes first: the fallbacks ask its counter.
      char value[kValueBufferSize];
      if (&key != &idKey) ReadSourceValue(file, section.c_str(), key, value);
      Store(key, &key == &idKey ? id : value, source);
      char* field = reinterpret_cast<char*>(&source) + key.offset;
      if (key.fallback != nullptr && field[0] == '\0')
        key.fallback(CounterIndexOf(source, static_cast<uint32_t>(position)), field,
                     key.capacity);
    }
    sources_.push_back(source);
  }
  return 1;
}
