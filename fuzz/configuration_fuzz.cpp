// Arbitrary bytes as the plug-in's configuration file: read by the
// configuration reader, loaded into the source list with the counter-library
// double behind it, and every source described and read.
#include <cstring>

#include "data_sources.h"
#include "fuzz_input.h"
#include "profile.h"

namespace {

template <size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, '\0', N) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One list for the whole run, as in the plug-in, reloaded for every input.
  static CKestrelDataSources* sources = new CKestrelDataSources;
  platform::ProfileFile file(fuzz::WriteInputFile(data, size));
  sources->LoadConfiguration(file);
  file.ReadInt("Settings", "LoggingLevel", 0);
  for (int32_t i = -1; i <= sources->Count(); ++i) {
    const KESTREL_DATA_SOURCE_DESC* source = sources->GetSourceAt(i);
    fuzz::Require((source != nullptr) == (i >= 0 && i < sources->Count()), "GetSourceAt range");
    if (source != nullptr) {
      fuzz::Require(Terminated(source->id) && Terminated(source->name) &&
                        Terminated(source->units) && Terminated(source->group) &&
                        Terminated(source->description),
                    "every text ends inside its field");
      fuzz::Require(source->id[0] != '\0', "a source has an ID");
    }
    sources->ComputeSourceValue(static_cast<uint32_t>(i));
  }
  return 0;
}
