// The plug-in as a user lays it out: a copy of the built module in a folder
// of its own, its configuration file beside it under the same name with
// ".cfg", and its log appearing there with ".log".
#pragma once

#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>

#include "scratch.h"

namespace testing_support {

class PluginFolder {
 public:
  // Copies the built plug-in in as `fileName` (by default, its own name).
  explicit PluginFolder(const std::string& fileName = "");
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
std::string LogWithoutTimeStamps(const std::string& log);

// The plug-in loaded into this process, which then plays the monitoring host.
class LoadedPlugin {
 public:
  explicit LoadedPlugin(const std::filesystem::path& path);
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  uint32_t (*GetSourcesNum)() = nullptr;
  int32_t (*GetSourceDesc)(uint32_t index, void* record) = nullptr;
  int32_t (*GetSourceCaps)(uint32_t ignored, uint32_t capability, int32_t* result) = nullptr;
  float (*GetSourceData)(uint32_t index) = nullptr;

 private:
  void* module_ = nullptr;
};

inline uint32_t Bits(float value) { return std::bit_cast<uint32_t>(value); }

// Asks for a descriptor in a larger buffer, every byte but the version 0xCC,
// so that any byte the plug-in should not write shows. The answer, then each
// field after the version: a text up to its terminator, a number, or "-" for
// a field left as it was; "!" marks a byte written past a text's terminator
// (those are the host's), and a version written over ends it in "|version".
std::string Describe(const LoadedPlugin& plugin, uint32_t index, uint32_t version = 0x00010002);

}  // namespace testing_support
