// DDR parameter operations: get_ddr_params runs vexdram_tool in report mode and reads the report
// back, update_ddr_bin writes a parameter file and runs the tool in modify mode (both log what the
// tool printed at debug level), cpmpare_ddr_param compares the two files those leave in "output".
// Everything the host can patch (os, platform, shutil, logger, open) is looked up through the
// module namespace at call time, and the interpreter's own exceptions reach the caller as they
// were raised.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "module/common.h"
#include "tool/messages.h"

namespace dramforge {
namespace {

namespace msg = vexdram::msg;

// The tool's "chip name error", as the host's logs and the tool's output hold it (no line feed).
py::str chip_name_error() {
  const std::string_view m = msg::chip_name_error;
  return py::str(std::string(m.substr(0, m.size() - 1)));
}

constexpr const char* kReportFile = "gen_param.txt";
constexpr const char* kParamFile = "gen_param_new.txt";
// "ddr parameter modified" and a full-width colon (U+FF1A), then a line feed.
constexpr const char* kChangeHeader = "ddr parameter modified\xef\xbc\x9a\n";

py::object borrow(PyObject* o) { return py::reinterpret_borrow<py::object>(o); }
py::object steal_or_throw(PyObject* o) {
  if (o == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(o);
}

py::object os_path_exists(const py::object& path) {
  return ns()["os"].attr("path").attr("exists")(path);
}

// The whole of a text file, read the way open(path, "r").read() reads it; closed on every path.
py::object read_text(const py::object& path) {
  open_file f(path, "r");
  py::object text = f.read();
  f.close();
  return text;
}

// Report and parameter files: one entry per line that holds "=", key before the first "=", value
// after it, nothing trimmed; the piece after the last line feed is not a line. A plain text is cut
// with the C API (the report has 485 lines, and a call into the interpreter's methods per line
// cost more than the tool's run); anything else a patched open() returns goes through its own
// split and partition.
py::dict parse_params(const py::object& text) {
  py::dict params;
  if (PyUnicode_CheckExact(text.ptr())) {
    const py::str nl("\n"), eq("=");
    const py::list pieces = steal_or_throw(PyUnicode_Split(text.ptr(), nl.ptr(), -1));
    const Py_ssize_t lines = std::max<Py_ssize_t>(PyList_GET_SIZE(pieces.ptr()) - 1, 0);
    for (Py_ssize_t i = 0; i < lines; ++i) {
      PyObject* piece = PyList_GET_ITEM(pieces.ptr(), i);  // borrowed
      const Py_ssize_t len = PyUnicode_GET_LENGTH(piece);
      const Py_ssize_t at = PyUnicode_Find(piece, eq.ptr(), 0, len, 1);
      if (at == -2) throw py::error_already_set();
      if (at < 0) continue;
      const py::object key = steal_or_throw(PyUnicode_Substring(piece, 0, at));
      const py::object value = steal_or_throw(PyUnicode_Substring(piece, at + 1, len));
      if (PyDict_SetItem(params.ptr(), key.ptr(), value.ptr()) != 0) throw py::error_already_set();
    }
    return params;
  }
  py::list pieces = text.attr("split")("\n");
  py::str eq("=");
  const size_t lines = pieces.size() == 0 ? 0 : pieces.size() - 1;
  for (size_t i = 0; i < lines; ++i) {
    py::tuple parts = pieces[i].attr("partition")(eq);
    if (!truthy(parts[1])) continue;
    params[parts[0]] = parts[2];
  }
  return params;
}

// A section the tool could not write (its "write ... fail" line) leaves the binary partly written,
// also when the run goes on to "modify end". The lines are those of str.splitlines(), looked at in
// C++: the tool prints some 500 of them, and a call into the interpreter per line cost more than
// the rest of the operation.
bool reports_write_failure(const py::object& output) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(output.ptr(), &size);
  if (text == nullptr) throw py::error_already_set();
  const std::string_view all(text, static_cast<std::size_t>(size));
  // The line boundaries of splitlines(), as UTF-8.
  static constexpr std::string_view breaks[] = {"\r\n",     "\n",           "\r",          "\x0b",
                                                "\x0c",     "\x1c",         "\x1d",        "\x1e",
                                                "\xc2\x85", "\xe2\x80\xa8", "\xe2\x80\xa9"};
  std::size_t start = 0;
  auto failed = [](std::string_view line) {
    for (std::string_view m : msg::write_failures)
      if (line == m.substr(0, m.size() - 1)) return true;  // the message without its line feed
    return false;
  };
  for (std::size_t at = 0; at < all.size();) {
    // Printable ASCII, nearly every byte, is never a line boundary.
    const unsigned char c = static_cast<unsigned char>(all[at]);
    if (c >= 0x20 && c < 0x80) {
      ++at;
      continue;
    }
    std::size_t width = 0;
    for (std::string_view b : breaks)
      if (all.compare(at, b.size(), b) == 0) {
        width = b.size();
        break;
      }
    if (width == 0) {
      ++at;
      continue;
    }
    if (failed(all.substr(start, at - start))) return true;
    at += width;
    start = at;
  }
  return start < all.size() && failed(all.substr(start));
}

// The parameter text: "key=value" for every key in the dictionary's order, then "end", joined
// by line feeds. Keys and values that are plain texts are joined in C++ (a thousand temporary
// texts were most of what the operation cost besides the tool); anything else is joined by the
// interpreter's own "+", so its errors (a number key, say) are the interpreter's.
py::object parameter_text(const py::object& res_dict) {
  bool plain = true;              // every line so far is plain text, kept in `fast`
  std::string fast;               // those lines, each ending in a line feed
  std::vector<std::size_t> ends;  // where each of them ends in `fast`
  py::list lines;                 // once a line is not plain: every line, as texts
  const py::str eq("=");
  for (py::handle key : res_dict) {
    py::object value = steal_or_throw(PyObject_GetItem(res_dict.ptr(), key.ptr()));
    if (plain && PyUnicode_CheckExact(key.ptr()) && PyUnicode_CheckExact(value.ptr())) {
      Py_ssize_t kn = 0, vn = 0;
      const char* k = PyUnicode_AsUTF8AndSize(key.ptr(), &kn);
      const char* v = k ? PyUnicode_AsUTF8AndSize(value.ptr(), &vn) : nullptr;
      if (v) {
        fast.append(k, static_cast<std::size_t>(kn))
            .append("=")
            .append(v, static_cast<std::size_t>(vn))
            .append("\n");
        ends.push_back(fast.size());
        continue;
      }
      PyErr_Clear();  // not UTF-8 (a lone surrogate): the interpreter joins it
    }
    if (plain) {  // the plain lines so far become texts
      plain = false;
      for (std::size_t i = 0, from = 0; i < ends.size(); from = ends[i++])
        lines.append(steal_or_throw(PyUnicode_DecodeUTF8(
            fast.data() + from, static_cast<Py_ssize_t>(ends[i] - from - 1), nullptr)));
    }
    lines.append(borrow(key.ptr()) + eq + value);
  }
  if (plain) {
    fast += "end";
    return steal_or_throw(
        PyUnicode_DecodeUTF8(fast.data(), static_cast<Py_ssize_t>(fast.size()), nullptr));
  }
  lines.append(py::str("end"));
  return py::str("\n").attr("join")(lines);
}

py::str output_path(const char* file) { return py::str(std::string(output_dir_name) + "/" + file); }

// The tool for this platform, by the module's tool path globals; the caller asks the platform
// once per call.
py::object tool_path(bool linux_host) {
  return linux_host ? ns()["ddr_bin_tool_linux_path"] : ns()["ddr_bin_tool_win_path"];
}

struct chip_choice {
  py::object arg;  // the tool's first argument
  int status = 0;  // 0 or -1: does the designation occur in the binary's path
};

// The chip designation becomes the tool's chip argument: the first of several "/"-separated
// names, a single name as is, "unknown" for "NULL" and "Other", and chip_other for "Other". The
// status is only worked out when a path is given.
chip_choice choose_chip(const py::object& chip_name, const py::object& chip_other,
                        const py::object* path) {
  const py::str null_name("NULL"), other_name("Other"), slash("/");
  py::object lower = chip_name.attr("lower")();
  chip_choice choice{py::str("unknown"), 0};
  if (contains(lower, slash)) {
    py::object names = lower.attr("split")(slash);
    if (path != nullptr) {
      choice.status = -1;
      for (py::handle name : names)
        if (contains(*path, name)) choice.status = 0;
    }
    choice.arg = names[py::int_(0)];
  } else if (!chip_name.equal(null_name) && !chip_name.equal(other_name)) {
    choice.arg = lower;
    if (path != nullptr) choice.status = contains(*path, lower) ? 0 : -1;
  }
  if (chip_name.equal(other_name)) choice.arg = chip_other.attr("lower")();
  return choice;
}

}  // namespace

PyObject* get_ddr_params(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"ddr_bin_file_path", "chip_name", "chip_other", nullptr};
  PyObject* path_o = nullptr;
  PyObject* chip_name_o = nullptr;
  PyObject* chip_other_o = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:get_ddr_params", const_cast<char**>(kwlist),
                                   &path_o, &chip_name_o, &chip_other_o))
    return nullptr;
  return guarded([&]() -> py::object {
    const py::object path = borrow(path_o);
    const py::object chip_name = chip_name_o ? borrow(chip_name_o) : py::str("NULL");
    const py::object chip_other = chip_other_o ? borrow(chip_other_o) : py::str("NULL");
    py::dict res_dict;
    const py::str output_dir(output_dir_name);
    const py::str report = output_path(kReportFile);

    const chip_choice chip = choose_chip(chip_name, chip_other, &path);
    log_debug(py::str("chip_name=") + chip_name + py::str("-") + chip.arg + py::str(" ") + path);

    py::object os = ns()["os"];
    if (!truthy(os_path_exists(output_dir))) os.attr("mkdir")(output_dir);
    // A report left by an earlier call must never be read back as this call's.
    if (truthy(os_path_exists(report))) os.attr("remove")(report);

    const bool linux_host = is_linux();
    py::object tool = tool_path(linux_host);
    if (!truthy(os_path_exists(tool))) {
      log_error(py::str("vexdram_tool does not exist"));
      return py::make_tuple(py::dict(), -3);
    }
    // Installs that lost the execute bits (unpacked archives, copies) still run.
    if (linux_host) ensure_executable(tool);

    log_debug(tool + py::str(" ") + chip.arg + py::str(" -g ") + report + py::str(" ") +
              quoted(path));
    // The tool reads its options with getopt over the whole command line: a binary named like
    // "-gname" would be taken for a second report path and that file overwritten. "./" keeps
    // such a name an operand while naming the same file.
    py::object bin_arg = path;
    if (truthy(path.attr("startswith")("-"))) bin_arg = py::str("./") + path;
    tool_run run = run_tool(py::list(py::make_tuple(tool, chip.arg, "-g", report, bin_arg)));
    if (!run.started) log_error(py::str("vexdram_tool could not be started: ") + run.failure);

    if (contains(run.output, chip_name_error())) {
      log_error(chip_name_error());
      return py::make_tuple(py::dict(), -2);
    }
    log_output(run);

    res_dict = parse_params(read_text(report));
    if (res_dict.size() == 0 && run.started)
      log_error(py::str("vexdram_tool reported no parameter:\n") + run.output);
    return py::make_tuple(res_dict, chip.status);
  });
}

