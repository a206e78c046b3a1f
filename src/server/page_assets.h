// The web page's files (src/server/page), compiled into the executable by
// cmake/EmbedFiles.cmake so that the server needs nothing from disk or the network.
#pragma once

#include <cstddef>
#include <string>

namespace vantorel {

struct PageAsset {
  const char* name;            // the file's name in src/server/page, e.g. "page.js"
  const unsigned char* bytes;  // its content
  std::size_t size;            // in bytes
};

extern const PageAsset kPageAssets[];
extern const std::size_t kPageAssetCount;

// The asset with this name, or nullptr.
const PageAsset* FindPageAsset(const std::string& name);

}  // namespace vantorel
