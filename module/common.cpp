// Helpers shared by the operations.
#include "module/common.h"

#include <optional>

namespace dramforge {

py::object lookup(const char* name) {
  // Same resolution as a global name in a function of the module: namespace, then builtins.
  py::dict space = ns();
  if (space.contains(name)) return space[name];
  py::object builtins = py::reinterpret_borrow<py::object>(PyEval_GetBuiltins());
  PyObject* found = PyDict_GetItemString(builtins.ptr(), name);  // borrowed
  if (found == nullptr) {
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    throw py::error_already_set();
  }
  return py::reinterpret_borrow<py::object>(found);
}

bool contains(const py::handle& container, const py::handle& item) {
  const int found = PySequence_Contains(container.ptr(), item.ptr());
  if (found < 0) throw py::error_already_set();
  return found == 1;
}

bool contains(const py::handle& container, const char* needle) {
  return contains(container, py::str(needle));
}

bool truthy(const py::handle& o) {
  const int t = PyObject_IsTrue(o.ptr());
  if (t < 0) throw py::error_already_set();
  return t == 1;
}

open_file::~open_file() {
  if (closed_) return;
  try {
    file_.attr("close")();
  } catch (py::error_already_set&) {
    // an exception is already on its way out; it is the one the caller should see
  }
}

py::object new_bin_path(const py::object& path) {
  const py::str suffix("_new.bin");
  if (py::object(path[py::slice(-4, std::nullopt, std::nullopt)]).equal(py::str(".bin")))
    return py::object(path[py::slice(std::nullopt, -4, std::nullopt)]) + suffix;
  return path + suffix;
}

bool is_linux() {
  py::object system = ns()["platform"].attr("system")();
  return system.attr("lower")().equal(py::str("linux"));
}

void ensure_executable(const py::object& path) {
  py::object os = ns()["os"];
  if (py::bool_(os.attr("access")(path, os.attr("X_OK")))) return;
  py::int_ mode = os.attr("stat")(path).attr("st_mode");
  // Keep the permission bits as they are and add execute for owner, group and others.
  long bits = (mode.cast<long>() & 07777) | 0111;
  os.attr("chmod")(path, py::int_(bits));
}

tool_run run_tool(const py::list& argv) {
  // subprocess stays out of the module namespace: it is this helper's business alone. No shell:
  // every argument reaches the program literally.
  py::module_ subprocess = py::module_::import("subprocess");
  tool_run run;
  try {
    py::object done = subprocess.attr("run")(argv, py::arg("stdout") = subprocess.attr("PIPE"),
                                             py::arg("universal_newlines") = true);
    run.started = true;
    run.output = py::str(done.attr("stdout"));
  } catch (py::error_already_set& e) {
    // Only a program that cannot be started (missing, not executable, bad format) is reported
    // here; anything else is the interpreter's business and goes on to the caller.
    if (!e.matches(PyExc_OSError)) throw;
    run.started = false;
    run.output = py::str("");
    run.failure = py::str(e.value());
  }
  return run;
}

}  // namespace dramforge
