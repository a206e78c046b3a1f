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

// The output options from Python's keywords (their names and types already checked by
// the package against output_options()), checked against the table's ranges.
OutputOptions CheckedOptions(const py::dict& keywords) {
  OutputOptions options;
  for (const OutputOptionSpec& entry : OutputOptionTable()) {
    if (!keywords.contains(entry.python_name)) continue;
    const py::handle value = keywords[entry.python_name];
    if (entry.kind == OutputOptionSpec::Kind::kFlag) {
      options.*entry.flag = value.cast<bool>();
    } else {
      options.*entry.number = value.cast<int>();
    }
  }
  std::string problem;
  if (!CheckOutputOptions(options, problem)) throw py::value_error(problem);
  return options;
}


const char* StatusName(Outcome::Status status) {
  switch (status) {
    case Outcome::Status::kWritten: return "written";
    case Outcome::Status::kNothingToDo: return "nothing to do";
    case Outcome::Status::kUnreadable: return "unreadable";
    case Outcome::Status::kWriteProtected: return "write-protected";
    case Outcome::Status::kNoSpace: return "no space";
    case Outcome::Status::kFailed: break;
  }
  return "failed";
}

py::tuple DehazeFileCall(const std::string& source, const std::string& result,
                         const py::object& thickness_arg, const py::object& look_arg,
                         const py::dict& keywords) {
  const float thickness = CheckThickness(thickness_arg);
  const Look look = CheckLook(look_arg);
  const OutputOptions options = CheckedOptions(keywords);
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
  module.def(
      "output_options",
      [] {
        py::list options;
        for (const OutputOptionSpec& entry : OutputOptionTable()) {
          const bool flag = entry.kind == OutputOptionSpec::Kind::kFlag;
          options.append(py::make_tuple(entry.python_name, flag ? "bool" : "int", entry.min, entry.max,
                                        flag ? py::cast(false) : py::cast(entry.DefaultNumber()), entry.help));
        }
        return options;
      },
      "The output options' table: (keyword, type, min, max, default, help) each");
  module.def("dehaze_file", &DehazeFileCall, py::arg("source"), py::arg("result"),
             py::arg("thickness"), py::arg("look"), py::arg("options"),
             "(status, error, note, seconds) of the layer's DehazeFile, after the checks");
  module.def(
      "check_file_arguments",
      [](const std::string& result, const py::object& thickness, const py::object& look,
         const py::dict& keywords) {
        CheckThickness(thickness);
        CheckLook(look);
        CheckResultFormat(result, CheckedOptions(keywords));
      },
      py::arg("result"), py::arg("thickness"), py::arg("look"), py::arg("options"),
      "The checks of dehaze_file alone: raises what it would raise before any work");
}

}  // namespace vantorel::python
