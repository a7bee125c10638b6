// DDR parameter operations (placeholder until they are built).
#include "dramforge_ops.h"

namespace dramforge {
namespace {
PyObject* not_yet(const char* name) {
  PyErr_Format(PyExc_NotImplementedError, "%s is not built yet", name);
  return nullptr;
}
}  // namespace
PyObject* get_ddr_params(PyObject*, PyObject*, PyObject*) { return not_yet("get_ddr_params"); }
PyObject* update_ddr_bin(PyObject*, PyObject*, PyObject*) { return not_yet("update_ddr_bin"); }
PyObject* cpmpare_ddr_param(PyObject*, PyObject*, PyObject*) { return not_yet("cpmpare_ddr_param"); }
}  // namespace dramforge
