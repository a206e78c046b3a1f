// The clip calls of the Python package: the library's VideoDehazer on numpy frames, and the
// file layer's DehazeClipFile.
#pragma once

#include <pybind11/pybind11.h>

namespace vantorel::python {

void AddVideoCalls(pybind11::module_& module);

}  // namespace vantorel::python
