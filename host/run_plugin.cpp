// kestrelhost PLUGIN: loads a data-source plug-in the way the monitoring host
// does, prints its sources' descriptors as a table and polls their values.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "module.h"
#include "monitoring_source_desc.h"
#include "platform.h"
#include "platform_abi.h"

namespace {

struct Plugin {
  uint32_t(KESTREL_CDECL* GetSourcesNum)();
  int32_t(KESTREL_CDECL* GetSourceDesc)(uint32_t, MonitoringSourceDesc*);
  int32_t(KESTREL_CDECL* GetSourceCaps)(uint32_t, uint32_t, int32_t*);
  float(KESTREL_CDECL* GetSourceData)(uint32_t);
};

struct Options {
  const char* plugin = nullptr;
  uint32_t polls = 1;
  uint32_t intervalMs = 1000;
};

// A whole argument of decimal digits.
bool ParseCount(const char* text, uint32_t* value) {
  uint64_t number = 0;
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    number = number * 10 + static_cast<uint64_t>(*text - '0');
    if (number > UINT32_MAX) return false;
  }
  *value = static_cast<uint32_t>(number);
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--polls") == 0 && i + 1 < argc) {
      if (!ParseCount(argv[++i], &options->polls)) return false;
    } else if (std::strcmp(argv[i], "--interval") == 0 && i + 1 < argc) {
      if (!ParseCount(argv[++i], &options->intervalMs)) return false;
    } else if (options->plugin == nullptr && argv[i][0] != '-') {
      options->plugin = argv[i];
    } else {
      return false;
    }
  }
  return options->plugin != nullptr;
}

template <class Function>
bool Resolve(void* module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(platform::FindExport(module, name));
  return *function != nullptr;
}

const char* MissingExport(void* module, Plugin* plugin) {
  if (!Resolve(module, "GetSourcesNum", &plugin->GetSourcesNum)) return "GetSourcesNum";
  if (!Resolve(module, "GetSourceDesc", &plugin->GetSourceDesc)) return "GetSourceDesc";
  if (!Resolve(module, "GetSourceCaps", &plugin->GetSourceCaps)) return "GetSourceCaps";
  if (!Resolve(module, "GetSourceData", &plugin->GetSourceData)) return "GetSourceData";
  return nullptr;
}

const char* FileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

void DescribeSources(const Plugin& plugin, uint32_t count) {
  std::printf("%-3s %-31s %-12s %12s %12s %12s  %-15s %-8s %s\n", "#", "Name", "Units", "Min",
              "Max", "Grid", "Group", "Counter", "Description");
  for (uint32_t index = 0; index < count; ++index) {
    MonitoringSourceDesc desc{};
    desc.version = kFirstVersionWithGroup;
    int32_t enabled = plugin.GetSourceDesc(index, &desc);
    std::printf("%-3" PRIu32 " %-31s %-12s %12g %12g %12g  %-15s %-8s %s\n", index, desc.name,
                desc.units, desc.minLimit, desc.maxLimit, desc.gridDim, desc.group,
                enabled ? "enabled" : "refused", desc.description);
  }
}

void PollSources(const Plugin& plugin, uint32_t count, uint32_t round) {
  std::printf("\nPoll %" PRIu32 "\n", round);
  for (uint32_t index = 0; index < count; ++index) {
    float value = plugin.GetSourceData(index);
    std::printf("%-3" PRIu32 " %-14g 0x%08" PRIX32 "\n", index, value, Bits(value));
  }
}

}  // namespace

int RunPlugin(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return Usage();

  void* module = platform::LoadPlugin(options.plugin);
  if (module == nullptr) {
    std::fprintf(stderr, "kestrelhost: cannot load %s: %s\n", options.plugin,
                 platform::LastLoadError());
    return 1;
  }
  Plugin plugin{};
  if (const char* missing = MissingExport(module, &plugin)) {
    std::fprintf(stderr, "kestrelhost: %s is not a data-source plug-in: it lacks %s\n",
                 options.plugin, missing);
    platform::UnloadPlugin(module);
    return 1;
  }

  uint32_t count = plugin.GetSourcesNum();
  std::printf("%s: %" PRIu32 " source%s\n", FileName(options.plugin), count, count == 1 ? "" : "s");
  if (count == 0) {
    std::printf(
        "Is there a configuration file beside the plug-in, under its name with .cfg,\n"
        "with a section Source0 that has an ID? Can the counter library be found?\n");
  } else {
    std::printf("\n");
    DescribeSources(plugin, count);
  }
  for (uint32_t round = 1; count > 0 && round <= options.polls; ++round) {
    if (round > 1) {
      std::fflush(stdout);
      platform::SleepMilliseconds(options.intervalMs);
    }
    PollSources(plugin, count, round);
  }
  std::fflush(stdout);
  platform::UnloadPlugin(module);
  return 0;
}
