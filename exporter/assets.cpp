#include "assets.h"

namespace exporter {

const Asset* AssetAt(std::string_view path) {
  for (size_t i = 0; i < kAssetCount; ++i)
    if (kAssets[i].path == path) return &kAssets[i];
  return nullptr;
}

}  // namespace exporter
