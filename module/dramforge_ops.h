// The eight operations of the class dramforge. Each is a METH_VARARGS | METH_KEYWORDS C function
// whose self is the class object; the frame (dramforge.cpp) wires them into the class.
#pragma once

#include <Python.h>

namespace dramforge {

// The namespace dict of the module whose class the running operation was called on, bound by the
// module's exec slot. Operations look up os, shutil, platform, struct, pd, logger and the tool
// paths here at call time, so a host or a test can patch them. Borrowed reference; never null
// once the module is imported.
PyObject* module_ns();

// ddr_ops.cpp
PyObject* get_ddr_params(PyObject* cls, PyObject* args, PyObject* kwargs);
PyObject* update_ddr_bin(PyObject* cls, PyObject* args, PyObject* kwargs);
PyObject* cpmpare_ddr_param(PyObject* cls, PyObject* args, PyObject* kwargs);

// loader_ops.cpp (and the configuration table)
PyObject* check_if_loadr_file(PyObject* cls, PyObject* args, PyObject* kwargs);
PyObject* get_loader_param(PyObject* cls, PyObject* args, PyObject* kwargs);
PyObject* loader_unpack(PyObject* cls, PyObject* args, PyObject* kwargs);
PyObject* loader_pack(PyObject* cls, PyObject* args, PyObject* kwargs);
PyObject* get_cfg_file(PyObject* cls, PyObject* args, PyObject* kwargs);

}  // namespace dramforge
