// What the libraries throw (out of memory, the image library's refusals), as one line of
// text: the file calls never throw.
#pragma once

#include <exception>
#include <new>
#include <string>

#include <opencv2/core.hpp>

#include "dehazefile/dehaze_file.h"

namespace vantorel {

// Runs `work`; false, with what it threw in `error`, when it threw.
template <typename Work>
bool CatchLibraryErrors(const Work& work, std::string& error) {
  try {
    work();
    return true;
  } catch (const cv::Exception& e) {
    error = "image library error: " + e.err;
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  } catch (const std::exception& e) {
    error = std::string("error: ") + e.what();
  }
  return false;
}

// Runs `work`; an exception it throws becomes `outcome`'s failure, naming the source.
template <typename Work>
void FailOnLibraryErrors(const std::string& source, Outcome& outcome, const Work& work) {
  std::string error;
  if (CatchLibraryErrors(work, error)) return;
  outcome.error = source + ": " + error;
  outcome.status = Outcome::Status::kFailed;
}

}  // namespace vantorel
