// The reading of one source, as the host polls it.
#include "counter_api.h"
#include "configuration_schema.h"
#include "counter_interface.h"
#include "data_sources.h"

namespace {

// Stand-ins for a reading, indistinguishable from real ones but for the first.
constexpr float kNoSource = 3.4028235e38f;  // the largest finite float
constexpr float kSampleFailed = 0.3f;
constexpr float kValueUnreadable = 0.4f;

using counter_interface::kTypeAttribute;
constexpr double kPercentScale = 100.0;

// Any type without a modifier leaves the reading as it is.
float ApplyModifier(float v, int32_t type, float f) {
  const configuration::Modifier* modifier = configuration::FindModifier(type);
  return modifier != nullptr ? modifier->apply(v, f) : v;
}

}  // namespace

double CKestrelDataSources::ComputeSourceValue(uint32_t index) const {
  const KESTREL_DATA_SOURCE_DESC* source = GetSourceAt(static_cast<int32_t>(index));
  if (source == nullptr) return kNoSource;
  uint32_t counter = CounterIndexOf(*source, index);

  uint32_t sampleCount = 0;  // the counter server takes it as the capacity
  if (CounterApiTable.Sample(nullptr, &sampleCount) != 0) return kSampleFailed;
  uint64_t value = 0;
  uint64_t cycles = 0;
  if (CounterApiTable.GetCounterValue(counter, 0, &value, &cycles) != 0) return kValueUnreadable;
  uint64_t type = 0;
  // Without its type the value cannot be told from a percentage: report it
  // raw, unmodified, in double precision.
  if (CounterApiTable.GetCounterAttribute(counter, kTypeAttribute, &type) != 0)
    return static_cast<double>(value);

  float reading;
  if (type != 0) {
    reading = static_cast<float>(static_cast<double>(value));
  } else {
    if (cycles == 0) return 0.0f;
    reading = static_cast<float>(static_cast<double>(value) / static_cast<double>(cycles) *
                                 kPercentScale);
  }
  return ApplyModifier(reading, source->modType, source->modFactor);
}
