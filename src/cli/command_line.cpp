// Reading the arguments with CLI11, keeping the calls that worked before options existed.
#include "cli/command_line.h"

#include "dehazefile/batch_plan.h"
#include "dehazefile/clip_option_table.h"
#include "dehazefile/version.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <CLI/CLI.hpp>

namespace vantorel {

namespace {

const char kDescription[] =
    "vantorel removes haze and fog from colour photographs: one picture (SOURCE to RESULT),\n"
    "or many at once into a folder (-o DIR). The result's extension chooses its format.\n"
    "THICKNESS says how hazy the scene is, in (0, 1] (default 1); below 0.1 there is\n"
    "nothing to do and nothing is written.\n";

const char kFooter[] =
    "Metadata: the source's EXIF, XMP, IPTC and ICC colour profile are carried over where the\n"
    "result's format can hold them (a note says what could not be). --strip-metadata drops\n"
    "EXIF (with GPS), XMP and IPTC but keeps the ICC profile, so that colours stay right.\n"
    "\n"
    "Examples:\n"
    "  vantorel -o clear/ -r -t 0.9 photos/        every picture under photos/ into clear/\n"
    "  vantorel -o web/ --format webp --webp-quality 80 --strip-metadata *.jpg\n"
    "  vantorel foggy.jpg clear.jpg 0.9            one picture\n"
    "\n"
    "Exit status: 0 when every result was written (or there was nothing to do); 1 on an error\n"
    "or when any picture of a batch failed; 130 (SIGINT) or 143 (SIGTERM) when a batch was\n"
    "stopped; 255 with the short usage text when fewer than two arguments are given.\n"
    "VANTOREL_THREADS, when set, must be a positive whole number: the threads to use.";

class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage:\n  vantorel [OPTIONS] SOURCE RESULT [THICKNESS]\n  vantorel [OPTIONS] -o DIR SOURCE...\n"
           "  vantorel serve [OPTIONS]   a local web page to choose the thickness (vantorel serve --help)\n";
  }
};

// A validator from one of the shared parsers (the strict thickness text, the look's
// names): refusals carry the parser's own one-line reason.
template <typename Parse>
CLI::Validator ParsedBy(Parse parse) {
  return CLI::Validator(
      [parse](std::string& text) {
        const auto arg = parse(text);
        return arg.valid ? std::string() : arg.error;
      },
      "");
}

// A range check that adds nothing to the help: the option's text states the range.
CLI::Validator Between(int low, int high) { return CLI::Range(low, high).description(""); }
CLI::Validator OneOf(int low, int high) { return CLI::IsMember(std::vector<int>{low, high}).description(""); }

// The output options, from the file layer's table.
void AddOutputOptions(CLI::App& app, OutputOptions& output) {
  for (const OutputOptionSpec& entry : OutputOptionTable()) {
    const std::string name = std::string("--") + entry.name;
    switch (entry.kind) {
      case OutputOptionSpec::Kind::kWholeNumber:
        app.add_option(name, output.*entry.number, entry.help)
            ->type_name(entry.value_name)
            ->check(entry.ends_only ? OneOf(entry.min, entry.max) : Between(entry.min, entry.max));
        break;
      case OutputOptionSpec::Kind::kFlag:
        app.add_flag(name, output.*entry.flag, entry.help);
        break;
    }
  }
}

// The clip options, from the file layer's table; their ranges are checked after parsing,
// against the same table.
void AddClipOptions(CLI::App& app, ClipOptions& clip) {
  for (const ClipOptionSpec& entry : ClipOptionTable()) {
    const std::string name = std::string("--") + entry.name;
    CLI::Option* option = nullptr;
    switch (entry.kind) {
      case ClipOptionSpec::Kind::kWholeNumber: option = app.add_option(name, clip.*entry.number, entry.help); break;
      case ClipOptionSpec::Kind::kDecimal: option = app.add_option(name, clip.*entry.decimal, entry.help); break;
      case ClipOptionSpec::Kind::kChoice: option = app.add_option(name, clip.*entry.text, entry.help); break;
    }
    option->type_name(entry.value_name);
  }
}

// `error` from the shared thickness parser, which names the value "haze_thickness", with
// `name` in its place.
std::string NamedAs(const std::string& error, const std::string& name) {
  const std::string parser_name = "haze_thickness";
  return error.compare(0, parser_name.size(), parser_name) == 0 ? name + error.substr(parser_name.size()) : error;
}

CommandLine Error(const std::string& text) {
  CommandLine line;
  line.action = CommandLine::Action::kError;
  line.text = text;
  return line;
}

