#include "dehazefile/extension_names.h"

#include <algorithm>
#include <cctype>

namespace vantorel {

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool ExtensionIsOneOf(const std::string& extension, std::initializer_list<const char*> names) {
  const std::string lower = Lowercase(extension);
  return std::any_of(names.begin(), names.end(), [&lower](const char* name) { return lower == name; });
}

}  // namespace vantorel
