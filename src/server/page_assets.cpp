#include "server/page_assets.h"

namespace vantorel {

const PageAsset* FindPageAsset(const std::string& name) {
  for (std::size_t i = 0; i < kPageAssetCount; ++i) {
    if (name == kPageAssets[i].name) return &kPageAssets[i];
  }
  return nullptr;
}

}  // namespace vantorel
