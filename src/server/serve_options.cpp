#include "server/serve_options.h"

#include <CLI/CLI.hpp>

namespace vantorel {

int ParseServeOptions(int argc, const char* const* argv, ServeOptions& options) {
  CLI::App app{
      "Serves a local web page to open a photo, choose the haze thickness while seeing the\n"
      "result, and save it. The first line on standard output is \"Serving on URL\".\n"
      "Only this machine may use it unless --host names another address."};
  app.name("vantorel serve");
  app.add_option("--host", options.host, "Address to listen on (0.0.0.0: every network of this machine)")
      ->capture_default_str();
  app.add_option("--port", options.port, "Port to listen on; 0 picks a free one")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  app.add_option("--max-upload-mb", options.max_upload_mb, "Largest picture file accepted, in MiB")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();
  app.add_option("--max-pictures", options.max_pictures, "Pictures kept for the page at once")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  app.add_option("--picture-memory-mb", options.picture_memory_mb,
                 "Memory for the kept pictures and their results, in MiB; the least recently used go first")
      ->check(CLI::Range(16, 1 << 20))
      ->capture_default_str();
  app.add_option("--jobs", options.jobs, "Full-size dehazes at once; 0: as many as cores")
      ->check(CLI::Range(0, 256))
      ->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 1;
  }
  return -1;
}

}  // namespace vantorel
