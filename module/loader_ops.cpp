// Loader container operations (placeholder until they are built).
#include "dramforge_ops.h"

namespace dramforge {
namespace {
PyObject* not_yet(const char* name) {
  PyErr_Format(PyExc_NotImplementedError, "%s is not built yet", name);
  return nullptr;
}
}  // namespace
PyObject* check_if_loadr_file(PyObject*, PyObject*, PyObject*) { return not_yet("check_if_loadr_file"); }
PyObject* get_loader_param(PyObject*, PyObject*, PyObject*) { return not_yet("get_loader_param"); }
PyObject* loader_unpack(PyObject*, PyObject*, PyObject*) { return not_yet("loader_unpack"); }
PyObject* loader_pack(PyObject*, PyObject*, PyObject*) { return not_yet("loader_pack"); }
PyObject* get_cfg_file(PyObject*, PyObject*, PyObject*) { return not_yet("get_cfg_file"); }
}  // namespace dramforge
