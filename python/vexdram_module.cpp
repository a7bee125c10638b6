// The Python package `vexdram`: the library (vexdram/vexdram.h) in process. A thin layer: each
// typed outcome of the library becomes a Python value or exception here, and no rule of the
// engine is stated again. The interpreter's lock is let go while files are read and written.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <vexdram/vexdram.h>

namespace py = pybind11;

namespace {

// The exception classes, made once at import.
PyObject* error_type = nullptr;     // vexdram.Error
PyObject* refused_type = nullptr;   // vexdram.Refused (a ValueError)
PyObject* bad_file_type = nullptr;  // vexdram.BadFile (a ValueError)
PyObject* busy_type = nullptr;      // vexdram.Busy
PyObject* changed_type = nullptr;   // vexdram.Changed
PyObject* not_a_lock_type = nullptr;  // vexdram.NotALock (a FileExistsError)

PyObject* new_type(py::module_& m, const char* name, const char* doc, PyObject* bases) {
  const std::string qualified = std::string("vexdram.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases, nullptr);
  if (!type) throw py::error_already_set();
  m.add_object(name, py::reinterpret_borrow<py::object>(type));
  return type;
}

// Raises an exception of `type`, made from args, with the library's code and file on it.
// A refusal's problems are its lines.
void raise_with(PyObject* type, const py::tuple& args, const vexdram::error& e) {
  py::object exc = py::reinterpret_borrow<py::object>(type)(*args);
  exc.attr("code") = vexdram::name_of(e.code());
  exc.attr("file") = e.file().empty() ? py::none() : py::object(py::str(e.file()));
  if (type == busy_type)
    exc.attr("holder") = e.holder() > 0 ? py::object(py::int_(e.holder())) : py::none();
  if (type == refused_type) {
    exc.attr("why") = e.why() ? py::object(py::str(vexdram::name_of(*e.why()))) : py::none();
    std::vector<std::string> problems;
    const std::string text = e.what();
    for (std::size_t at = 0; at <= text.size();) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      problems.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    exc.attr("problems") = problems;
  }
  PyErr_SetObject(type, exc.ptr());
}

// OSError(errno, text, file) is made the subclass the errno names (FileExistsError, ...).
void raise_os(const vexdram::error& e, int fallback, PyObject* type = PyExc_OSError) {
  const int code = e.sys() != 0 ? e.sys() : fallback;
  py::tuple args =
      e.file().empty() ? py::make_tuple(code, e.what()) : py::make_tuple(code, e.what(), e.file());
  raise_with(type, args, e);
}

// A library error as the Python exception its code calls for.
void raise_error(const vexdram::error& e) {
  using vexdram::errc;
  switch (e.code()) {
    case errc::cannot_open:
    case errc::cannot_read:
    case errc::write_failed:
    case errc::not_synced: return raise_os(e, EIO);
    case errc::check_failed: return raise_os(e, EIO);
    case errc::is_directory: return raise_os(e, EISDIR);
    case errc::exists: return raise_os(e, EEXIST);
    case errc::read_only: return raise_os(e, EACCES);
    case errc::no_directory: return raise_os(e, ENOENT);
    case errc::not_a_file:
    case errc::device_name:
    case errc::changed_while_read:
    case errc::bad_block:
    case errc::bad_container:
    case errc::bad_params: return raise_with(bad_file_type, py::make_tuple(e.what()), e);
    case errc::unknown_chip:
    case errc::no_chip:
    case errc::bad_value:
    case errc::refused:
    case errc::output_is_input: return raise_with(refused_type, py::make_tuple(e.what()), e);
    case errc::unknown_key: return raise_with(PyExc_KeyError, py::make_tuple(e.what()), e);
    case errc::busy: return raise_with(busy_type, py::make_tuple(e.what()), e);
    case errc::not_a_lock: return raise_os(e, EEXIST, not_a_lock_type);
    case errc::changed: return raise_with(changed_type, py::make_tuple(e.what()), e);
    case errc::out_of_memory: PyErr_NoMemory(); return;
  }
  raise_with(error_type, py::make_tuple(e.what()), e);
}

// Several refusals at once: Refused, every one listed.
[[noreturn]] void refuse(const std::vector<std::string>& problems, const std::string& file) {
  std::string text;
  for (const std::string& p : problems) text += (text.empty() ? "" : "\n") + p;
  throw vexdram::error(vexdram::errc::refused, text, file);
}

std::size_t parameter(const std::string& key) { return vexdram::parameter_named(key); }

// The 484 keys as Python strings, made once: a dict of every value is then a few microseconds.
std::vector<py::object>& key_objects() {
  static std::vector<py::object>* keys = [] {
    auto* k = new std::vector<py::object>;  // lives as long as the interpreter's own strings
    for (std::size_t n = 0; n < vexdram::parameter_count; ++n)
      k->push_back(py::reinterpret_steal<py::object>(
          PyUnicode_InternFromString(std::string(vexdram::key_of(n)).c_str())));
    return k;
  }();
  return *keys;
}
const py::object& key_object(std::size_t n) { return key_objects()[n]; }

// A value given from Python: an int or a text, read by the value rule.
std::uint32_t value_of(const py::handle& v, const std::string& key, const std::string& file) {
  std::string text;
  if (py::isinstance<py::bool_>(v) || !(py::isinstance<py::int_>(v) || py::isinstance<py::str>(v)))
    throw py::type_error("a value is an int or a str, not " +
                         std::string(py::str(py::type::handle_of(v).attr("__name__"))));
  text = py::isinstance<py::str>(v) ? v.cast<std::string>() : std::string(py::str(v));
  const vexdram::parsed_value parsed = vexdram::parse_value(text);
  if (!parsed.value)
    throw vexdram::error(vexdram::errc::bad_value, key + "=" + text + ": " + parsed.reason, file);
  return *parsed.value;
}

// A parameter file, read.
struct params {
  vexdram::param_file file;
  std::string name;  // its path, or "" for a text
};

std::vector<std::string> problems_of(const params& p) {
  std::vector<std::string> out;
  for (const auto& pr : p.file.problems)
    out.push_back("line " + std::to_string(pr.line) + ": " + pr.reason);
  return out;
}

// An image, and a lock that keeps one thread from editing it while another writes it.
struct image {
  vexdram::image img;
  std::mutex busy;

  explicit image(vexdram::image i) : img(std::move(i)) {}
  // Held while the interpreter's lock is, without blocking the interpreter while another
  // thread writes the image.
  std::unique_lock<std::mutex> hold() {
    std::unique_lock<std::mutex> l(busy, std::try_to_lock);
    if (!l) {
      py::gil_scoped_release free;
      l.lock();
    }
    return l;
  }
};

// Every value as a dict: a copy of a dict of every key, made once (copied whole, it needs no
// growing), its values then put in place.
py::dict values_of(const vexdram::image& img) {
  static PyObject* every_key = [] {
    PyObject* d = PyDict_New();
    for (std::size_t n = 0; d && n < vexdram::parameter_count; ++n)
      if (PyDict_SetItem(d, key_object(n).ptr(), Py_None) != 0) Py_CLEAR(d);
    return d;
  }();
  if (!every_key) throw py::error_already_set();
  py::dict d = py::reinterpret_steal<py::dict>(PyDict_Copy(every_key));
  if (!d) throw py::error_already_set();
  for (std::size_t n = 0; n < vexdram::parameter_count; ++n) {
    py::object v = py::reinterpret_steal<py::object>(PyLong_FromUnsignedLong(img.value(n)));
    if (!v || PyDict_SetItem(d.ptr(), key_object(n).ptr(), v.ptr()) != 0)
      throw py::error_already_set();
  }
  return d;
}

py::list key_list() {
  py::list keys(vexdram::parameter_count);
  for (std::size_t n = 0; n < vexdram::parameter_count; ++n) keys[n] = key_object(n);
  return keys;
}

const char* kind_name(vexdram::image_kind k) {
  return k == vexdram::image_kind::ddr ? "ddr" : "loader";
}

const char* state_name(vexdram::storage_info::state s) {
  using st = vexdram::storage_info::state;
  switch (s) {
    case st::stored: return "stored";
    case st::no_section: return "no_section";
    case st::version_lacks: return "version_lacks";
    case st::section_short: return "section_short";
    case st::skew_not_read: return "skew_not_read";
    case st::reads_as_zero: return "reads_as_zero";
    case st::short_form: return "short_form";
  }
  return "";
}

const char* module_doc =
    "DDR binaries and loader containers in process: the engine of vexdram and vexdram_tool.\n\n"
    "    img = vexdram.open('board_tq6583_ddr.bin')\n"
    "    img['ddr3_freq'] = 933          # checked at once: vexdram.Refused when it cannot be\n"
    "    img.write('out/board_tq6583_ddr.bin')\n\n"
    "Reference: docs/python.md.";

}  // namespace

PYBIND11_MODULE(vexdram, m) {
  m.doc() = module_doc;
  m.attr("__version__") = vexdram::version();

  error_type = new_type(m, "Error",
                        "What vexdram raises of its own; code names what happened, file the file.",
                        PyExc_Exception);
  refused_type = new_type(
      m, "Refused",
      "What was asked is refused: a value, an edit, a chip, a parameter file's lines. problems "
      "lists every reason; why names the refusal of one edit ('unwritable', 'fixed', "
      "'not_stored', 'too_wide', 'zero_keeps'), else None.",
      py::make_tuple(py::handle(error_type), py::handle(PyExc_ValueError)).release().ptr());
  bad_file_type = new_type(
      m, "BadFile",
      "The file is not one vexdram reads or writes: no DDR binary or container it can read, or "
      "not a regular file.",
      py::make_tuple(py::handle(error_type), py::handle(PyExc_ValueError)).release().ptr());
  busy_type =
      new_type(m, "Busy",
               "Another run (of vexdram, or of this package) holds the target's lock; holder is its "
               "process when the system says which, else None.",
               error_type);
  changed_type = new_type(
      m, "Changed", "The file was changed by another program after it was read; nothing written.",
      error_type);
  not_a_lock_type = new_type(
      m, "NotALock",
      "What stands at the target's lock name (NAME.lock) is no lock of vexdram's (a directory, a "
      "FIFO, a link): it is left as it is, and nothing is written.",
      py::make_tuple(py::handle(error_type), py::handle(PyExc_FileExistsError)).release().ptr());
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vexdram::error& e) {
      raise_error(e);
    }
  });

  py::class_<vexdram::storage_info>(m, "Storage",
                                    "Where an image stores a parameter, or why it does not.")
      .def_property_readonly(
          "stored", [](const vexdram::storage_info& s) { return s.stored(); }, "True when stored.")
      .def_property_readonly(
          "state", [](const vexdram::storage_info& s) { return state_name(s.why); },
          "'stored', or why not: 'no_section', 'version_lacks', 'section_short', "
          "'skew_not_read', 'reads_as_zero', 'short_form'.")
      .def_property_readonly(
          "width",
          [](const vexdram::storage_info& s) -> std::optional<unsigned> {
            if (!s.stored()) return std::nullopt;
            return s.width;
          },
          "The field's width in bits, when stored.")
      .def_property_readonly(
          "section",
          [](const vexdram::storage_info& s) -> std::optional<std::string> {
            if (s.section.empty()) return std::nullopt;
            return s.section;
          },
          "The section that holds it ('DDR3', 'skew', 'record'), when there is one.")
      .def_property_readonly(
          "reason",
          [](const vexdram::storage_info& s) -> std::optional<std::string> {
            if (s.stored()) return std::nullopt;
            return s.reason;
          },
          "None when stored; else vexdram's words for why not.")
      .def_property_readonly(
          "zero_refused",
          [](const vexdram::storage_info& s) -> std::optional<std::string> {
            if (s.zero_refused.empty()) return std::nullopt;
            return s.zero_refused;
          },
          "A tq6951 skew lane that holds a value other than 0 takes any other value that fits, "
          "but not 0 (which keeps a lane): vexdram's words for that; None for every other "
          "parameter.")
      .def("__str__",
           [](const vexdram::storage_info& s) { return s.stored() ? "stored" : s.reason; })
      .def("__repr__", [](const vexdram::storage_info& s) {
        return std::string("<vexdram.Storage ") + state_name(s.why) + ">";
      });

  py::class_<params>(m, "Params",
                     "A parameter file or report, read strictly: a mapping of the values it "
                     "gives (a blank value gives none), with the lines it gives them on and the "
                     "lines that cannot be used.")
      .def_property_readonly(
          "lines",
          [](const params& p) {
            std::vector<py::tuple> out;
            for (const auto& v : p.file.values)
              out.push_back(py::make_tuple(v.line, std::string(vexdram::key_of(v.n)), v.number));
            return out;
          },
          "(line, key, value) for each value, in the file's order.")
      .def_property_readonly(
          "problems",
          [](const params& p) {
            std::vector<py::tuple> out;
            for (const auto& pr : p.file.problems)
              out.push_back(py::make_tuple(pr.line, pr.reason));
            return out;
          },
          "(line, reason) for each line that cannot be used; empty when every line can.")
      .def_property_readonly(
          "name",
          [](const params& p) -> std::optional<std::string> {
            if (p.name.empty()) return std::nullopt;
            return p.name;
          },
          "The file's path, or None for a text.")
      .def("__len__", [](const params& p) { return p.file.values.size(); })
      .def("__contains__",
           [](const params& p, const std::string& key) {
             const auto n = vexdram::parameter_of(key);
             for (const auto& v : p.file.values)
               if (n && v.n == *n) return true;
             return false;
           })
      .def("__getitem__",
           [](const params& p, const std::string& key) {
             const std::size_t n = parameter(key);
             for (const auto& v : p.file.values)
               if (v.n == n) return v.number;
             throw py::key_error(key);
           })
      .def("__iter__",
           [](const params& p) {
             py::list keys;
             for (const auto& v : p.file.values) keys.append(std::string(vexdram::key_of(v.n)));
             return py::iter(keys);
           })
      .def("keys",
           [](const params& p) {
             std::vector<std::string> out;
             for (const auto& v : p.file.values) out.emplace_back(vexdram::key_of(v.n));
             return out;
           })
      .def("items",
           [](const params& p) {
             std::vector<py::tuple> out;
             for (const auto& v : p.file.values)
               out.push_back(py::make_tuple(std::string(vexdram::key_of(v.n)), v.number));
             return out;
           })
      .def("__repr__", [](const params& p) {
        return "<vexdram.Params " + (p.name.empty() ? std::string("text") : p.name) + ": " +
               std::to_string(p.file.values.size()) + " values, " +
               std::to_string(p.file.problems.size()) + " problems>";
      });

  py::class_<image>(m, "Image",
                    "A DDR binary, or a loader container's DDR image, read into its 484 values. "
                    "It reads like a mapping of key to int; setting a value checks it at once.")
      .def_property_readonly(
          "path", [](image& i) { return i.img.path(); }, "The file's path (for bytes, the name).")
      .def_property_readonly(
          "chip", [](image& i) { return i.img.chip(); }, "The chip it is read for.")
      .def_property_readonly(
          "kind", [](image& i) { return kind_name(i.img.kind()); }, "'ddr' or 'loader'.")
      .def_property_readonly(
          "version", [](image& i) { return i.img.version(); }, "The block version (0 to 5).")
      .def_property_readonly(
          "notes", [](image& i) { return i.img.notes(); },
          "Warnings about what was read (a skew section of another sub-version).")
      .def_property_readonly(
          "unwritable",
          [](image& i) -> std::optional<std::string> {
            const auto held = i.hold();
            if (auto r = i.img.unwritable()) return r->text;
            return std::nullopt;
          },
          "None when edits of this image can be written; else vexdram's words for why none can.")
      .def("__len__", [](image&) { return vexdram::parameter_count; })
      .def("__contains__",
           [](image&, const py::object& key) {
             return py::isinstance<py::str>(key) &&
                    vexdram::parameter_of(key.cast<std::string>()).has_value();
           })
      .def("__iter__", [](image&) { return py::iter(key_list()); })
      .def(
          "__getitem__",
          [](image& i, const std::string& key) {
            const auto held = i.hold();
            return i.img.value(parameter(key));
          },
          "The value: as read, or as set since.")
      .def(
          "__setitem__",
          [](image& i, const std::string& key, const py::object& value) {
            const std::size_t n = parameter(key);
            const std::uint32_t v = value_of(value, key, i.img.path());
            const auto held = i.hold();
            i.img.set(n, v);
          },
          "Sets a value in memory, checked at once: vexdram.Refused with vexdram's reason (its why "
          "names the refusal).")
      .def(
          "get",
          [](image& i, const std::string& key, py::object fallback) -> py::object {
            const auto n = vexdram::parameter_of(key);
            if (!n) return fallback;
            const auto held = i.hold();
            return py::int_(i.img.value(*n));
          },
          py::arg("key"), py::arg("default") = py::none())
      .def("keys", [](image&) { return key_list(); })
      .def("values",
           [](image& i) {
             const auto held = i.hold();
             std::vector<std::uint32_t> out;
             for (std::size_t n = 0; n < vexdram::parameter_count; ++n)
               out.push_back(i.img.value(n));
             return out;
           })
      .def("items",
           [](image& i) {
             const auto held = i.hold();
             py::list out(vexdram::parameter_count);
             for (std::size_t n = 0; n < vexdram::parameter_count; ++n)
               out[n] = py::make_tuple(key_object(n), i.img.value(n));
             return out;
           })
      .def(
          "as_dict",
          [](image& i) {
            const auto held = i.hold();
            return values_of(i.img);
          },
          "Every value, in catalogue order, as a dict.")
      .def(
          "original",
          [](image& i, const std::string& key) {
            const auto held = i.hold();
            return i.img.original(parameter(key));
          },
          "The value as read from the file.")
      .def(
          "storage",
          [](image& i, const std::string& key) {
            const auto held = i.hold();
            return i.img.where(parameter(key));
          },
          "Where the image stores the parameter, or why it does not (vexdram.Storage).")
      .def(
          "check",
          [](image& i, const std::string& key,
             const py::object& value) -> std::optional<std::string> {
            const std::size_t n = parameter(key);
            const vexdram::parsed_value parsed =
                vexdram::parse_value(py::isinstance<py::str>(value) ? value.cast<std::string>()
                                                                    : std::string(py::str(value)));
            if (!parsed.value) return parsed.reason;
            const auto held = i.hold();
            if (auto r = i.img.unwritable()) return r->text;
            if (auto r = i.img.check(n, *parsed.value)) return r->text;
            return std::nullopt;
          },
          py::arg("key"), py::arg("value"),
          "None when the value may be set; else vexdram's reason why not.")
      .def(
          "changes",
          [](image& i) {
            const auto held = i.hold();
            py::dict d;
            for (const vexdram::image::edit& e : i.img.edits())
              if (e.value != i.img.original(e.n))
                d[key_object(e.n)] = py::make_tuple(i.img.original(e.n), e.value);
            return d;
          },
          "{key: (as read, as set)} for each value set to another than the one read.")
      .def(
          "apply",
          [](image& i, const params& p) {
            const auto held = i.hold();
            std::vector<std::string> problems = problems_of(p);
            if (problems.empty()) {
              if (auto r = i.img.unwritable()) problems.push_back(r->text);
              for (const auto& r : i.img.check(p.file))
                problems.push_back("line " + std::to_string(r.line) + ": " +
                                   std::string(vexdram::key_of(r.n)) + "=" +
                                   vexdram::value_text(r.n, r.value) + ": " + r.why.text);
            }
            if (!problems.empty()) refuse(problems, i.img.path());
            i.img.apply(p.file);
          },
          "Sets every value a parameter file gives, or none: vexdram.Refused lists every problem.")
      .def(
          "diff",
          [](image& i, const py::object& other) {
            const auto held = i.hold();
            py::dict d;
            if (py::isinstance<params>(other)) {
              const params& p = other.cast<const params&>();
              for (const auto& v : p.file.values)
                if (i.img.value(v.n) != v.number)
                  d[key_object(v.n)] = py::make_tuple(i.img.value(v.n), v.number);
              return d;
            }
            image& o = other.cast<image&>();
            const auto other_held = &o == &i ? std::unique_lock<std::mutex>() : o.hold();
            for (std::size_t n = 0; n < vexdram::parameter_count; ++n)
              if (i.img.value(n) != o.img.value(n))
                d[key_object(n)] = py::make_tuple(i.img.value(n), o.img.value(n));
            return d;
          },
          py::arg("other"),
          "{key: (this, other)} for each parameter whose values differ, in catalogue order; "
          "other is an Image or Params (what a parameter file leaves blank is no difference).")
      .def(
          "report",
          [](image& i) {
            const auto held = i.hold();
            return i.img.report();
          },
          "The report, byte for byte as vexdram_tool's report mode writes it.")
      .def(
          "to_bytes",
          [](image& i) {
            std::vector<std::uint8_t> bytes;
            {
              const auto held = i.hold();
              py::gil_scoped_release free;
              bytes = i.img.to_bytes();
            }
            return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
          },
          "The file's bytes with the edits made, checked as a written file is.")
      .def(
          "write",
          [](image& i, const std::optional<std::string>& path, bool force, double wait) {
            const auto held = i.hold();
            py::gil_scoped_release free;
            i.img.write(path.value_or(""), {force, wait});
          },
          py::arg("path") = py::none(), py::arg("force") = false, py::arg("wait") = 0.0,
          "Writes the edited image to path, or in place when path is None, as vexdram writes: "
          "whole to a new file beside it (its lock), synced, read back and checked, then "
          "renamed over the target. An existing path is replaced only with force (in place, "
          "force also replaces a read-only file); in place, nothing is written when no value "
          "changes. vexdram.Busy: another run holds the lock (waited for up to wait seconds); "
          "vexdram.Changed: the file changed since it was read; FileExistsError; OSError.")
      .def("__repr__", [](image& i) {
        return "<vexdram.Image " + i.img.path() + " chip=" + i.img.chip() +
               " version=" + std::to_string(i.img.version()) + ">";
      });

  m.def(
      "open",
      [](const std::string& path, const std::optional<std::string>& chip) {
        std::optional<vexdram::image> img;
        {
          py::gil_scoped_release free;
          img = vexdram::image::open(path, chip.value_or(""));
        }
        return std::make_unique<image>(std::move(*img));
      },
      py::arg("path"), py::arg("chip") = py::none(),
      "Reads a DDR binary or a loader container (its DDR image, 471). chip: None for the chip "
      "the file's name gives.");
  m.def(
      "from_bytes",
      [](const py::bytes& data, const std::string& name, const std::optional<std::string>& chip) {
        std::string b = data;
        std::optional<vexdram::image> img;
        {
          py::gil_scoped_release free;
          img = vexdram::image::from_bytes(std::vector<std::uint8_t>(b.begin(), b.end()), name,
                                           chip.value_or(""));
        }
        return std::make_unique<image>(std::move(*img));
      },
      py::arg("data"), py::arg("name") = "", py::arg("chip") = py::none(),
      "The same from bytes; name stands for the file's name (the chip, the older-family rule). "
      "It is written to a new file or to bytes.");
  m.def(
      "read_params",
      [](const std::string& path) {
        params p;
        p.name = path;
        {
          py::gil_scoped_release free;
          p.file = vexdram::read_param_file(path);
        }
        if (!p.file.problems.empty()) refuse(problems_of(p), path);
        return p;
      },
      py::arg("path"),
      "Reads a parameter file or report strictly: vexdram.Refused lists every line that cannot "
      "be used.");
  m.def(
      "parse_params",
      [](const py::object& text) {
        params p;
        const std::string t = py::isinstance<py::bytes>(text) ? std::string(text.cast<py::bytes>())
                                                              : text.cast<std::string>();
        p.file = vexdram::parse_param_text(t);
        return p;
      },
      py::arg("text"),
      "Reads the text of a parameter file (str or bytes) as read_params does, listing the lines "
      "that cannot be used in problems instead of raising.");
  m.def(
      "parse_value",
      [](const std::string& text, unsigned width) {
        const vexdram::parsed_value v = vexdram::parse_value(text);
        if (!v.value) throw vexdram::error(vexdram::errc::bad_value, v.reason);
        if (!vexdram::fits(*v.value, width))
          throw vexdram::error(vexdram::errc::bad_value, vexdram::too_wide(width));
        return *v.value;
      },
      py::arg("text"), py::arg("width") = 32,
      "A typed value, by the rule of every place a person types one, that fits a field of this "
      "width: vexdram.Refused with the reason otherwise.");
  m.def("keys", &key_list, "The 484 keys, in catalogue order.");
  m.def(
      "chips",
      [] {
        std::vector<std::string> out;
        for (std::string_view c : vexdram::chips()) out.emplace_back(c);
        return out;
      },
      "The chip names vexdram_tool accepts.");
  m.def("chip_in_name", &vexdram::chip_in_name, py::arg("path"),
        "The chip a file's name gives (the longest chip name its last part holds), or None.");
  m.def(
      "file_kind",
      [](const std::string& path) {
        vexdram::file_kind k;
        {
          py::gil_scoped_release free;
          k = vexdram::kind_of(path);
        }
        return k == vexdram::file_kind::loader ? "loader"
               : k == vexdram::file_kind::text ? "text"
                                               : "binary";
      },
      py::arg("path"), "'loader', 'text' (a parameter file or report) or 'binary'.");
}
