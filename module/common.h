// Helpers shared by the operations: the namespace lookups, the child-process runner and the
// boundary between C++ and the interpreter's exceptions.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

#include "module/dramforge_ops.h"

namespace dramforge {
namespace py = pybind11;

// The module namespace; every interpreter facility (os, shutil, platform, struct, pd, logger,
// the tool paths, the class itself) is looked up here at call time.
inline py::dict ns() { return py::reinterpret_borrow<py::dict>(module_ns()); }
inline py::object logger() { return ns()["logger"]; }

// A global name as a function of the module would see it: the namespace first, then the
// builtins (so open() can be patched on the module like any global). NameError when absent.
py::object lookup(const char* name);

// platform.system().lower() == "linux", through the namespace.
bool is_linux();

// Adds the execute bits to a file that lacks them; an executable file's mode is left alone.
// The file must exist (the caller tests that first).
void ensure_executable(const py::object& path);

struct tool_run {
  bool started = false;  // false: the program could not be started at all (missing, not executable)
  py::str output;        // its standard output as text (universal newlines), "" when not started
  py::str failure;       // why it could not be started, "" when started
};

// Runs argv[0] with the argument vector argv, without a shell; waits for it to end and returns
// its standard output read whole as text.
tool_run run_tool(const py::list& argv);

// `item in container` with the interpreter's rules (TypeError for a container that is no text).
bool contains(const py::handle& container, const py::handle& item);
bool contains(const py::handle& container, const char* needle);
// bool(o) with the interpreter's rules.
bool truthy(const py::handle& o);

inline void log_debug(const py::handle& message) { logger().attr("debug")(message); }
inline void log_error(const py::handle& message) { logger().attr("error")(message); }
// What a tool printed, at debug level; no record when it printed nothing or did not start.
inline void log_output(const tool_run& run) {
  if (truthy(run.output)) log_debug(run.output);
}

// A path as the logged command lines show it: in double quotes (the tool itself gets an
// argument vector, so nothing is ever quoted for a shell).
inline py::object quoted(const py::handle& path) { return py::str("\"") + path + py::str("\""); }

// The working directory of every operation.
inline constexpr const char* output_dir_name = "output";
// The copy that a save writes beside a DDR binary or a container: "NAME.bin" becomes
// "NAME_new.bin", any other name gains "_new.bin" (slicing and "+" are the interpreter's).
py::object new_bin_path(const py::object& path);

// A file opened through the interpreter's open(); closed on every way out.
class open_file {
 public:
  open_file(const py::object& path, const char* mode) : file_(lookup("open")(path, mode)) {}
  ~open_file();
  open_file(const open_file&) = delete;
  open_file& operator=(const open_file&) = delete;

  py::object read() { return file_.attr("read")(); }
  py::object read(Py_ssize_t n) { return file_.attr("read")(n); }
  void seek(const py::handle& offset) { file_.attr("seek")(offset); }
  void write(const py::handle& data) { file_.attr("write")(data); }
  void close() {
    closed_ = true;
    file_.attr("close")();
  }

 private:
  py::object file_;
  bool closed_ = false;
};

// Runs an operation body at the interpreter boundary: an interpreter exception raised inside
// passes to the caller unchanged; any other C++ exception becomes a RuntimeError.
template <typename Body>
PyObject* guarded(Body&& body) {
  try {
    py::object result = std::forward<Body>(body)();
    return result.release().ptr();
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return nullptr;
}

}  // namespace dramforge
