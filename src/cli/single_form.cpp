// One picture, with the messages on standard output that callers have long parsed.
#include "cli/single_form.h"

#include <cstdio>

#include <sys/stat.h>

#include "cli/messages.h"

namespace vantorel {

int RunSingleForm(const CommandLine& line) {
  if (!line.ignored.empty() && !line.quiet) {
    std::string list;
    for (const std::string& argument : line.ignored) list += (list.empty() ? "'" : " '") + argument + "'";
    Note("arguments after the third are ignored: " + list);
  }
  struct stat info {};
  if (::stat(line.sources[0].c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return Fail(line.sources[0] + " is a folder: to dehaze the pictures in it, use -o DIR " + line.sources[0] +
                " (vantorel --help)");
  }
  const Outcome outcome =
      DehazeFile(line.sources[0], line.result, line.thickness, line.output, line.transmission_map, line.force,
                 line.look);
  if (outcome.status == Outcome::Status::kUnreadable) std::printf("Can't read image. Exit...\n");
  if (outcome.status == Outcome::Status::kNothingToDo) {
    std::printf("No need for dehaze. Exiting ...\n");
    return 0;
  }
  if (outcome.seconds >= 0) std::printf("Time cost is %.3f\n", outcome.seconds);
  if (outcome.status != Outcome::Status::kWritten) {
    std::string error = outcome.error;
    if (outcome.status == Outcome::Status::kWriteProtected) error += " (--force replaces it)";
    return Fail(error);
  }
  if (!outcome.note.empty() && !line.quiet) Note(outcome.note);
  return 0;
}

}  // namespace vantorel
