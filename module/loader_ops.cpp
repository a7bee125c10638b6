// Loader container operations (header, unpack, pack) and the configuration table.
//
// Everything the host could patch (os, shutil, struct, pd, logger, the tool paths, the class
// itself) is looked up in the module namespace at call time; texts are built with the
// interpreter's own operations so that the results and the errors are the interpreter's.
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "imgwelder/container.h"
#include "module/common.h"

namespace dramforge {
namespace {

constexpr const char* null_text = "null";
constexpr const char* loader_param_file = "/loader_param.bin";

constexpr const char* header_format = "<4sH4BI7s4sBIBBIBBIBBBBB";
constexpr Py_ssize_t header_size = 47;
constexpr const char* entry_format = "<53sB";
constexpr Py_ssize_t entry_size = 54;
constexpr const char* loader_image_format = "224B";
constexpr Py_ssize_t loader_image_size = 224;

constexpr const char* msg_unpack_error = "imgweld unpack error";
constexpr const char* msg_pack_error = "imgweld pack error";
constexpr const char* msg_pack_not_started = "imgweld pack error, tool not started: ";
constexpr const char* msg_pack_no_output = "imgweld pack error, output file not exist: ";
constexpr const char* msg_cfg_missing = "get_cfg_file error, file_path not exist\n";

// Header items 9..17 are reported as integers, 18..21 as decimal text.
constexpr const char* entry_table_keys[] = {
    "uc471EntryCount",    "dw471EntryOffset",    "uc471EntrySize",
    "uc472EntryCount",    "dw472EntryOffset",    "uc472EntrySize",
    "ucLoaderEntryCount", "dwLoaderEntryOffset", "ucLoaderEntrySize",
};
constexpr const char* flag_keys[] = {"ucSignFlag", "ucRc4Flag", "uc471Rc4Off", "ucCrcOff"};

py::object text_of(const py::handle& value) { return lookup("str")(value); }

// The text form of a bytes object without its b and quotes.
py::object stripped(const py::handle& bytes_value) {
  return text_of(bytes_value)[py::slice(2, -1, std::nullopt)];
}

py::object from(const py::handle& seq, Py_ssize_t start) {
  return seq[py::slice(start, std::nullopt, std::nullopt)];
}

py::object unpack(const char* format, const py::handle& data) {
  return ns()["struct"].attr("unpack")(format, data);
}

// The data delay of the entry at a table offset: the last byte of its first 54 bytes.
py::object data_delay(open_file& file, const py::handle& offset) {
  file.seek(offset);
  py::tuple entry = unpack(entry_format, file.read(entry_size));
  return text_of(entry[1]);
}

// "output/" + the text after "file=" (from the fifth character when the marker is missing).
py::object image_path(const py::handle& line) {
  Py_ssize_t marker = line.attr("find")("file=").cast<Py_ssize_t>();
  return py::str(std::string(output_dir_name) + "/") + from(line, marker + 5);
}

py::object parse_one(PyObject* args, PyObject* kwargs, const char* format, const char* name) {
  const char* const keywords[] = {name, nullptr};
  PyObject* value = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &value))
    throw py::error_already_set();
  return py::reinterpret_borrow<py::object>(value);
}

py::object read_header(const py::object& path) {
  py::dict result;
  open_file file(path, "rb");
  py::tuple items = unpack(header_format, file.read(header_size));

  result["uiTag"] = stripped(items[0]);
  result["ussize"] = text_of(items[1]);
  result["dwVersion"] = text_of(items[3]) + py::str(".") + text_of(items[2]);
  result["dwMergeVersion"] = lookup("hex")(items[6]);
  result["stReleaseTime"] = text_of(items[7]);
  // The chip code is stored lowest character first.
  py::object chip = stripped(items[8]);
  result["emSupportChip"] =
      chip[py::int_(3)] + chip[py::int_(2)] + chip[py::int_(1)] + chip[py::int_(0)];
  for (size_t i = 0; i < std::size(entry_table_keys); ++i)
    result[entry_table_keys[i]] = items[9 + i];
  for (size_t i = 0; i < std::size(flag_keys); ++i) result[flag_keys[i]] = text_of(items[18 + i]);

  // The flags are combined whole, not masked to one bit each.
  py::object as_int = lookup("int");
  py::object rc4 = as_int(result["ucRc4Flag"]);
  py::object rc4_off = as_int(result["uc471Rc4Off"]);
  py::object crc_off = as_int(result["ucCrcOff"]);
  result["ucRc4Params"] = text_of((crc_off << py::int_(2)) | (rc4_off << py::int_(1)) | rc4);

  result["471_dwDataDelay"] = data_delay(file, result["dw471EntryOffset"]);
  result["472_dwDataDelay"] = data_delay(file, result["dw472EntryOffset"]);
  file.close();
  return std::move(result);
}

