// The query parameters of the HTTP interface: what a result depends on and how it is
// encoded, named like the command line's options (thickness, look, format, jpeg-quality,
// webp-quality, png-compression, strip-metadata, depth). Each parser returns "" or, for a 400,
// one line saying what is wrong.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include <httplib.h>

#include "dehazefile/dehaze_file.h"

namespace vantorel {

// Everything the result's pixels depend on besides the picture; compared to reuse a result.
struct DehazeChoice {
  float thickness = 1.0f;
  Look look = Look::kClassic;

  bool operator==(const DehazeChoice& other) const {
    return thickness == other.thickness && look == other.look;
  }
  bool operator!=(const DehazeChoice& other) const { return !(*this == other); }
};

// The names ParseDehazeChoice reads.
extern const std::initializer_list<const char*> kDehazeChoiceNames;
// The names ParseEncodingChoice reads: format and the output options' table.
extern const std::vector<const char*> kEncodingChoiceNames;

// thickness (required): as on the command line, and from 0.1 up (below, nothing is dehazed);
// look (optional): classic, the default, or natural.
std::string ParseDehazeChoice(const httplib::Request& request, DehazeChoice& choice);

// format (required; "jpg", "png", "webp", ... whatever results can be written as) and the
// output options, with the command line's defaults.
struct EncodingChoice {
  std::string format;  // lower case, without the dot
  OutputOptions options;
};
std::string ParseEncodingChoice(const httplib::Request& request, EncodingChoice& choice);

// A whole number from min to max; "" or the reason.
std::string ParseWholeNumber(const httplib::Request& request, const char* name, int min, int max, int& value);

// "" when every parameter of the request is among the known names (several lists).
std::string CheckParameterNames(const httplib::Request& request,
                                std::initializer_list<std::vector<const char*>> known);

}  // namespace vantorel
