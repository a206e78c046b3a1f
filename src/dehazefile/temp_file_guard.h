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

// The template of a temporary file for `base` in `dir`: "DIR/.BASE.tmp-vantorel-PID-XXXXXX",
// BASE cut to its first 200 bytes. The name says which process made it, so that a later
// run can tell a stale one from one being written (RemoveStaleTempFiles).
std::string TempFileTemplate(const std::string& dir, const std::string& base);

// Gives the unnamed file `fd` (opened with O_TMPFILE, complete) a name from `path`, a
// template as above, and writes the name back into `path`; `slot` receives the handle
// that Commit and Discard take, and the name is guarded from the moment it exists.
// Returns false with errno set, the file still unnamed.
bool LinkGuardedTempFile(int fd, std::string& path, int& slot);

// Removes the temporary files in `dir` whose names this tool gave them and whose
// process no longer runs: the leftovers of a run ended by SIGKILL or a crash. Each folder
// is looked through once per process.
void RemoveStaleTempFiles(const std::string& dir);

// Renames the file of `slot` over `target` and lifts the guard. On failure returns false
// with errno set; the file is still there and still guarded.
bool CommitGuardedTempFile(int slot, const std::string& target);

// Removes the file of `slot` and lifts the guard.
void DiscardGuardedTempFile(int slot);

// Removes every guarded file and makes later creations fail: for a process about to exit
// at once from a thread other than the writers'.
void RemoveGuardedTempFilesForExit();

}  // namespace vantorel
