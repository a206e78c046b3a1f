// Checking what Python hands to the calls.
#include "bindings/picture_arguments.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "dehazefile/look_arg.h"
#include "dehazefile/thickness_arg.h"
#include "vantorel/dehaze.h"

namespace py = pybind11;

namespace vantorel::python {

namespace {

constexpr const char* kPictureForm =
    "image must be a numpy array of dtype uint8, uint16 or float32 and shape (height, width, 3), "
    "(height, width, 4) or (height, width)";

std::string TypeName(const py::handle& object) {
  return py::str(py::type::handle_of(object).attr("__name__"));
}

std::string ShapeText(const py::array& array) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < array.ndim(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(array.shape(i));
  }
  return text + (array.ndim() == 1 ? ",)" : ")");
}

}  // namespace

PictureSize CheckPicture(const py::handle& image) {
  if (!py::isinstance<py::array>(image)) {
    throw py::type_error(std::string(kPictureForm) + ", got " + TypeName(image));
  }
  const auto array = py::reinterpret_borrow<py::array>(image);
  PictureSize size;
  // By kind and size rather than identity: a dtype with metadata is still its kind.
  const char kind = array.dtype().kind();
  const py::ssize_t item = array.dtype().itemsize();
  if (kind == 'u' && item == 1) {
    size.depth = CV_8U;
  } else if (kind == 'u' && item == 2) {
    size.depth = CV_16U;
  } else if (kind == 'f' && item == 4) {
    size.depth = CV_32F;
  } else {
    const std::string hint = kind == 'f' ? " (convert it with .astype(numpy.float32))" : "";
    throw py::type_error(std::string(kPictureForm) + ", got dtype " + std::string(py::str(array.dtype())) + hint);
  }
  const bool grey = array.ndim() == 2;
  if (!grey && (array.ndim() != 3 || (array.shape(2) != 3 && array.shape(2) != 4))) {
    throw py::value_error(std::string(kPictureForm) + ", got shape " + ShapeText(array));
  }
  if (array.shape(0) == 0 || array.shape(1) == 0) {
    throw py::value_error("image is empty: shape " + ShapeText(array));
  }
  constexpr py::ssize_t kLargestSide = std::numeric_limits<int>::max();
  if (array.shape(0) > kLargestSide || array.shape(1) > kLargestSide) {
    throw py::value_error("image is too large: shape " + ShapeText(array));
  }
  size.cols = static_cast<int>(array.shape(1));
  size.rows = static_cast<int>(array.shape(0));
  size.channels = grey ? 1 : static_cast<int>(array.shape(2));
  return size;
}

cv::Mat CopyPacked(const py::buffer_info& image, const PictureSize& size) {
  cv::Mat packed(size.rows, size.cols, CV_MAKETYPE(size.depth, size.channels));
  const size_t sample = packed.elemSize1();
  const py::ssize_t row_stride = image.strides[0], pixel_stride = image.strides[1];
  const py::ssize_t channel_stride = size.channels == 1 ? static_cast<py::ssize_t>(sample) : image.strides[2];
  const auto* origin = static_cast<const unsigned char*>(image.ptr);
  const size_t pixel_bytes = packed.elemSize();
  const bool packed_rows =
      pixel_stride == static_cast<py::ssize_t>(pixel_bytes) && channel_stride == static_cast<py::ssize_t>(sample);
  for (int y = 0; y < size.rows; ++y) {
    const unsigned char* row = origin + y * row_stride;
    unsigned char* out = packed.ptr(y);
    if (packed_rows) {
      std::memcpy(out, row, static_cast<size_t>(size.cols) * pixel_bytes);
      continue;
    }
    for (int x = 0; x < size.cols; ++x) {
      const unsigned char* pixel = row + x * pixel_stride;
      for (int k = 0; k < size.channels; ++k) {
        std::memcpy(out + x * pixel_bytes + k * sample, pixel + k * channel_stride, sample);
      }
    }
  }
  return packed;
}

bool CheckChannelOrder(const py::handle& channel_order) {
  if (!PyUnicode_Check(channel_order.ptr())) {
    throw py::type_error("channel_order must be a str, got " + TypeName(channel_order));
  }
  const std::string order = channel_order.cast<std::string>();
  if (order != "bgr" && order != "rgb") {
    throw py::value_error("channel_order must be \"bgr\" or \"rgb\", got \"" + order + "\"");
  }
  return order == "rgb";
}

float CheckThickness(const py::handle& thickness) {
  // bool is an int to Python, but True as a thickness is surely a mistake.
  if (PyBool_Check(thickness.ptr()) || PyUnicode_Check(thickness.ptr()) ||
      PyBytes_Check(thickness.ptr())) {
    throw py::type_error("thickness must be a number, got " + TypeName(thickness));
  }
  const double value = PyFloat_AsDouble(thickness.ptr());
  if (value == -1.0 && PyErr_Occurred()) {
    const bool too_large = PyErr_ExceptionMatches(PyExc_OverflowError);
    PyErr_Clear();
    if (too_large) throw py::value_error("thickness must lie in (0, 1], got a number too large for a float");
    throw py::type_error("thickness must be a number, got " + TypeName(thickness));
  }
  // The command line's rules on the number (NaN and negatives refused, 1.00000001 rounds
  // to 1, 0 and anything up to 0.01 become 0.01: nothing to do).
  const ThicknessArg arg = vantorel::CheckThickness(value);
  if (!arg.valid) {
    throw py::value_error("thickness must be a finite number in [0, 1], got " +
                          std::string(py::str(py::float_(value))));
  }
  return arg.thickness;
}

Look CheckLook(const py::handle& look) {
  if (!PyUnicode_Check(look.ptr())) throw py::type_error("look must be a str, got " + TypeName(look));
  const LookArg arg = ParseLook(look.cast<std::string>());
  if (!arg.valid) throw py::value_error(arg.error);
  return arg.look;
}

}  // namespace vantorel::python
