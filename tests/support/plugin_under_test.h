// The plug-in as a user lays it out: a copy of the built module in a folder
// of its own, its configuration file beside it under the same name with
// ".cfg", and its log appearing there with ".log".
#pragma once

#include <filesystem>
#include <regex>
#include <string>

#include "scratch.h"

namespace testing_support {

class PluginFolder {
 public:
  // Copies the built plug-in in as `fileName` (by default, its own name).
  explicit PluginFolder(const std::string& fileName = "")
      : plugin_(dir_ / (fileName.empty() ? std::filesystem::path(KESTREL_PLUGIN).filename().string()
                                         : fileName)) {
    std::filesystem::copy_file(KESTREL_PLUGIN, plugin_);
  }
  void WriteConfiguration(const std::string& text) const { WriteFile(configuration(), text); }
  std::filesystem::path plugin() const { return plugin_; }
  std::filesystem::path configuration() const { return SameName(".cfg"); }
  std::filesystem::path log() const { return SameName(".log"); }
  bool HasLog() const { return std::filesystem::exists(log()); }
  std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

 private:
  std::filesystem::path SameName(const char* extension) const {
    return std::filesystem::path(plugin_).replace_extension(extension);
  }
  ScratchDir dir_;
  std::filesystem::path plugin_;
};

// The log's text with every line's time stamp checked and replaced by
// "<time> "; a line without a well-formed stamp is kept as it is, so the
// comparison shows it.
inline std::string LogWithoutTimeStamps(const std::string& log) {
  static const std::regex stamp(R"((^|\n)\d\d-\d\d-\d{4}, \d\d:\d\d:\d\d\.\d{3} )");
  return std::regex_replace(log, stamp, "$1<time> ");
}

}  // namespace testing_support
