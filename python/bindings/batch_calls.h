// The batch plan for the Python package: the file layer's planner, so that the Dask runner
// takes the same sources and refuses the same batches as the command line.
#pragma once

#include <pybind11/pybind11.h>

namespace vantorel::python {

void AddBatchCalls(pybind11::module_& module);

}  // namespace vantorel::python
