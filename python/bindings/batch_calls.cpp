#include "bindings/batch_calls.h"

#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "dehazefile/batch_plan.h"

namespace py = pybind11;

namespace vantorel::python {

namespace {

// ([(source, result)], [note]) as PlanBatch plans them; ValueError with the planner's
// reason when it refuses the batch.
py::tuple PlanBatchCall(const std::vector<std::string>& sources, const std::string& output_dir, bool recursive,
                        const std::string& format, const std::string& suffix, int depth) {
  BatchRequest request;
  request.sources = sources;
  request.output_dir = output_dir;
  request.recursive = recursive;
  request.suffix = suffix;
  request.depth = depth;
  std::string error;
  if (!BatchFormat(format, request.format, error)) throw py::value_error("format " + format + ": " + error);
  std::vector<BatchItem> items;
  std::vector<std::string> notes;
  bool planned = false;
  {
    py::gil_scoped_release release;
    planned = PlanBatch(request, items, error, notes);
  }
  if (!planned) throw py::value_error(error);
  py::list pairs;
  for (const BatchItem& item : items) pairs.append(py::make_tuple(item.source, item.result));
  return py::make_tuple(pairs, notes);
}

}  // namespace

void AddBatchCalls(py::module_& module) {
  module.def("plan_batch", &PlanBatchCall, py::arg("sources"), py::arg("output_dir"), py::arg("recursive"),
             py::arg("format"), py::arg("suffix"), py::arg("depth") = 0,
             "([(source, result)], [note]): the command line's batch plan, or ValueError");
}

}  // namespace vantorel::python
