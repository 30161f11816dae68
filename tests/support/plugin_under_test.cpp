#include "plugin_under_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <stdexcept>

#include "module.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace testing_support {

PluginFolder::PluginFolder(const std::string& fileName)
    : plugin_(dir_ / (fileName.empty() ? fs::path(KESTREL_PLUGIN).filename().string() : fileName)) {
  fs::copy_file(KESTREL_PLUGIN, plugin_);
}

std::string LogWithoutTimeStamps(const std::string& log) {
  static const std::regex stamp(R"((^|\n)\d\d-\d\d-\d{4}, \d\d:\d\d:\d\d\.\d{3} )");
  return std::regex_replace(log, stamp, "$1<time> ");
}

LoadedPlugin::LoadedPlugin(const fs::path& path) {
  module_ = platform::LoadPlugin(path.string().c_str());
  if (module_ == nullptr) throw std::runtime_error(platform::LastLoadError());
  auto resolve = [this](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
        platform::FindExport(module_, name));
    if (function == nullptr) throw std::runtime_error(std::string("no export ") + name);
  };
  resolve(GetSourcesNum, "GetSourcesNum");
  resolve(GetSourceDesc, "GetSourceDesc");
  resolve(GetSourceCaps, "GetSourceCaps");
  resolve(GetSourceData, "GetSourceData");
}

LoadedPlugin::~LoadedPlugin() { platform::UnloadPlugin(module_); }

std::string Describe(const LoadedPlugin& plugin, uint32_t index, uint32_t version) {
  unsigned char record[200];
  std::memset(record, 0xCC, sizeof record);
  std::memcpy(record, &version, sizeof version);
  std::string shown = std::to_string(plugin.GetSourceDesc(index, record));
  auto untouched = [](const unsigned char* from, const unsigned char* to) {
    return std::all_of(from, to, [](unsigned char b) { return b == 0xCC; });
  };
  const unsigned char* field = record + 4;
  for (size_t size : {32, 32, 4, 4, 4, 64, 16, 40}) {
    const auto length = static_cast<size_t>(std::find(field, field + size, '\0') - field);
    const bool endsClean = length < size && untouched(field + length + 1, field + size);
    float number;
    std::memcpy(&number, field, sizeof number);
    // Appended piece by piece: GCC 12 warns falsely about `"x" + std::string`.
    shown += '|';
    if (untouched(field, field + size))
      shown += '-';
    else if (size == 4)
      shown += testing::PrintToString(number);
    else
      shown.append(reinterpret_cast<const char*>(field), length).append(endsClean ? "" : "!");
    field += size;
  }
  return shown + (std::memcmp(record, &version, sizeof version) == 0 ? "" : "|version");
}

}  // namespace testing_support
