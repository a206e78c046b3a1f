// Comparing file extensions, which name formats whatever their case.
#pragma once

#include <initializer_list>
#include <string>

namespace vantorel {

// The text in lower case (ASCII letters only; other bytes as they are).
std::string Lowercase(std::string text);

// Whether `extension` is one of `names` (given in lower case), in any case.
bool ExtensionIsOneOf(const std::string& extension, std::initializer_list<const char*> names);

}  // namespace vantorel
