// The file calls of the Python package: the shared file layer's DehazeFile, and the checks
// that let the Dask runner refuse wrong arguments on the client, before any work.
#include "bindings/file_calls.h"

#include <algorithm>
#include <string>

#include "bindings/picture_arguments.h"
#include "dehazefile/dehaze_file.h"

namespace py = pybind11;

namespace vantorel::python {

namespace {

// ValueError naming `result` when results cannot be written in the format of its extension,
// or not at the depth asked for.
void CheckResultFormat(const std::string& result, const OutputOptions& options) {
  std::string why;
  if (!CanWriteFormat(FileExtension(result), why)) throw py::value_error(result + ": " + why);
  why = DepthRefusal(FileExtension(result), options.depth);
  if (!why.empty()) throw py::value_error(result + ": " + why);
}

OutputOptions CheckedOptions(int jpeg_quality, int webp_quality, int png_compression,
                             bool strip_metadata, int depth) {
  OutputOptions options;
  options.jpeg_quality = jpeg_quality;
  options.webp_quality = webp_quality;
  options.png_compression = png_compression;
  options.strip_metadata = strip_metadata;
  options.depth = depth;
  const std::string problem = CheckOutputOptions(options);
  if (!problem.empty()) throw py::value_error(problem);
  return options;
}

// The thickness as DehazeFile takes it: as the command line reads it, floored at 0.01.
float FileThickness(const py::handle& thickness) {
  return std::max(CheckThickness(thickness), 0.01f);
}

const char* StatusName(Outcome::Status status) {
  switch (status) {
    case Outcome::Status::kWritten: return "written";
    case Outcome::Status::kNothingToDo: return "nothing to do";
    case Outcome::Status::kUnreadable: return "unreadable";
    case Outcome::Status::kFailed: break;
  }
  return "failed";
}

py::tuple DehazeFileCall(const std::string& source, const std::string& result,
                         const py::object& thickness_arg, const py::object& look_arg,
                         int jpeg_quality, int webp_quality, int png_compression,
                         bool strip_metadata, int depth) {
  const float thickness = FileThickness(thickness_arg);
  const Look look = CheckLook(look_arg);
  const OutputOptions options =
      CheckedOptions(jpeg_quality, webp_quality, png_compression, strip_metadata, depth);
  CheckResultFormat(result, options);
  Outcome outcome;
  {
    py::gil_scoped_release release;
    outcome = DehazeFile(source, result, thickness, options, "", false, look);
  }
  return py::make_tuple(StatusName(outcome.status), outcome.error, outcome.note, outcome.seconds);
}

}  // namespace

void AddFileCalls(py::module_& module) {
  module.def("dehaze_file", &DehazeFileCall, py::arg("source"), py::arg("result"),
             py::arg("thickness"), py::arg("look"), py::arg("jpeg_quality"),
             py::arg("webp_quality"), py::arg("png_compression"), py::arg("strip_metadata"),
             py::arg("depth"), "(status, error, note, seconds) of the layer's DehazeFile, after the checks");
  module.def(
      "check_file_arguments",
      [](const std::string& result, const py::object& thickness, const py::object& look,
         int jpeg_quality, int webp_quality, int png_compression, bool strip_metadata, int depth) {
        FileThickness(thickness);
        CheckLook(look);
        CheckResultFormat(result, CheckedOptions(jpeg_quality, webp_quality, png_compression, strip_metadata, depth));
      },
      py::arg("result"), py::arg("thickness"), py::arg("look"), py::arg("jpeg_quality"),
      py::arg("webp_quality"), py::arg("png_compression"), py::arg("strip_metadata"), py::arg("depth"),
      "The checks of dehaze_file alone: raises what it would raise before any work");
}

}  // namespace vantorel::python
