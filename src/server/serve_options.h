// The options of `vantorel serve`.
#pragma once

#include <string>

namespace vantorel {

struct ServeOptions {
  std::string host = "127.0.0.1";  // the address to listen on
  int port = 8080;                 // 0 picks a free port
  int max_upload_mb = 200;         // largest request body, in MiB
  int max_pictures = 8;            // pictures held for the page at once
  int picture_memory_mb = 2048;    // memory for the held pictures and their results, in MiB
  int jobs = 0;                    // full-size dehazes at once; 0: the machine's cores
};

// Parses the arguments after "serve" (argv[0] is the word "serve"). Returns -1 to go on
// with `options`, otherwise the status to exit with (0 after --help, 1 after an error,
// both already printed).
int ParseServeOptions(int argc, const char* const* argv, ServeOptions& options);

}  // namespace vantorel
