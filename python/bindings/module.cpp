// vantorel._vantorel: the library's calls for the Python package (python/vantorel), which
// documents them. Arguments are checked here; the work runs without the GIL.
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bindings/batch_calls.h"
#include "bindings/file_calls.h"
#include "bindings/picture_arguments.h"
#include "dehazefile/memory_budget.h"
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

// MemoryError when even a plain copy of the picture would not fit.
void CheckCopyMemory(const PictureSize& size) {
  const uint64_t needed = DecodedPictureBytes(static_cast<uint64_t>(size.cols), static_cast<uint64_t>(size.rows));
  const uint64_t usable = ReadMemoryLimits().Smallest();
  if (needed <= usable) return;
  const std::string error = MemoryRefusal(static_cast<uint64_t>(size.cols), static_cast<uint64_t>(size.rows),
                                          needed, usable);
  PyErr_SetString(PyExc_MemoryError, error.c_str());
  throw py::error_already_set();
}

py::array_t<unsigned char> Dehaze(const py::object& image, const py::object& thickness_arg,
                                  const py::object& look_arg) {
  const PictureSize size = CheckPicture(image);
  const float thickness = CheckThickness(thickness_arg);
  DehazeOptions options;
  options.look = CheckLook(look_arg);
  // Below the threshold the command line writes nothing: here the result is a plain copy.
  const bool dehaze = !BelowDehazeThreshold(thickness);
  // Before the result is made: a view with zero strides can claim a picture far larger
  // than the memory it holds.
  if (dehaze) {
    CheckMemory(size);
  } else {
    CheckCopyMemory(size);
  }
  const py::buffer_info source = py::reinterpret_borrow<py::array>(image).request();
  py::array_t<unsigned char> result({static_cast<py::ssize_t>(size.rows),
                                     static_cast<py::ssize_t>(size.cols), py::ssize_t{3}});
  unsigned char* pixels = result.mutable_data();
  bool accepted = true;
  {
    // `image` and `result` stay referenced by this frame; no one else sees `result` yet.
    py::gil_scoped_release release;
    CopyPacked(source, pixels);
    if (dehaze) accepted = DehazeCPU(pixels, size.cols, size.rows, thickness, options);
  }
  if (!accepted) throw py::value_error("the picture was refused by the dehazer");
  return result;
}

py::array_t<float> Transmission(const py::object& image, const py::object& thickness_arg) {
  const PictureSize size = CheckPicture(image);
  const float thickness = CheckThickness(thickness_arg);
  const py::buffer_info source = py::reinterpret_borrow<py::array>(image).request();
  const bool packed = source.strides[2] == 1 && source.strides[1] == 3 &&
                      source.strides[0] == static_cast<py::ssize_t>(size.cols) * 3;
  CheckMemory(size, packed ? 0 : 3);  // the packed copy
  py::array_t<float> map({static_cast<py::ssize_t>(size.rows), static_cast<py::ssize_t>(size.cols)});
  float* values = map.mutable_data();
  bool accepted = false;
  {
    py::gil_scoped_release release;
    std::vector<unsigned char> copy;
    const unsigned char* pixels = static_cast<const unsigned char*>(source.ptr);
    if (!packed) {
      copy.resize(static_cast<size_t>(size.rows) * static_cast<size_t>(size.cols) * 3);
      CopyPacked(source, copy.data());
      pixels = copy.data();
    }
    accepted = EstimateTransmissionMapCPU(pixels, size.cols, size.rows, thickness, values);
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
  module.def("dehaze", &Dehaze, py::arg("image"), py::arg("thickness"), py::arg("look"));
  module.def("transmission", &Transmission, py::arg("image"), py::arg("thickness"));
  module.def("set_threads", &SetThreads, py::arg("count"));
  module.def("get_threads", &vantorel::ThreadCount);
  AddFileCalls(module);
  AddBatchCalls(module);
}
