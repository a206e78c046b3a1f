#include "server/serve_options.h"

#include <cstdio>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

namespace vantorel {

namespace {

// Laid out as the main help: the description, the usage, then the options, each with its
// value's name and, in its text, its range and default.
class ServeHelpFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage:\n  vantorel serve [OPTIONS]\n";
  }
};

// A range check that adds nothing to the help: the option's text states the range.
CLI::Validator Between(int low, int high) { return CLI::Range(low, high).description(""); }

}  // namespace

int ParseServeOptions(int argc, const char* const* argv, ServeOptions& options) {
  CLI::App app{
      "vantorel serve serves a local web page to open a photo, choose the haze thickness while\n"
      "seeing the result, and save it. The first line on standard output is \"Serving on URL\".\n"
      "Only this machine may use it unless --host names another address.\n",
      "vantorel serve"};
  app.formatter(std::make_shared<ServeHelpFormatter>());
  app.set_help_flag();  // handled here, as the main help is
  bool help = false;
  app.add_flag("-h,--help", help, "Print this help and exit");
  app.add_option("--host", options.host,
                 "Address to listen on (0.0.0.0: every network of this machine); default " + options.host)
      ->type_name("ADDRESS");
  app.add_option("--port", options.port,
                 "Port to listen on, 0 to 65535; 0 picks a free one; default " + std::to_string(options.port))
      ->type_name("PORT")
      ->check(Between(0, 65535));
  app.add_option("--max-upload-mb", options.max_upload_mb,
                 "Largest picture file accepted, in MiB, 1 to 4096; default " + std::to_string(options.max_upload_mb))
      ->type_name("MB")
      ->check(Between(1, 4096));
  app.add_option("--max-pictures", options.max_pictures,
                 "Pictures kept for the page at once, 1 to 1000; default " + std::to_string(options.max_pictures))
      ->type_name("N")
      ->check(Between(1, 1000));
  app.add_option("--picture-memory-mb", options.picture_memory_mb,
                 "Memory for the kept pictures and their results, in MiB, 16 to 1048576; the least recently "
                 "used go first; default " + std::to_string(options.picture_memory_mb))
      ->type_name("MB")
      ->check(Between(16, 1 << 20));
  app.add_option("--jobs", options.jobs,
                 "Full-size dehazes at once, 0 to 256; 0: as many as cores; default " + std::to_string(options.jobs))
      ->type_name("N")
      ->check(Between(0, 256));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "vantorel serve: %s (vantorel serve --help lists the options)\n", e.what());
    return 1;
  }
  if (help) {
    std::printf("%s", app.help().c_str());
    return 0;
  }
  return -1;
}

}  // namespace vantorel
