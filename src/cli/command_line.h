// What the command line asks for: the single form, a batch, help, or the legacy usage text.
#pragma once

#include <string>
#include <vector>

#include "cli/batch.h"
#include "dehazefile/dehaze_file.h"

namespace vantorel {

struct CommandLine {
  enum class Action {
    kUsage,    // fewer than two arguments and no option: the legacy usage text, status 255
    kHelp,     // --help: `text` holds the help
    kVersion,  // --version
    kSingle,   // SOURCE RESULT [THICKNESS]
    kBatch,    // -o DIR SOURCE...
    kError,    // `text` holds the one-line error
  };
  Action action = Action::kError;
  std::string text;

  std::vector<std::string> sources;  // the batch's sources, or the single form's source alone
  std::string result;                // the single form's result
  std::vector<std::string> ignored;  // the single form's arguments after the third
  float thickness = 1.0f;            // checked by ParseThickness
  Look look = Look::kClassic;        // --look, read by ParseLook
  OutputOptions output;
  bool force = false;
  bool quiet = false;
  std::string transmission_map;  // single form: where to write the map, or ""

  // Batch only.
  std::string output_dir;
  bool recursive = false;
  std::string format;  // the results' extension with its dot, or "" for each source's own
  std::string suffix;
  int jobs = 0;  // 0: chosen from the cores and the memory
  bool skip_existing = false;
  bool maps = false;
};

// Reads the arguments. Never exits and never prints.
CommandLine ParseCommandLine(int argc, char** argv);

// What a batch of `line` (Action::kBatch) needs.
BatchRun BatchRunOf(const CommandLine& line);

}  // namespace vantorel
