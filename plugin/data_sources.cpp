#include "data_sources.h"

#include <cstring>

#include "counter_api.h"
#include "numbers.h"

uint32_t CounterIndexOf(const KESTREL_DATA_SOURCE_DESC& source, uint32_t position) {
  int32_t counter = static_cast<int32_t>(position);
  ParseLeadingInt(source.id, &counter);
  return static_cast<uint32_t>(counter);
}

void CopyText(char* field, size_t capacity, const char* text) {
  const void* end = std::memchr(text, '\0', capacity - 1);
  size_t length =
      end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : capacity - 1;
  std::memcpy(field, text, length);
  field[length] = '\0';
}

CKestrelDataSources::~CKestrelDataSources() { ClearSources(); }

void CKestrelDataSources::ClearSources() {
  sources_.clear();
  sources_.shrink_to_fit();
  // Results ignored: the counters of a list that is gone are of no interest.
  CounterApiTable.RemoveAllCounters();
  CounterApiTable.Shutdown();
}

const KESTREL_DATA_SOURCE_DESC* CKestrelDataSources::GetSourceAt(int32_t position) const {
  if (position < 0 || position >= Count()) return nullptr;
  return &sources_[static_cast<size_t>(position)];
}
