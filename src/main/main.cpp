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

#include "imagedehaze/dehaze.h"
#include "main/huge_page_allocator.h"
#include "main/memory_budget.h"
#include "main/metadata_copy.h"
#include "main/result_writer.h"
#include "main/source_reader.h"
#include "main/thickness_arg.h"
#include "main/version.h"

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
    if (haze_thickness > 1.0f) {
      return Fail("haze_thickness '" + std::string(argv[3]) + "' is above 1; it must lie in (0, 1]");
    }
  }
  if (!vantorel::CanEncodeTo(result_path)) {
    return Fail(result_path + ": no image format is known for this file extension");
  }

  std::string error;
  const bool will_dehaze = !vantorel::BelowDehazeThreshold(haze_thickness);
  if (!vantorel::SourceFitsInMemory(source_path, will_dehaze, error)) return Fail(source_path + ": " + error);
  cv::Mat working = vantorel::ReadSourceImage(source_path, error);
  if (working.empty()) {
    std::printf("Can't read image. Exit...\n");
    return Fail(source_path + ": " + error);
  }

  if (vantorel::BelowDehazeThreshold(haze_thickness)) {
    std::printf("No need for dehaze. Exiting ...\n");
    return 0;
  }
  if (!vantorel::PipelineFitsInMemory(working.cols, working.rows, error)) return Fail(source_path + ": " + error);

  // Read before the pipeline changes the pixels, which tell whether they were turned upright.
  const vantorel::SourceMetadata metadata = vantorel::SourceMetadata::Read(source_path, working);

  const auto start = std::chrono::steady_clock::now();
  const bool dehazed = vantorel::DehazeCPU(working.data, working.cols, working.rows, haze_thickness);
  const auto end = std::chrono::steady_clock::now();
  if (!dehazed) return Fail(source_path + ": the picture was refused by the dehazer");
  std::printf("Time cost is %.3f\n", std::chrono::duration<double>(end - start).count());

  std::vector<unsigned char> encoded;
  if (!vantorel::EncodeImage(result_path, working, encoded, error)) {
    return Fail(result_path + ": cannot write the result: " + error);
  }
  // Into the encoded bytes, before the file is written and renamed into place.
  const std::string metadata_note = metadata.InsertInto(result_path, working.cols, working.rows, encoded);
  if (!vantorel::WriteFileAtomically(result_path, encoded, error)) {
    return Fail(result_path + ": cannot write the result: " + error);
  }
  if (!metadata_note.empty()) Note(metadata_note);
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
