// vantorel: removes haze from colour photographs.
//   vantorel [OPTIONS] SOURCE RESULT [THICKNESS]
//   vantorel [OPTIONS] -o DIR SOURCE...
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "cli/batch.h"
#include "dehazefile/version.h"
#include "cli/command_line.h"
#include "cli/messages.h"
#include "cli/single_form.h"
#include "cli/threads_variable.h"
#include "main/blas_threads.h"
#include "server/serve.h"

namespace {

constexpr int kExitUsage = -1;

void PrintUsage() {
  std::printf("Usage: \nVantorel.exe source_image result_image haze_thickness\n");
  std::printf("nVantorel.exe foggy.jpg foggy_out.png 0.9\n");
  std::printf("\n\nNOTES:\n");
  std::printf("haze_thickness: specify how hazy the scene is.\n");
  // Callers compare the lines above byte for byte; this one is only added after them.
  std::printf("Many pictures: vantorel -o DIR SOURCE...; every option: vantorel --help\n");
}

int Run(int argc, char** argv) {
  vantorel::StopBlasThreads();
  // The first word "serve" names the web server's subcommand, never a source.
  if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) return vantorel::RunServe(argc - 1, argv + 1);
  const vantorel::CommandLine line = vantorel::ParseCommandLine(argc, argv);
  switch (line.action) {
    case vantorel::CommandLine::Action::kUsage:
      PrintUsage();
      return kExitUsage;
    case vantorel::CommandLine::Action::kHelp:
      std::printf("%s", line.text.c_str());
      return 0;
    case vantorel::CommandLine::Action::kVersion:
      std::printf("%s\n", vantorel::VersionLine());
      return 0;
    case vantorel::CommandLine::Action::kError:
      return vantorel::Fail(line.text);
    case vantorel::CommandLine::Action::kSingle:
    case vantorel::CommandLine::Action::kBatch:
      break;
  }
  const std::string threads_problem = vantorel::CheckThreadsVariable();
  if (!threads_problem.empty()) return vantorel::Fail(threads_problem);
  if (line.action == vantorel::CommandLine::Action::kBatch) return vantorel::RunBatch(vantorel::BatchRunOf(line));
  return vantorel::RunSingleForm(line);
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing may escape as an abort: every failure is one line on stderr and status 1.
  try {
    // The library's own warnings would repeat, less clearly, what the tool reports itself.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    return Run(argc, argv);
  } catch (const cv::Exception& e) {
    return vantorel::Fail("image library error: " + e.msg);
  } catch (const std::bad_alloc&) {
    return vantorel::Fail("out of memory");
  } catch (const std::exception& e) {
    return vantorel::Fail(std::string("error: ") + e.what());
  } catch (...) {
    return vantorel::Fail("unexpected error");
  }
}
