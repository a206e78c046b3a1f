// What the libraries throw (out of memory, the image library's refusals), as a failed
// outcome naming the source: the file calls never throw.
#pragma once

#include <exception>
#include <new>
#include <string>

#include <opencv2/core.hpp>

#include "dehazefile/dehaze_file.h"

namespace vantorel {

// Runs `work`; an exception it throws becomes `outcome`'s failure.
template <typename Work>
void FailOnLibraryErrors(const std::string& source, Outcome& outcome, const Work& work) {
  try {
    work();
    return;
  } catch (const cv::Exception& e) {
    outcome.error = source + ": image library error: " + e.err;
  } catch (const std::bad_alloc&) {
    outcome.error = source + ": out of memory";
  } catch (const std::exception& e) {
    outcome.error = source + ": error: " + e.what();
  }
  outcome.status = Outcome::Status::kFailed;
}

}  // namespace vantorel
