#include "lib/container.h"

#include "lib/errors.h"

namespace vexdram::engine {
namespace {

constexpr const char* output_dir = "output";
constexpr const char* loader_param_file = "output/loader_param.bin";
// What the module's DDR operations keep in its output directory beside the images.
constexpr const char* module_files[] = {"gen_param.txt", "gen_param_new.txt"};

// The module's path of a listing line: "output/" and what follows "file=" (from the fifth
// character when the marker is missing).
std::string image_path(const std::string& line) {
  const std::size_t marker = line.find("file=");
  const std::size_t from = marker == std::string::npos ? 4 : marker + 5;
  return std::string(output_dir) + "/" + (from < line.size() ? line.substr(from) : "");
}

const char* no_repack = "the module could not unpack and pack this container again: ";

// Why, in the words of a person who ran vexdram.
std::string refused(imgwelder::repack_refusal why) {
  switch (why) {
    case imgwelder::repack_refusal::none: break;
    case imgwelder::repack_refusal::chip_code: return "its chip code is not 4 letters or digits";
    case imgwelder::repack_refusal::table_past_end: return "an entry table lies past its end";
    case imgwelder::repack_refusal::first_loader_short:
      return "its first loader image is shorter than 224 bytes";
  }
  return "";
}

}  // namespace

std::string unreadable(const imgwelder::read_outcome& r) {
  using why = imgwelder::read_refusal;
  const std::string table = std::string("the container's ") +
                            (r.table < imgwelder::table_count ? imgwelder::table_label[r.table] : "") +
                            " table";
  const std::string entry = "entry " + std::to_string(r.entry) + " of " + table;
  switch (r.why) {
    case why::none: break;
    case why::short_file: return "the container is shorter than its header";
    case why::bad_tag: return "the container begins with neither \"BOOT\" nor \"LDR \"";
    case why::bad_header_size: return "the container's header size is not 102";
    case why::bad_crc: return "the container's CRC-32 does not match its bytes";
    case why::bad_entry_size: return table + " has entries of a size other than 57";
    case why::table_outside: return table + " reaches past its end";
    case why::bad_entry: return entry + " is malformed";
    case why::unsafe_name: return entry + " has a name no image may have";
    case why::data_outside: return "the image of " + entry + " reaches past its end";
    case why::overlap: return "the container's header, tables and images overlap";
    case why::duplicate_name: return "two images of the container would be one file (" + r.name + ")";
  }
  return "";
}

const std::string& module_unpack::operator[](const std::string& key) const {
  static const std::string none = null_text;
  for (const auto& [k, v] : dict)
    if (k == key) return v;
  return none;
}

std::vector<std::uint8_t>* module_unpack::file(const std::string& value) {
  const std::string prefix = std::string(output_dir) + "/";
  if (value.compare(0, prefix.size(), prefix) != 0) return nullptr;
  const auto it = files.find(value.substr(prefix.size()));
  return it == files.end() ? nullptr : &it->second;
}

std::string module_unpack::ddr_image() const {
  const std::string& path = (*this)["loader_471"];
  return path.substr(path.find('/') + 1);
}

module_unpack unpack_as_module(const std::vector<std::uint8_t>& bytes,
                               const imgwelder::container& c, const std::string& chip) {
  module_unpack u;
  for (const char* key : imgwelder::unpack_keys) u.dict.emplace_back(key, null_text);
  auto set = [&](const std::string& key, const std::string& value) {
    for (auto& [k, v] : u.dict)
      if (k == key) {
        v = value;
        return;
      }
    u.dict.emplace_back(key, value);
  };
  set("imgweld_tool_path", "resource/tools/imgwelder");

  // The listing, read line by line as the module reads it.
  const std::vector<std::string> lines = imgwelder::listing(c);
  auto line = [&](std::size_t i) {
    if (i >= lines.size())
      throw trouble{no_repack + std::string("its listing has no line ") + std::to_string(i),
                    {},
                    errc::bad_container};
    return image_path(lines[i]);
  };
  if (lines.size() == 8) {
    set("loader_471", line(3));
    set("loader_472", line(4));
    set("loader_473_1", line(5));
    set("loader_473_2", line(6));
  } else {
    set("loader_471_0", line(3));
    set("loader_471", line(4));
    set("loader_472", line(5));
    set("loader_473_0", line(6));
    set("loader_473_1", line(7));
    set("loader_473_2", line(8));
    if (lines.size() > 10) set("loader_473_3", line(9));
  }
  // Each value naming a Flash* image is stored under that kind's key; the values are read live,
  // as a later key may have been overwritten by an earlier one.
  for (std::size_t i = 0; i < u.dict.size(); ++i)
    for (const auto& [marker, target] : imgwelder::flash_kinds)
      if (u.dict[i].second.find(marker) != std::string::npos) set(target, u.dict[i].second);

  // The output directory: every image under its name.
  for (const auto& table : c.tables)
    for (const imgwelder::image& img : table) u.files[img.name] = img.data;
  for (const char* name : module_files)
    if (u.files.count(name))
      throw trouble{
          std::string("the container holds an image named like the module's work file ") + name,
          {},
          errc::bad_container};

  // The packing options, from the header as the module reads it; the loader parameters of the
  // first loader image go back to the packer when programmed.
  const imgwelder::repack_refusal why =
      imgwelder::plan_repack(bytes.data(), bytes.size(), c, chip, u.plan);
  if (why != imgwelder::repack_refusal::none)
    throw trouble{no_repack + refused(why), {}, errc::bad_container};
  if (u.plan.loader_params)
    u.files["loader_param.bin"].assign(u.plan.loader_params->begin(), u.plan.loader_params->end());
  set("pack_params", imgwelder::pack_params_text(u.plan, loader_param_file));
  return u;
}

std::vector<std::uint8_t> pack_as_module(module_unpack u,
                                         const std::vector<std::uint8_t>& ddr_image) {
  std::vector<std::uint8_t>* ddr = u.file(u["loader_471"]);
  if (!ddr) throw trouble{"the container holds no DDR image (471)", {}, errc::bad_container};
  *ddr = ddr_image;
  // The 471 image also serves as the FlashData image of the new container.
  const std::string& flash_data = u["loader_FlashData_path"];
  std::vector<std::uint8_t>* data = u.file(flash_data);
  if (!data || flash_data == u["loader_471"])
    throw trouble{no_repack + std::string("it has no FlashData image apart from the DDR image"),
                  {},
                  errc::bad_container};
  *data = *ddr;

  std::vector<std::string> args = imgwelder::pack_arguments(u.plan, loader_param_file);
  auto add = [&](const char* flag, const std::string& value) {
    args.push_back(flag);
    args.push_back(value);
  };
  add("-1", u["loader_471"]);
  add("-2", u["loader_472"]);
  if (u["loader_FlashBoost_path"] != null_text) add("-3", u["loader_FlashBoost_path"]);
  add("-3", flash_data);
  add("-3", u["loader_FlashBoot_path"]);
  add("-o", "new.bin");

  const imgwelder::file_reader read = [&](const std::string& path, std::vector<std::uint8_t>& out,
                                          std::string& error) {
    const std::vector<std::uint8_t>* f = u.file(path);
    if (!f) {
      error = "Error: cannot read " + path;
      return false;
    }
    out = *f;
    return true;
  };
  imgwelder::container packed;
  std::string out, error;
  std::vector<std::uint8_t> bytes;
  if (!imgwelder::build_pack(args, read, packed, out, error))
    throw trouble{no_repack + error, {}, errc::bad_container};
  // The module's options give no alignment but 6947's; vexdram keeps the one the container records.
  packed.alignment = u.plan.recorded_alignment;
  if (!imgwelder::write_container(packed, bytes, error) ||
      !imgwelder::listing_readable(packed, error))
    throw trouble{no_repack + error, {}, errc::bad_container};
  return bytes;
}

}  // namespace vexdram::engine
