// vantorel._vantorel: the library's calls for the Python package (python/vantorel), which
// documents them. Arguments are checked here; the work runs without the GIL.
#include <cstring>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bindings/array_pictures.h"
#include "bindings/batch_calls.h"
#include "bindings/file_calls.h"
#include "bindings/picture_arguments.h"
#include "bindings/video_calls.h"
#include "dehazefile/memory_budget.h"
#include "dehazefile/picture_parts.h"
#include "dehazefile/thickness_arg.h"
#include "vantorel/dehaze.h"

namespace py = pybind11;

namespace vantorel::python {

namespace {

constexpr int kMostThreads = 256;  // SetThreadCount's own ceiling

// MemoryError with the reason, when the pipeline's peak for the picture, plus
// `extra_per_pixel` bytes per pixel of the call's own, would not fit.
void CheckMemory(const PictureSize& size, int extra_per_pixel = 0) {
  std::string error;
  if (PipelineFitsInMemory(size.cols, size.rows, error, extra_per_pixel)) return;
  PyErr_SetString(PyExc_MemoryError, error.c_str());
  throw py::error_already_set();
}

// MemoryError when even the plain copies of the picture (the packed copy and the result)
// would not fit.
void CheckCopyMemory(const PictureSize& size) {
  const auto cols = static_cast<uint64_t>(size.cols), rows = static_cast<uint64_t>(size.rows);
  const uint64_t array_bytes = static_cast<uint64_t>(size.channels) * CV_ELEM_SIZE1(size.depth);
  uint64_t needed = 0;
  if (__builtin_mul_overflow(cols * rows, 2 * array_bytes, &needed)) needed = kUnlimitedBytes;
  const uint64_t usable = ReadMemoryLimits().Smallest();
  if (needed <= usable) return;
  const std::string error = MemoryRefusal(cols, rows, needed, usable);
  PyErr_SetString(PyExc_MemoryError, error.c_str());
  throw py::error_already_set();
}

// The numpy dtype of a checked picture's depth.
py::dtype DtypeOf(int depth) {
  if (depth == CV_16U) return py::dtype::of<uint16_t>();
  if (depth == CV_32F) return py::dtype::of<float>();
  return py::dtype::of<uint8_t>();
}

// Beyond the pipeline: the packed copy and the result (the array's own bytes each), and
// for 16-bit and float arrays the deeper pipeline and its 16-bit colour.
int ExtraBytesPerPixel(const PictureSize& size) {
  const int array_bytes = size.channels * static_cast<int>(CV_ELEM_SIZE1(size.depth));
  return 2 * array_bytes + (size.depth == CV_8U ? 0 : static_cast<int>(kDeepPipelineExtraBytesPerPixel) + 6);
}

py::array Dehaze(const py::object& image, const py::object& thickness_arg, const py::object& look_arg,
                 const py::object& order_arg) {
  const PictureSize size = CheckPicture(image);
  const float thickness = CheckThickness(thickness_arg);
  DehazeOptions options;
  options.look = CheckLook(look_arg);
  const bool rgb = CheckChannelOrder(order_arg);
  // Below the threshold the command line writes nothing: here the result is a plain copy.
  const bool dehaze = !BelowDehazeThreshold(thickness);
  // Before the result is made: a view with zero strides can claim a picture far larger
  // than the memory it holds.
  if (dehaze) {
    CheckMemory(size, ExtraBytesPerPixel(size));
  } else {
    CheckCopyMemory(size);
  }
  const auto array = py::reinterpret_borrow<py::array>(image);
  const py::buffer_info source = array.request();
  std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
  py::array result(DtypeOf(size.depth), shape);
  void* out = result.mutable_data();
  bool accepted = true;
  {
    // `image` and `result` stay referenced by this frame; no one else sees `result` yet.
    py::gil_scoped_release release;
    cv::Mat picture = CopyPacked(source, size);
    if (dehaze) {
      ArrayPicture parts = TakeApart(picture, size, rgb);
      accepted = DehazeColour(parts.colour, thickness, options);
      if (accepted) picture = PutTogether(parts);
    }
    if (accepted) std::memcpy(out, picture.data, picture.total() * picture.elemSize());
  }
  if (!accepted) throw py::value_error("the picture was refused by the dehazer");
  return result;
}

py::array_t<float> Transmission(const py::object& image, const py::object& thickness_arg,
                                const py::object& order_arg) {
  const PictureSize size = CheckPicture(image);
  const float thickness = CheckThickness(thickness_arg);
  const bool rgb = CheckChannelOrder(order_arg);
  const py::buffer_info source = py::reinterpret_borrow<py::array>(image).request();
  CheckMemory(size, ExtraBytesPerPixel(size));
  py::array_t<float> map({static_cast<py::ssize_t>(size.rows), static_cast<py::ssize_t>(size.cols)});
  float* values = map.mutable_data();
  bool accepted = false;
  {
    py::gil_scoped_release release;
    const ArrayPicture parts = TakeApart(CopyPacked(source, size), size, rgb);
    accepted = TransmissionOfColour(parts.colour, thickness, values);
  }
  if (!accepted) throw py::value_error("the picture was refused by the dehazer");
  return map;
}

void SetThreads(int count) {
  if (count < 0 || count > kMostThreads) {
    throw py::value_error("the thread count must lie in 0.." + std::to_string(kMostThreads) +
                          " (0: the default), got " + std::to_string(count));
  }
  SetThreadCount(count);
}

}  // namespace

}  // namespace vantorel::python

PYBIND11_MODULE(_vantorel, module) {
  using namespace vantorel::python;
  module.doc() = "The C++ calls behind the vantorel package; use the package itself.";
  module.attr("__version__") = VANTOREL_VERSION;
  vantorel::KeepWorkingMemoryForMorePictures();
  module.def("dehaze", &Dehaze, py::arg("image"), py::arg("thickness"), py::arg("look"),
             py::arg("channel_order"));
  module.def("transmission", &Transmission, py::arg("image"), py::arg("thickness"),
             py::arg("channel_order"));
  module.def("set_threads", &SetThreads, py::arg("count"));
  module.def("get_threads", &vantorel::ThreadCount);
  AddFileCalls(module);
  AddBatchCalls(module);
  AddVideoCalls(module);
}