// Stores each image path under the Flash* key its name matches. The values are read live while
// walking, as later keys may have been overwritten by earlier ones.
void classify_flash_images(py::dict& params) {
  py::list keys(params.attr("keys")());
  for (const py::handle key : keys) {
    for (const auto& [marker, target] : imgwelder::flash_kinds) {
      py::object value = params[key];
      if (contains(value, marker)) params[target] = value;
    }
  }
}

void store_listing(py::dict& params, const py::object& output) {
  // The piece after the last line break is not a line.
  py::object lines = output.attr("split")("\n")[py::slice(std::nullopt, -1, std::nullopt)];
  Py_ssize_t count = py::len(lines);
  // __getitem__ so that a missing line raises the interpreter's own IndexError.
  auto line = [&](Py_ssize_t i) { return image_path(lines.attr("__getitem__")(i)); };
  if (count == 8) {
    params["loader_471"] = line(3);
    params["loader_472"] = line(4);
    params["loader_473_1"] = line(5);
    params["loader_473_2"] = line(6);
    return;
  }
  params["loader_471_0"] = line(3);
  params["loader_471"] = line(4);
  params["loader_472"] = line(5);
  params["loader_473_0"] = line(6);
  params["loader_473_1"] = line(7);
  params["loader_473_2"] = line(8);
  if (count > 10) params["loader_473_3"] = line(9);
}

// The packing options that rebuild a container with this header.
py::object pack_options(const py::object& header, const py::object& chip_name) {
  py::object prefix = chip_name[py::slice(0, 2, std::nullopt)];
  py::object options = py::str("-c -");
  bool known = prefix.equal(py::str("TQ")) || prefix.equal(py::str("TN"));
  options = options + (known ? prefix : py::str("TQ"));
  options = options + header["emSupportChip"];
  options = options + py::str(" -v ") + header["dwVersion"];
  if (py::object(header["uiTag"]).equal(py::str(imgwelder::hdr::ldr_tag)))
    options = options + py::str(" -n ");
  py::object delay_471 = header["471_dwDataDelay"];
  if (delay_471.not_equal(py::str("0"))) options = options + py::str(" -d ") + delay_471;
  py::object delay_472 = header["472_dwDataDelay"];
  if (delay_472.not_equal(py::str("0"))) options = options + py::str(" -s ") + delay_472;
  options = options + py::str(" -r ") + header["ucRc4Params"];
  if (contains(options, "6947")) options = options + py::str(" -a 8 ");
  return options;
}

// The sixteen loader parameter bytes of the first loader image. When they are programmed (not all
// 0xFF, not all zero by their first four) they are handed to the packer as a file.
py::object add_loader_params(const py::object& image, py::object options) {
  py::tuple bytes_read;
  {
    open_file file(image, "rb");
    bytes_read = unpack(loader_image_format, file.read(loader_image_size));
    file.close();
  }
  py::list values = bytes_read[py::slice(124, 132, std::nullopt)];
  values += py::list(bytes_read[py::slice(212, 220, std::nullopt)]);
  log_debug(py::str("loader_params: ") + text_of(values));

  long first_four = 0;
  for (int i = 0; i < 4; ++i) first_four += values[i].cast<long>();
  if (first_four == 1020 || first_four == 0) return options;

  py::object target = py::str(std::string(output_dir_name) + loader_param_file);
  open_file out(target, "wb");
  out.write(lookup("bytes")(values));
  out.close();
  return options + py::str(std::string(" -l ") + output_dir_name + loader_param_file);
}

}  // namespace

PyObject* check_if_loadr_file(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> py::object {
    py::object path = parse_one(args, kwargs, "O:check_if_loadr_file", "loader_file_path");
    py::object head;
    {
      open_file file(path, "rb");
      head = file.read(5);
      file.close();
    }
    py::object text = stripped(py::tuple(unpack("5s", head))[0]);
    // a tag and the header's length, 0x66 ("f")
    auto magic = [](const char* tag) {
      return py::str(std::string(tag) + static_cast<char>(imgwelder::hdr::length));
    };
    return py::bool_(text.equal(magic(imgwelder::hdr::ldr_tag)) ||
                     text.equal(magic(imgwelder::hdr::boot_tag)));
  });
}

PyObject* get_loader_param(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> py::object {
    return read_header(parse_one(args, kwargs, "O:get_loader_param", "loader_file_path"));
  });
}

