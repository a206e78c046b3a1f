#include "bindings/video_calls.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include <pybind11/numpy.h>

#include "bindings/picture_arguments.h"
#include "dehazefile/batch_plan.h"
#include "dehazefile/clip_option_table.h"
#include "dehazefile/dehaze_clip.h"
#include "dehazefile/memory_budget.h"
#include "vantorel/video_dehazer.h"

namespace py = pybind11;

namespace vantorel::python {

namespace {

// A finite number (not a bool) as a double; TypeError or ValueError naming `what`.
double CheckNumber(const py::handle& value, const char* what) {
  if (py::isinstance<py::bool_>(value) || !(py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value))) {
    throw py::type_error(std::string(what) + " must be a number, got " + std::string(py::str(value.get_type().attr("__name__"))));
  }
  const double number = value.cast<double>();
  if (!std::isfinite(number)) throw py::value_error(std::string(what) + " must be finite");
  return number;
}

class PyVideoDehazer {
 public:
  PyVideoDehazer(const py::object& thickness_arg, const py::object& look_arg, const py::object& window_arg,
                 const py::object& fps_arg)
      : thickness_(CheckThickness(thickness_arg)) {
    const Look look = CheckLook(look_arg);
    const double window = CheckNumber(window_arg, "temporal_window");
    const double fps = CheckNumber(fps_arg, "fps");
    ClipOptions options;
    options.temporal_window = window;
    std::string problem;
    if (!CheckClipOptions(options, problem)) throw py::value_error(problem);
    if (!(fps > 0.0)) throw py::value_error("fps must be above 0");
    dehazer_ = std::make_unique<VideoDehazer>(thickness_, look, window, fps);
  }

  py::array_t<unsigned char> Process(const py::object& frame, const py::object& timestamp) {
    const PictureSize size = CheckPicture(frame);
    if (size.depth != CV_8U || size.channels != 3) {
      throw py::value_error("a frame is a uint8 array of shape (height, width, 3), blue, green, red");
    }
    const bool timed = !timestamp.is_none();
    const double time = timed ? CheckNumber(timestamp, "timestamp") : 0.0;
    std::string error;
    if (!PipelineFitsInMemory(size.cols, size.rows, error)) {
      PyErr_SetString(PyExc_MemoryError, error.c_str());
      throw py::error_already_set();
    }
    const py::buffer_info source = py::reinterpret_borrow<py::array>(frame).request();
    py::array_t<unsigned char> result({static_cast<py::ssize_t>(size.rows), static_cast<py::ssize_t>(size.cols),
                                       py::ssize_t{3}});
    unsigned char* pixels = result.mutable_data();
    bool accepted = true;
    {
      py::gil_scoped_release release;
      const cv::Mat packed = CopyPacked(source, size);
      std::memcpy(pixels, packed.data, packed.total() * packed.elemSize());
      accepted = timed ? dehazer_->Process(pixels, size.cols, size.rows, time)
                       : dehazer_->Process(pixels, size.cols, size.rows);
    }
    if (!accepted) throw py::value_error("the frame was refused by the dehazer");
    return result;
  }

  void Reset() { dehazer_->Reset(); }

 private:
  float thickness_;
  std::unique_ptr<VideoDehazer> dehazer_;
};

const char* StatusName(Outcome::Status status) {
  switch (status) {
    case Outcome::Status::kWritten: return "written";
    case Outcome::Status::kNothingToDo: return "nothing to do";
    case Outcome::Status::kUnreadable: return "unreadable";
    case Outcome::Status::kFailed: break;
  }
  return "failed";
}

// The clip options from Python's keywords (their names and types already checked by the
// package against clip_options()), checked against the table.
ClipOptions CheckedClipOptions(const py::dict& keywords) {
  ClipOptions options;
  for (const ClipOptionSpec& entry : ClipOptionTable()) {
    if (!keywords.contains(entry.python_name)) continue;
    const py::handle value = keywords[entry.python_name];
    switch (entry.kind) {
      case ClipOptionSpec::Kind::kWholeNumber: options.*entry.number = value.cast<int>(); break;
      case ClipOptionSpec::Kind::kDecimal: options.*entry.decimal = value.cast<double>(); break;
      case ClipOptionSpec::Kind::kChoice: options.*entry.text = value.cast<std::string>(); break;
    }
  }
  std::string problem;
  if (!CheckClipOptions(options, problem)) throw py::value_error(problem);
  return options;
}

py::tuple DehazeVideoCall(const std::string& source, const std::string& result, const py::object& thickness_arg,
                          const py::object& look_arg, const py::dict& keywords) {
  const float thickness = std::max(CheckThickness(thickness_arg), 0.01f);
  const Look look = CheckLook(look_arg);
  const ClipOptions options = CheckedClipOptions(keywords);
  const std::string problem = CheckClipResult(result, options);
  if (!problem.empty()) throw py::value_error(result + ": " + problem);
  Outcome outcome;
  {
    py::gil_scoped_release release;
    outcome = DehazeClipFile(source, result, thickness, options, false, look);
  }
  return py::make_tuple(StatusName(outcome.status), outcome.error, outcome.note, outcome.seconds);
}

}  // namespace

void AddVideoCalls(py::module_& module) {
  py::class_<PyVideoDehazer>(module, "VideoDehazer")
      .def(py::init<const py::object&, const py::object&, const py::object&, const py::object&>(),
           py::arg("thickness"), py::arg("look"), py::arg("temporal_window"), py::arg("fps"))
      .def("process", &PyVideoDehazer::Process, py::arg("frame"), py::arg("timestamp"))
      .def("reset", &PyVideoDehazer::Reset);
  module.def(
      "clip_options",
      [] {
        py::list options;
        const ClipOptions defaults;
        for (const ClipOptionSpec& entry : ClipOptionTable()) {
          switch (entry.kind) {
            case ClipOptionSpec::Kind::kWholeNumber:
              options.append(py::make_tuple(entry.python_name, "int", defaults.*entry.number, entry.help));
              break;
            case ClipOptionSpec::Kind::kDecimal:
              options.append(py::make_tuple(entry.python_name, "float", defaults.*entry.decimal, entry.help));
              break;
            case ClipOptionSpec::Kind::kChoice:
              options.append(py::make_tuple(entry.python_name, "str", defaults.*entry.text, entry.help));
              break;
          }
        }
        return options;
      },
      "The clip options' table: (keyword, type, default, help) each");
  module.def("dehaze_video", &DehazeVideoCall, py::arg("source"), py::arg("result"), py::arg("thickness"),
             py::arg("look"), py::arg("options"), "(status, error, note, seconds) of the layer's DehazeClipFile");
  module.def(
      "check_video_arguments",
      [](const py::object& thickness, const py::object& look, const py::dict& options) {
        CheckThickness(thickness);
        CheckLook(look);
        CheckedClipOptions(options);
      },
      py::arg("thickness"), py::arg("look"), py::arg("options"),
      "The checks of dehaze_video before any work, but the result's: raises what it would raise");
  module.def("is_clip", &IsClipFile, py::arg("path"));
  module.def("clip_result_extension", &ClipResultExtension, py::arg("source"), py::arg("video_format"));
}

}  // namespace vantorel::python
