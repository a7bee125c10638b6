// Module frame: the entry point, the module namespace and the class dramforge with its eight
// operations. Plain C API on purpose: the class must be exactly what type("dramforge", (), ns)
// gives, and each operation a builtin function whose self is the class, so it is called on the
// class with exactly the arguments given and reports "dramforge.<name>" as its qualname.
#include <vector>

#include "module/dramforge_ops.h"

namespace dramforge {
namespace {

// Every module object made from this library (a second one appears when the module is dropped
// from sys.modules and imported again) has its own namespace and class. An operation works in the
// namespace of the module whose class it was called on, as a function of that module would.
struct binding {
  PyObject* cls;  // strong references: modules stay loaded
  PyObject* ns;
};
std::vector<binding> g_bindings;
thread_local PyObject* t_ns = nullptr;  // namespace of the operation running on this thread

PyObject* ns_of(PyObject* cls) {
  for (const binding& b : g_bindings)
    if (b.cls == cls) return b.ns;
  return g_bindings.empty() ? nullptr : g_bindings.back().ns;
}

template <PyObject* (*Op)(PyObject*, PyObject*, PyObject*)>
PyObject* in_own_namespace(PyObject* cls, PyObject* args, PyObject* kwargs) {
  PyObject* outer = t_ns;  // an operation may call another one (loader_unpack)
  t_ns = ns_of(cls);
  PyObject* result = Op(cls, args, kwargs);
  t_ns = outer;
  return result;
}

// Text signatures ("name($cls, /, ...)\n--\n\n") feed inspect.signature; __doc__ is what follows
// them, or None when nothing does.
#define DF_SIG(name, params) name "($cls, /" params ")\n--\n\n"

constexpr const char* doc_get_cfg_file =
    DF_SIG("get_cfg_file", ", csv_file_path")
    "\n"
    "        读取config文件(.csv)\n"
    "        :Param Str file_path: config文件(.csv)路径\n"
    "        :Return Dataframe data_df: 文件数据\n"
    "        ";

constexpr const char* doc_loader_unpack =
    DF_SIG("loader_unpack", ", loader_file_path, chip_name='NULL'")
    "\n"
    "        使用imgwelder工具对loader文件进行解包\n"
    "        :Param Str file_path: loader.bin文件路径\n"
    "        :Return Dict loader_params_dict: 解包后获取的loader参数\n"
    "        ";

// The four status lines are indented so that their colons line up under each other.
constexpr const char* doc_get_ddr_params =
    DF_SIG("get_ddr_params", ", ddr_bin_file_path, chip_name='NULL', chip_other='NULL'")
    "\n"
    "        从ddr bin中获取DDR配置参数ddr params\n"
    "        :Param Str ddr_bin_file_path: ddr bin的文件路径\n"
    "        :Param Str chip_name:\n"
    "        :Param Str chip_chip_othername:\n"
    "        :Return Dict res_dict: ddr配置参数\n"
    "        :Return Int ret_int:\n"
    "             0 : Pass\n"
    "            -1 : The vexdram file does not match the chip_name\n"
    "            -2 : vexdram_tool chip name error\n"
    "            -3 : vexdram_tool does not exist\n"
    "        ";

constexpr const char* doc_update_ddr_bin =
    DF_SIG("update_ddr_bin",
           ", res_dict, ddr_bin_path, chip_name='NULL', chip_other='NULL', "
           "ddr_bin_path_rename=True")
    "\n"
    "        DDR配置参数ddr params重新生成ddr bin\n"
    "        :Param Dict res_dict: ddr配置参数\n"
    "        ";

constexpr int kFlags = METH_VARARGS | METH_KEYWORDS;

#define DF_FN(f) \
  reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(in_own_namespace<f>))

// The class's functions, in the order they are bound.
PyMethodDef g_methods[] = {
    {"check_if_loadr_file", DF_FN(check_if_loadr_file), kFlags,
     DF_SIG("check_if_loadr_file", ", loader_file_path")},
    {"get_loader_param", DF_FN(get_loader_param), kFlags,
     DF_SIG("get_loader_param", ", loader_file_path")},
    {"get_cfg_file", DF_FN(get_cfg_file), kFlags, doc_get_cfg_file},
    {"loader_unpack", DF_FN(loader_unpack), kFlags, doc_loader_unpack},
    {"loader_pack", DF_FN(loader_pack), kFlags,
     DF_SIG("loader_pack", ", loader_params_dict, loader_file_rename=True")},
    {"get_ddr_params", DF_FN(get_ddr_params), kFlags, doc_get_ddr_params},
    {"update_ddr_bin", DF_FN(update_ddr_bin), kFlags, doc_update_ddr_bin},
    {"cpmpare_ddr_param", DF_FN(cpmpare_ddr_param), kFlags, DF_SIG("cpmpare_ddr_param", "")},
    {nullptr, nullptr, 0, nullptr},
};

#undef DF_FN
#undef DF_SIG

// Binds ns[name] = import_module(module); -1 with the import's exception set on failure.
int bind_import(PyObject* ns, const char* name, const char* module) {
  PyObject* m = PyImport_ImportModule(module);
  if (m == nullptr) return -1;
  int rc = PyDict_SetItemString(ns, name, m);
  Py_DECREF(m);
  return rc;
}

int bind_text(PyObject* ns, const char* name, const char* text) {
  PyObject* s = PyUnicode_FromString(text);
  if (s == nullptr) return -1;
  int rc = PyDict_SetItemString(ns, name, s);
  Py_DECREF(s);
  return rc;
}

// type("dramforge", (), {"__module__": ..., "__qualname__": "dramforge", <eight names>}). The
// class is named dramforge whatever name the module was imported under (inside a package too);
// only __module__ follows the module. The eight names are reserved in the namespace first so that
// the class dict keeps the operation order of a class statement; the functions need the class as
// their self, so they replace the placeholders after.
PyObject* make_class(PyObject* module_name) {
  PyObject* body = PyDict_New();
  if (body == nullptr) return nullptr;
  PyObject* cls = nullptr;
  PyObject* call_args = nullptr;
  bool ok = PyDict_SetItemString(body, "__module__", module_name) == 0 &&
            bind_text(body, "__qualname__", "dramforge") == 0;
  for (PyMethodDef* m = g_methods; ok && m->ml_name != nullptr; ++m)
    ok = PyDict_SetItemString(body, m->ml_name, Py_None) == 0;
  if (ok) call_args = Py_BuildValue("(s()O)", "dramforge", body);
  if (call_args != nullptr)
    cls = PyObject_Call(reinterpret_cast<PyObject*>(&PyType_Type), call_args, nullptr);
  Py_XDECREF(call_args);
  Py_DECREF(body);
  if (cls == nullptr) return nullptr;

  for (PyMethodDef* m = g_methods; m->ml_name != nullptr; ++m) {
    PyObject* fn = PyCFunction_NewEx(m, cls, module_name);
    if (fn == nullptr || PyObject_SetAttrString(cls, m->ml_name, fn) < 0) {
      Py_XDECREF(fn);
      Py_DECREF(cls);
      return nullptr;
    }
    Py_DECREF(fn);
  }
  return cls;
}

int exec_module(PyObject* module) {
  PyObject* ns = PyModule_GetDict(module);  // borrowed
  if (ns == nullptr) return -1;
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return -1;

  int rc = -1;
  PyObject* logging = nullptr;
  PyObject* root = nullptr;
  PyObject* cls = nullptr;
  // Same order as the import statements of the module: pandas is required, and its failure
  // ends the import with pandas's own exception.
  if (bind_import(ns, "sys", "sys") < 0 || bind_import(ns, "os", "os") < 0 ||
      bind_import(ns, "platform", "platform") < 0 || bind_import(ns, "shutil", "shutil") < 0 ||
      bind_import(ns, "struct", "struct") < 0 || bind_import(ns, "pd", "pandas") < 0 ||
      bind_import(ns, "logging", "logging") < 0)
    goto done;
  if (bind_text(ns, "imgweld_tool_win_path", "resource\\tools\\imgwelder.exe") < 0 ||
      bind_text(ns, "ddr_bin_tool_win_path", "resource\\tools\\vexdram_tool.exe") < 0 ||
      bind_text(ns, "imgweld_tool_linux_path", "resource/tools/imgwelder") < 0 ||
      bind_text(ns, "ddr_bin_tool_linux_path", "resource/tools/vexdram_tool") < 0)
    goto done;

  logging = PyDict_GetItemString(ns, "logging");  // borrowed
  root = PyObject_CallMethod(logging, "getLogger", nullptr);
  if (root == nullptr || PyDict_SetItemString(ns, "logger", root) < 0) goto done;

  cls = make_class(module_name);
  if (cls == nullptr || PyDict_SetItemString(ns, "dramforge", cls) < 0) goto done;

  Py_INCREF(ns);
  Py_INCREF(cls);
  g_bindings.push_back({cls, ns});
  rc = 0;
done:
  Py_XDECREF(cls);
  Py_XDECREF(root);
  Py_DECREF(module_name);
  return rc;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef g_def = {
    PyModuleDef_HEAD_INIT,
    "dramforge",  // m_name
    nullptr,      // m_doc: none
    0,            // m_size: all state lives in the namespace
    nullptr,      // m_methods: no module-level functions
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyObject* module_ns() { return t_ns != nullptr ? t_ns : ns_of(nullptr); }

}  // namespace dramforge

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_dramforge(void) {
  return PyModuleDef_Init(&dramforge::g_def);
}
