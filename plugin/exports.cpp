// The four entry points the monitoring host calls. The host first asks for
// the number of sources, then for each source's descriptor (which enables its
// counter), then polls values. The configuration is loaded on the first of
// these calls that finds the list empty, and only then.
#include <cstdio>

#include "configuration_schema.h"
#include "counter_api.h"
#include "data_sources.h"
#include "log.h"
#include "module.h"
#include "monitoring_source_desc.h"
#include "numbers.h"
#include "platform_abi.h"
#include "plugin_state.h"
#include "profile.h"

namespace {

constexpr uint32_t kCapabilityOne = 1;  // the one capability the plug-in has

// The lazy load: the configuration file next to the plug-in, then the logging
// level from the same file, whether or not sources were found.
void LoadConfigurationFile() {
  char path[platform::kMaxPath];
  if (!PluginFilePath(".cfg", path)) path[0] = '\0';  // reads as a missing file
  platform::ProfileFile file(path);
  TheSources->LoadConfiguration(file);
  LoggingLevel = file.ReadInt(configuration::kSettings, configuration::kLoggingLevel, 0);
}

void LogSourceValue(uint32_t index, float value) {
  const KESTREL_DATA_SOURCE_DESC* source = TheSources->GetSourceAt(static_cast<int32_t>(index));
  char number[64];
  FormatFixed(value, number, sizeof number);
  char text[kLogTextSize];
  FormatLogText(text, "GetSourceData(%u) - %s -  %s", index,
                source != nullptr ? source->name : "(none)", number);
  WriteLogLine(text, kAppend);
}

}  // namespace

extern "C" {

KESTREL_EXPORT uint32_t KESTREL_CDECL GetSourcesNum() {
  if (TheSources->Count() == 0) LoadConfigurationFile();
  // Bound afresh on every call, also long after the load.
  if (BindCounterApi() != 0) return 0;
  uint32_t count = static_cast<uint32_t>(TheSources->Count());
  if (LoggingLevel != 0) {
    WriteLogLine("GetSourcesNum() called", kNewLog);
    char text[260];
    std::snprintf(text, sizeof text, "%u returned", count);
    WriteLogLine(text, kAppend);
  }
  return count;
}

// Fills the descriptor and enables the source's counter: 1 when both were
// done, 0 otherwise (a refused counter still leaves the descriptor filled).
KESTREL_EXPORT int32_t KESTREL_CDECL GetSourceDesc(uint32_t index, MonitoringSourceDesc* desc) {
  if (desc == nullptr) return 0;
  // Outside the monitoring host the plug-in describes nothing.
  if (!platform::MainExecutableExports("GetHostAppID")) return 0;
  if (TheSources->Count() == 0) LoadConfigurationFile();
  if (index >= static_cast<uint32_t>(TheSources->Count())) return 0;
  const KESTREL_DATA_SOURCE_DESC* source = TheSources->GetSourceAt(static_cast<int32_t>(index));
  if (source == nullptr) return 0;

  CopyText(desc->name, source->name);
  CopyText(desc->units, source->units);
  desc->maxLimit = source->maxLimit;
  desc->minLimit = source->minLimit;
  desc->gridDim = source->gridDim;
  if (desc->version >= kFirstVersionWithGroup) CopyText(desc->group, source->group);
  CopyText(desc->description, source->description);
  return CounterApiTable.AddCounter(CounterIndexOf(*source, index)) == 0 ? 1 : 0;
}

KESTREL_EXPORT int32_t KESTREL_CDECL GetSourceCaps(uint32_t, uint32_t capability, int32_t* result) {
  if (capability != kCapabilityOne || result == nullptr) return 0;
  *result = 1;
  return 1;
}

KESTREL_EXPORT float KESTREL_CDECL GetSourceData(uint32_t index) {
  float value = static_cast<float>(TheSources->ComputeSourceValue(index));
  if (LoggingLevel != 0) LogSourceValue(index, value);
  return value;
}

}  // extern "C"
