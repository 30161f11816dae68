#include "plugin_under_test.h"

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

fs::path PluginFolder::SameName(const char* extension) const {
  return fs::path(plugin_).replace_extension(extension);
}

void PluginFolder::WriteConfiguration(const std::string& text) const {
  WriteFile(configuration(), text);
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

LoadedPlugin::~LoadedPlugin() { Unload(); }

void LoadedPlugin::Unload() {
  if (module_ != nullptr) platform::UnloadPlugin(module_);
  module_ = nullptr;
}

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

}  // namespace testing_support
