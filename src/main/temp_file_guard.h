// A temporary file that is removed if SIGINT, SIGTERM or SIGHUP ends the process while it
// exists, so that an interrupted write leaves nothing behind. One at a time per process.
#pragma once

#include <string>

namespace vantorel {

// Creates a new file from `path`, a template ending in XXXXXX (as for mkstemp), and
// writes the chosen name back into `path`. Returns the open descriptor, or -1 with errno
// set. Until it is committed or discarded, the signals above remove the file before
// they end the process as they normally would.
int CreateGuardedTempFile(std::string& path);

// Renames the file over `target` and lifts the guard. On failure returns false with
// errno set; the file is still there and still guarded.
bool CommitGuardedTempFile(const std::string& target);

// Removes the file and lifts the guard.
void DiscardGuardedTempFile();

}  // namespace vantorel
