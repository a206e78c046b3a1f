// Temporary files that are removed if SIGINT, SIGTERM or SIGHUP ends the process while
// they exist, so that an interrupted write leaves nothing behind. Several threads may each
// hold one at a time (a batch writes several results at once).
#pragma once

#include <string>

namespace vantorel {

// How many guarded files may exist at once in the process.
constexpr int kMaxGuardedTempFiles = 64;

// Creates a new file from `path`, a template ending in XXXXXX (as for mkstemp), and
// writes the chosen name back into `path`; `slot` receives the handle that Commit and
// Discard take. Returns the open descriptor, or -1 with errno set (EMFILE when all slots
// are taken, ECANCELED after RemoveGuardedTempFilesForExit). Until it is committed or
// discarded, the signals above remove the file before they end the process as they
// normally would.
int CreateGuardedTempFile(std::string& path, int& slot);

// Renames the file of `slot` over `target` and lifts the guard. On failure returns false
// with errno set; the file is still there and still guarded.
bool CommitGuardedTempFile(int slot, const std::string& target);

// Removes the file of `slot` and lifts the guard.
void DiscardGuardedTempFile(int slot);

// Removes every guarded file and makes later creations fail: for a process about to exit
// at once from a thread other than the writers'.
void RemoveGuardedTempFilesForExit();

}  // namespace vantorel
