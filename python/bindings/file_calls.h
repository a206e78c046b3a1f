// The file calls of the Python package, over the shared file layer (src/dehazefile).
#pragma once

#include <pybind11/pybind11.h>

namespace vantorel::python {

// Adds dehaze_file and check_file_arguments to the module.
void AddFileCalls(pybind11::module_& module);

}  // namespace vantorel::python
