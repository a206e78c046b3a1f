// Which pictures a batch dehazes and where each result goes, decided before any work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantorel {

struct BatchItem {
  std::string source;
  std::string result;
  std::string map;      // where its transmission map goes, or "" when not asked
  uint64_t pixels = 0;  // as the source's header declares it (PNG, JPEG), or 0 when unknown
};

struct BatchRequest {
  std::vector<std::string> sources;  // pictures and folders, as given
  std::string output_dir;
  bool recursive = false;
  std::string format;  // ".ext" for every result, or "" for each source's own
  std::string suffix;
  bool maps = false;
  int depth = 0;       // the output option: a result whose format cannot hold it fails the plan
};

// Lists the pictures: each SOURCE that is not a folder as given, and the pictures in each
// folder (by extension, hidden files left out; sub-folders only when recursive, keeping
// their layout under the output folder, which is itself never read as a source). Results
// are named after their sources: stem + suffix + the format's extension. Returns false
// with a one-line `error` when a folder cannot be read, two pictures would land on the
// same file, a result would replace a source or its format cannot hold the depth asked
// for; `notes` receives what was left out and why.
bool PlanBatch(const BatchRequest& request, std::vector<BatchItem>& items, std::string& error,
               std::vector<std::string>& notes);

// The extension a result takes for `source`: the requested format, else the source's own
// when results can be written in it, else ".png".
std::string ResultExtension(const std::string& source, const std::string& format);

// A requested format as BatchRequest::format holds it: "jpg", ".jpg" or "JPG" become
// ".jpg", "" stays "" (each source's own). False with the reason (naming neither the
// option nor the file) when it is not an extension or results cannot be written in it.
bool BatchFormat(const std::string& requested, std::string& format, std::string& error);

}  // namespace vantorel