// The options that only a batch takes, by name, when given without -o.
std::string BatchOnlyOption(const CLI::App& app) {
  for (const char* name : {"--recursive", "--format", "--suffix", "--jobs", "--skip-existing", "--maps"}) {
    if (app.get_option(name)->count() > 0) return name;
  }
  return "";
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  // The calls that worked before options existed, answered as they always were: exactly
  // "--version", and the usage text for fewer than two arguments unless it is a request
  // for help.
  if (IsVersionRequest(argc, argv)) {
    line.action = CommandLine::Action::kVersion;
    return line;
  }
  if (argc < 3 && !(argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0))) {
    line.action = CommandLine::Action::kUsage;
    return line;
  }
  std::vector<std::string> arguments;
  std::string thickness_text;
  std::string look_text;
  bool help = false, version = false;

  CLI::App app(kDescription, "vantorel");
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_help_flag();  // handled here, so that nothing is printed from inside the parser
  app.add_flag("-h,--help", help, "Print this help and exit");
  app.add_flag("--version", version, "Print the version and exit");
  app.add_option("arguments", arguments)->group("");
  app.add_option("-o,--output-dir", line.output_dir,
                 "Dehaze every SOURCE (a picture, or a folder of them) into DIR, made if missing")
      ->type_name("DIR");
  app.add_option("-t,--thickness", thickness_text, "How hazy the scenes are, in (0, 1]; default 1")
      ->type_name("THICKNESS");
  app.add_option("--look", look_text,
                 "How the haze is removed and the tone finished: classic (brighter, livelier "
                 "colours) or natural (gentler: keeps the photo's brightness range, no glow on fog, "
                 "the tone curve changes brightness only); default classic")
      ->type_name("LOOK")
      ->check(ParsedBy(ParseLook));
  app.add_flag("-r,--recursive", line.recursive,
               "With -o: descend into sub-folders, keeping their layout under DIR");
  app.add_option("--format", line.format,
                 "With -o: the results' format, as an extension (jpg, png, webp, tif, ...); default: "
                 "each source's own where it can be written, else png")
      ->type_name("EXT");
  app.add_option("--suffix", line.suffix, "With -o: added to each result's name, as photo_clear.jpg; default none")
      ->type_name("TEXT");
  app.add_option("-j,--jobs", line.jobs,
                 "With -o: pictures dehazed at once, >= 1; default: as many as the cores and the memory "
                 "allow, the threads shared out between them")
      ->type_name("N")
      ->check(Between(1, 1 << 20));
  app.add_flag("--skip-existing", line.skip_existing, "With -o: leave results that already exist (to resume)");
  app.add_flag("--maps", line.maps,
               "With -o: also write each transmission map beside its result, as NAME.transmission.png");
  app.add_option("--transmission-map", line.transmission_map,
                 "Single form: also write the transmission map to PATH, an 8-bit grey picture of the "
                 "source's size, 255 where the scene is clear and 0 for opaque haze")
      ->type_name("PATH");
  AddOutputOptions(app, line.output);
  AddClipOptions(app, line.clip);
  app.add_flag("--force", line.force, "Replace results that are write-protected");
  app.add_flag("-q,--quiet", line.quiet,
               "Print errors only (one picture: no notes; its lines on standard output stay)");
  app.footer(kFooter);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return Error(std::string(e.what()) + " (vantorel --help lists the options)");
  }
  std::string clip_problem;
  if (!CheckClipOptions(line.clip, clip_problem)) return Error(clip_problem);

  if (help) {
    line.action = CommandLine::Action::kHelp;
    line.text = app.help();
    return line;
  }
  if (version) return Error("--version takes no other argument");
  const bool thickness_option = app.count("--thickness") > 0;
  if (thickness_option) {
    // The shared parser names the third argument; here the option was used.
    const ThicknessArg arg = ParseThickness(thickness_text);
    if (!arg.valid) return Error(NamedAs(arg.error, "--thickness") + " (vantorel --help lists the options)");
    line.thickness = arg.thickness;
  }
  if (app.count("--look") > 0) line.look = ParseLook(look_text).look;

  if (!line.output_dir.empty() || app.get_option("--output-dir")->count() > 0) {
    if (line.output_dir.empty()) return Error("-o: the folder name is empty");
    if (arguments.empty()) return Error("-o " + line.output_dir + ": no SOURCE given");
    if (!line.transmission_map.empty()) {
      return Error("--transmission-map is for a single picture; with -o, --maps writes one per result");
    }
    const std::string requested_format = line.format;
    std::string why;
    if (!BatchFormat(requested_format, line.format, why)) return Error("--format " + requested_format + ": " + why);
    line.sources = arguments;
    line.action = CommandLine::Action::kBatch;
    return line;
  }

  if (arguments.size() < 2) {
    return Error("a SOURCE and a RESULT are needed, or -o DIR and SOURCE... (vantorel --help)");
  }
  const std::string batch_only = BatchOnlyOption(app);
  if (!batch_only.empty()) return Error(batch_only + " is for a batch: it needs -o DIR");
  line.sources = {arguments[0]};
  line.result = arguments[1];
  if (arguments.size() >= 3) {
    if (thickness_option) return Error("the thickness is given twice: by -t and as the third argument");
    const ThicknessArg arg = ParseThickness(arguments[2]);
    if (!arg.valid) return Error(arg.error);
    line.thickness = arg.thickness;
  }
  line.ignored.assign(arguments.begin() + std::min<size_t>(3, arguments.size()), arguments.end());
  line.action = CommandLine::Action::kSingle;
  return line;
}

BatchRun BatchRunOf(const CommandLine& line) {
  BatchRun run;
  run.plan.sources = line.sources;
  run.plan.output_dir = line.output_dir;
  run.plan.recursive = line.recursive;
  run.plan.format = line.format;
  run.plan.suffix = line.suffix;
  run.plan.maps = line.maps;
  run.plan.depth = line.output.depth;
  run.plan.video_format = line.clip.video_format;
  run.thickness = line.thickness;
  run.look = line.look;
  run.output = line.output;
  run.clip = line.clip;
  run.force = line.force;
  run.quiet = line.quiet;
  run.skip_existing = line.skip_existing;
  run.jobs = line.jobs;
  return run;
}

}  // namespace vantorel
