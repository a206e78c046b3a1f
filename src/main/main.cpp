// vantorel: removes haze from one colour photograph.
//   vantorel source_image result_image [haze_thickness]
#include <chrono>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "dehazefile/dehaze_file.h"
#include "dehazefile/version.h"
#include "main/huge_page_allocator.h"

namespace {

constexpr int kExitUsage = -1;
constexpr int kExitFailure = 1;

void PrintUsage() {
  std::printf("Usage: \nVantorel.exe source_image result_image haze_thickness\n");
  std::printf("nVantorel.exe foggy.jpg foggy_out.png 0.9\n");
  std::printf("\n\nNOTES:\n");
  std::printf("haze_thickness: specify how hazy the scene is.\n");
}

int Fail(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "vantorel: %s\n", message.c_str());
  return kExitFailure;
}

// Something the user should know although the run succeeded.
void Note(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "vantorel: note: %s\n", message.c_str());
}

int Run(int argc, char** argv) {
  if (vantorel::IsVersionRequest(argc, argv)) {
    std::printf("%s\n", vantorel::VersionLine());
    return 0;
  }
  if (argc < 3) {
    PrintUsage();
    return kExitUsage;
  }
  const std::string source_path = argv[1];
  const std::string result_path = argv[2];

  float haze_thickness = 1.0f;
  if (argc >= 4) {
    const vantorel::ThicknessArg arg = vantorel::ParseThickness(argv[3]);
    if (!arg.valid) return Fail(arg.error);
    haze_thickness = arg.thickness;
  }

  const vantorel::Outcome outcome =
      vantorel::DehazeFile(source_path, result_path, haze_thickness, vantorel::OutputOptions());
  if (outcome.status == vantorel::Outcome::Status::kUnreadable) std::printf("Can't read image. Exit...\n");
  if (outcome.status == vantorel::Outcome::Status::kNothingToDo) {
    std::printf("No need for dehaze. Exiting ...\n");
    return 0;
  }
  if (outcome.seconds >= 0) std::printf("Time cost is %.3f\n", outcome.seconds);
  if (outcome.status != vantorel::Outcome::Status::kWritten) return Fail(outcome.error);
  if (!outcome.note.empty()) Note(outcome.note);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing may escape as an abort: every failure is one line on stderr and status 1.
  try {
    // The library's own warnings would repeat, less clearly, what the tool reports itself.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    vantorel::UseHugePagesForLargeImages();
    return Run(argc, argv);
  } catch (const cv::Exception& e) {
    return Fail("image library error: " + e.msg);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  } catch (const std::exception& e) {
    return Fail(std::string("error: ") + e.what());
  } catch (...) {
    return Fail("unexpected error");
  }
}