PyObject* update_ddr_bin(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"res_dict",   "ddr_bin_path",        "chip_name",
                                 "chip_other", "ddr_bin_path_rename", nullptr};
  PyObject* res_dict_o = nullptr;
  PyObject* path_o = nullptr;
  PyObject* chip_name_o = nullptr;
  PyObject* chip_other_o = nullptr;
  PyObject* rename_o = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OOO:update_ddr_bin",
                                   const_cast<char**>(kwlist), &res_dict_o, &path_o, &chip_name_o,
                                   &chip_other_o, &rename_o))
    return nullptr;
  return guarded([&]() -> py::object {
    const py::object res_dict = borrow(res_dict_o);
    const py::object path = borrow(path_o);
    const py::object chip_name = chip_name_o ? borrow(chip_name_o) : py::str("NULL");
    const py::object chip_other = chip_other_o ? borrow(chip_other_o) : py::str("NULL");
    const py::object rename = rename_o ? borrow(rename_o) : py::bool_(true);

    const py::object text = parameter_text(res_dict);

    const chip_choice chip = choose_chip(chip_name, chip_other, nullptr);
    const py::str output_dir(output_dir_name);
    const py::str param_file = output_path(kParamFile);

    // A first call in a fresh directory (no get_ddr_params before) still has somewhere to write.
    py::object os = ns()["os"];
    if (!truthy(os_path_exists(output_dir))) os.attr("mkdir")(output_dir);
    open_file f(param_file, "w");
    f.write(text);
    f.close();

    py::object new_path = path;
    const int rename_on = PyObject_RichCompareBool(rename.ptr(), Py_True, Py_EQ);
    if (rename_on < 0) throw py::error_already_set();
    if (rename_on == 1) {
      new_path = new_bin_path(path);
      ns()["shutil"].attr("copy")(path, new_path);
    }

    py::object tool = tool_path(is_linux());
    const py::object cmd_str = tool + py::str(" ") + chip.arg + py::str(" ") + param_file +
                               py::str(" ") + quoted(new_path);
    log_debug(cmd_str);
    tool_run run = run_tool(py::list(py::make_tuple(tool, chip.arg, param_file, new_path)));
    // Its messages (warnings included) are the only account a host gets of what was written.
    log_output(run);
    // The tool's exit status says nothing; its text does.
    if (!run.started) {
      log_error(py::str("vexdram_tool could not be started: ") + run.failure);
    } else if (!contains(run.output, py::str("modify end")) ||
               contains(run.output, chip_name_error()) || reports_write_failure(run.output)) {
      log_error(py::str("vexdram_tool did not modify ") + quoted(new_path) + py::str(":\n") +
                run.output);
    }
    return new_path;
  });
}

PyObject* cpmpare_ddr_param(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {nullptr};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, ":cpmpare_ddr_param", const_cast<char**>(kwlist)))
    return nullptr;
  return guarded([&]() -> py::object {
    py::dict res_dict_diff;
    const py::dict res_dict = parse_params(read_text(output_path(kReportFile)));
    const py::dict res_dict_new = parse_params(read_text(output_path(kParamFile)));

    const py::str header(kChangeHeader);
    py::object ret_str = header;
    for (auto item : res_dict) {
      py::object key = borrow(item.first.ptr());
      py::object old_value = borrow(item.second.ptr());
      // A key the new file lacks raises KeyError with that key.
      py::object new_value = steal_or_throw(PyObject_GetItem(res_dict_new.ptr(), key.ptr()));
      if (old_value.not_equal(new_value)) {
        ret_str =
            ret_str + key + py::str(": ") + old_value + py::str(" => ") + new_value + py::str("\n");
        res_dict_diff[key] = new_value;
      }
    }
    if (ret_str.equal(header)) ret_str = ret_str + py::str("NULL");
    log_debug(ret_str);
    return py::make_tuple(res_dict_diff, ret_str);
  });
}

}  // namespace dramforge
