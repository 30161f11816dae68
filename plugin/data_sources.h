// The configured data sources: the record of one source and the ordered list
// of them that the exports hand out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {
class ProfileFile;
}

// One configured source; configuration_schema.cpp says which key fills each
// field. Every text is NUL-terminated within its field.
struct KESTREL_DATA_SOURCE_DESC {
  char id[32];           // key "ID"
  char name[32];         // key "Name"
  char units[32];        // key "Dim"
  char description[64];  // always "Not Available"
  char group[16];        // key "Group"
  int32_t modType;       // key "ModType"
  float modFactor;       // key "ModFactor"
  float maxLimit;        // key "MaxLimit"
  float minLimit;        // key "MinLimit"
  float gridDim;         // key "GridDim"
};

// The counter a source reads: the leading integer of its ID or, for an ID
// that does not begin with one, the source's own position in the list. The
// loader, the descriptor and the reading all use this one rule.
uint32_t CounterIndexOf(const KESTREL_DATA_SOURCE_DESC& source, uint32_t position);

// Copies `text` into a field of `capacity` bytes: at most `capacity` - 1
// characters, always terminated. Reads no further than that, so `text` need
// not be terminated when it is longer.
void CopyText(char* field, size_t capacity, const char* text);

template <size_t N>
void CopyText(char (&field)[N], const char* text) {
  CopyText(field, N, text);
}

class CKestrelDataSources {
 public:
  CKestrelDataSources() = default;
  ~CKestrelDataSources();  // clears the list, with its counter calls
  CKestrelDataSources(const CKestrelDataSources&) = delete;
  CKestrelDataSources& operator=(const CKestrelDataSources&) = delete;

  // Clears the list, binds the counter API and reads sections Source0,
  // Source1, ... of `file` until one lacks an "ID". Returns 1 when the file
  // was read (whatever it held), 0 when binding failed (the list stays empty).
  int32_t LoadConfiguration(const platform::ProfileFile& file);

  // Frees every record, then calls RemoveAllCounters and Shutdown, also when
  // the list is already empty.
  void ClearSources();

  // The record at `position`, or null when it is negative or not below Count().
  const KESTREL_DATA_SOURCE_DESC* GetSourceAt(int32_t position) const;

  int32_t Count() const { return static_cast<int32_t>(sources_.size()); }

  // The current reading of the source at `index`: sample, read value, cycles
  // and type, form the raw value or the percentage, apply the modifier.
  // Fixed values stand in for what cannot be read.
  double ComputeSourceValue(uint32_t index) const;

 private:
  std::vector<KESTREL_DATA_SOURCE_DESC> sources_;
};