PyObject* loader_unpack(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> py::object {
    static const char* const keywords[] = {"loader_file_path", "chip_name", nullptr};
    PyObject* path_arg = nullptr;
    PyObject* chip_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:loader_unpack",
                                     const_cast<char**>(keywords), &path_arg, &chip_arg))
      throw py::error_already_set();
    py::object path = py::reinterpret_borrow<py::object>(path_arg);
    py::object chip_name =
        chip_arg ? py::reinterpret_borrow<py::object>(chip_arg) : py::str("NULL");

    py::dict params;
    for (const char* key : imgwelder::unpack_keys) params[key] = null_text;

    py::object os = ns()["os"];
    if (!truthy(os.attr("path").attr("exists")(output_dir_name))) os.attr("mkdir")(output_dir_name);

    bool on_linux = is_linux();
    py::object tool = ns()[on_linux ? "imgweld_tool_linux_path" : "imgweld_tool_win_path"];
    params["imgweld_tool_path"] = tool;
    if (!truthy(os.attr("path").attr("isfile")(tool))) {
      params["imgweld_tool_path"] = null_text;
      return std::move(params);
    }
    if (on_linux) ensure_executable(tool);

    // Logged as the command line it stands for; run as an argument vector, so no path can reach
    // a shell.
    py::object command =
        tool + py::str(" unpack -i ") + quoted(path) + py::str(" -o ") + py::str(output_dir_name);
    log_debug(py::str("cmd_str: ") + command);
    tool_run run =
        run_tool(py::list(py::make_tuple(tool, "unpack", "-i", path, "-o", output_dir_name)));
    if (!run.started) {
      log_error(run.failure);
      log_error(py::str(msg_unpack_error));
      return py::none();
    }
    log_output(run);
    if (contains(run.output, "Error")) {
      log_error(py::str(msg_unpack_error));
      return py::none();
    }

    store_listing(params, run.output);
    classify_flash_images(params);

    params["loader_file_path"] = path;
    py::object header = ns()["dramforge"].attr("get_loader_param")(path);
    log_debug(py::str("uiTag: ") + header["uiTag"]);
    log_debug(py::str("ussize: ") + header["ussize"]);
    log_debug(py::str("dwVersion: ") + header["dwVersion"]);
    log_debug(py::str("emSupportChip: ") + header["emSupportChip"]);
    log_debug(py::str("ucRc4Params: ") + header["ucRc4Params"]);

    py::object options = pack_options(header, chip_name);
    py::object first_loader = params["loader_473_0"];
    if (first_loader.not_equal(py::str(null_text)))
      options = add_loader_params(first_loader, options);
    params["pack_params"] = options;
    return std::move(params);
  });
}

PyObject* loader_pack(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> py::object {
    static const char* const keywords[] = {"loader_params_dict", "loader_file_rename", nullptr};
    PyObject* params_arg = nullptr;
    PyObject* rename_arg = Py_True;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:loader_pack", const_cast<char**>(keywords),
                                     &params_arg, &rename_arg))
      throw py::error_already_set();
    py::object params = py::reinterpret_borrow<py::object>(params_arg);
    py::object rename = py::reinterpret_borrow<py::object>(rename_arg);

    py::object out = params["loader_file_path"];
    if (rename.equal(py::bool_(true))) out = new_bin_path(out);

    // The 471 image also serves as the FlashData image of the new container.
    py::object image_471 = params["loader_471"];
    py::object flash_data = params["loader_FlashData_path"];
    ns()["shutil"].attr("copy")(image_471, flash_data);

    py::object tool = params["imgweld_tool_path"];
    py::object options = params["pack_params"];
    py::object image_472 = params["loader_472"];
    py::object flash_boost = params["loader_FlashBoost_path"];
    py::object flash_boot = params["loader_FlashBoot_path"];
    bool with_boost = flash_boost.not_equal(py::str(null_text));

    py::object command = tool + py::str(" pack ") + options + py::str(" -1 ") + image_471 +
                         py::str(" -2 ") + image_472;
    if (with_boost) command = command + py::str(" -3 ") + flash_boost;
    command = command + py::str(" -3 ") + flash_data + py::str(" -3 ") + flash_boot +
              py::str(" -o ") + quoted(out);
    log_debug(py::str("cmd_str: ") + command);

    // The option text is split into words; each path stays one argument whatever it holds.
    py::list argv;
    argv.append(tool);
    argv.append(py::str("pack"));
    for (const py::handle word : options.attr("split")()) argv.append(word);
    auto add = [&](const char* flag, const py::object& value) {
      argv.append(py::str(flag));
      argv.append(value);
    };
    add("-1", image_471);
    add("-2", image_472);
    if (with_boost) add("-3", flash_boost);
    add("-3", flash_data);
    add("-3", flash_boot);
    add("-o", out);

    tool_run run = run_tool(argv);
    if (!run.started) {
      log_error(py::str(msg_pack_not_started) + run.failure);
    } else {
      log_output(run);
      if (contains(run.output, "Error")) log_error(py::str(msg_pack_error));
    }
    if (!truthy(ns()["os"].attr("path").attr("exists")(out)))
      log_error(py::str(msg_pack_no_output) + out);
    return out;
  });
}

PyObject* get_cfg_file(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> py::object {
    py::object path = parse_one(args, kwargs, "O:get_cfg_file", "csv_file_path");
    if (ns()["os"].attr("path").attr("exists")(path).equal(py::bool_(false))) {
      log_error(py::str(msg_cfg_missing));
      return py::none();
    }
    return ns()["pd"].attr("read_csv")(path, py::arg("encoding") = "gbk");
  });
}

}  // namespace dramforge
