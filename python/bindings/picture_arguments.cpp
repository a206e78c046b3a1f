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
    "image must be a numpy uint8 array of shape (height, width, 3) in B, G, R order";

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
  // By kind and size rather than identity: a uint8 dtype with metadata is uint8 too.
  if (array.dtype().kind() != 'u' || array.dtype().itemsize() != 1) {
    throw py::type_error(std::string(kPictureForm) + ", got dtype " +
                         std::string(py::str(array.dtype())));
  }
  if (array.ndim() != 3 || array.shape(2) != 3) {
    throw py::value_error(std::string(kPictureForm) + ", got shape " + ShapeText(array));
  }
  if (array.shape(0) == 0 || array.shape(1) == 0) {
    throw py::value_error("image is empty: shape " + ShapeText(array));
  }
  constexpr py::ssize_t kLargestSide = std::numeric_limits<int>::max();
  if (array.shape(0) > kLargestSide || array.shape(1) > kLargestSide) {
    throw py::value_error("image is too large: shape " + ShapeText(array));
  }
  return {static_cast<int>(array.shape(1)), static_cast<int>(array.shape(0))};
}

void CopyPacked(const py::buffer_info& image, unsigned char* destination) {
  const py::ssize_t rows = image.shape[0], cols = image.shape[1];
  const py::ssize_t row_stride = image.strides[0], pixel_stride = image.strides[1],
                    channel_stride = image.strides[2];
  const auto* origin = static_cast<const unsigned char*>(image.ptr);
  const bool packed_rows = pixel_stride == 3 && channel_stride == 1;
  for (py::ssize_t y = 0; y < rows; ++y) {
    const unsigned char* row = origin + y * row_stride;
    unsigned char* out = destination + y * cols * 3;
    if (packed_rows) {
      std::memcpy(out, row, static_cast<size_t>(cols) * 3);
      continue;
    }
    for (py::ssize_t x = 0; x < cols; ++x) {
      const unsigned char* pixel = row + x * pixel_stride;
      out[3 * x + 0] = pixel[0];
      out[3 * x + 1] = pixel[channel_stride];
      out[3 * x + 2] = pixel[2 * channel_stride];
    }
  }
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
