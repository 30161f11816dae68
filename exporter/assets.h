// The live page's files, built into the program (embed_assets.cmake).
#pragma once

#include <cstddef>
#include <string_view>

namespace exporter {

struct Asset {
  std::string_view path;         // where it is served ("/assets/kestrel.js")
  std::string_view contentType;
  std::string_view body;
};

extern const Asset kAssets[];
extern const size_t kAssetCount;

// The file served at `path`, or nullptr when there is none.
const Asset* AssetAt(std::string_view path);

}  // namespace exporter
