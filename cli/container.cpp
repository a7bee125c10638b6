#include "container.h"

#include <numeric>

#include "errors.h"
#include "pack.hpp"

namespace vexdram::cli {
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

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

bool alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

const char* no_repack = "the module could not unpack and pack this container again: ";

}  // namespace

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

module_unpack unpack_as_module(const std::vector<std::uint8_t>& bytes, const imgwelder::container& c,
                               const std::string& chip) {
  module_unpack u;
  for (const char* key : {"imgweld_tool_path", "pack_params", "loader_471", "loader_472", "loader_473_0",
                          "loader_473_1", "loader_473_2", "loader_473_3", "loader_FlashBoost_path",
                          "loader_FlashData_path", "loader_FlashBoot_path", "loader_file_path"})
    u.dict.emplace_back(key, null_text);
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
    if (i >= lines.size()) throw trouble{no_repack + std::string("its listing has no line ") + std::to_string(i)};
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
  static const std::pair<const char*, const char*> kinds[] = {
      {"FlashBoost", "loader_FlashBoost_path"},
      {"FlashData", "loader_FlashData_path"},
      {"FlashBoot", "loader_FlashBoot_path"},
  };
  for (std::size_t i = 0; i < u.dict.size(); ++i)
    for (const auto& [marker, target] : kinds)
      if (u.dict[i].second.find(marker) != std::string::npos) set(target, u.dict[i].second);

  // The output directory: every image under its name.
  for (const auto& table : c.tables)
    for (const imgwelder::image& img : table) u.files[img.name] = img.data;
  for (const char* name : module_files)
    if (u.files.count(name)) throw trouble{std::string("the container holds an image named like the module's work file ") + name};

  // The packing options, from the header as the module reads it.
  for (char ch : c.chip_code)
    if (!alnum(ch)) throw trouble{no_repack + std::string("its chip code is not 4 letters or digits")};
  const std::string family = chip.size() >= 2 && (chip.compare(0, 2, "TQ") == 0 || chip.compare(0, 2, "TN") == 0)
                                 ? chip.substr(0, 2)
                                 : "TQ";
  std::string options = "-c -" + family + std::string(c.chip_code.begin(), c.chip_code.end());
  options += " -v " + std::to_string(c.version[1]) + "." + std::to_string(c.version[0]);
  if (c.ldr_tag) options += " -n ";
  // The data delay the module reports is byte 53 at a table's offset: the first entry's delay.
  for (std::size_t t = 0; t < 2; ++t) {
    const std::uint64_t at = std::uint64_t{le32(bytes, imgwelder::hdr::tables + t * imgwelder::hdr::table_stride + 1)} + 53;
    if (at >= bytes.size()) throw trouble{no_repack + std::string("an entry table lies past its end")};
    if (bytes[at] != 0) options += (t == 0 ? " -d " : " -s ") + std::to_string(bytes[at]);
  }
  options += " -r " + std::to_string((c.crc_off << 2) | (c.rc4_off_471 << 1) | c.rc4_flag);
  if (options.find("6947") != std::string::npos) options += " -a 8 ";

  // The loader parameters of the first loader image go back to the packer when programmed.
  const std::string& first_loader = u["loader_473_0"];
  if (first_loader != null_text) {
    const std::vector<std::uint8_t>* image = u.file(first_loader);
    if (!image || image->size() < 224)
      throw trouble{no_repack + std::string("its first loader image is shorter than 224 bytes")};
    std::vector<std::uint8_t> params(image->begin() + 124, image->begin() + 132);
    params.insert(params.end(), image->begin() + 212, image->begin() + 220);
    const int first_four = std::accumulate(params.begin(), params.begin() + 4, 0);
    if (first_four != 1020 && first_four != 0) {
      u.files["loader_param.bin"] = params;
      options += std::string(" -l ") + loader_param_file;
    }
  }
  set("pack_params", options);
  u.pack_options = options;
  return u;
}

std::vector<std::uint8_t> pack_as_module(module_unpack u, const std::vector<std::uint8_t>& ddr_image) {
  std::vector<std::uint8_t>* ddr = u.file(u["loader_471"]);
  if (!ddr) throw trouble{"the container holds no DDR image (471)"};
  *ddr = ddr_image;
  // The 471 image also serves as the FlashData image of the new container.
  const std::string& flash_data = u["loader_FlashData_path"];
  std::vector<std::uint8_t>* data = u.file(flash_data);
  if (!data || flash_data == u["loader_471"])
    throw trouble{no_repack + std::string("it has no FlashData image apart from the DDR image")};
  *data = *ddr;

  std::vector<std::string> args;
  for (std::size_t at = 0, end; at < u.pack_options.size(); at = end + 1) {
    end = u.pack_options.find(' ', at);
    if (end == std::string::npos) end = u.pack_options.size();
    if (end > at) args.push_back(u.pack_options.substr(at, end - at));
  }
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
  if (!imgwelder::build_pack(args, read, packed, out, error) || !imgwelder::write_container(packed, bytes, error) ||
      !imgwelder::listing_readable(packed, error))
    throw trouble{no_repack + error};
  return bytes;
}

}  // namespace vexdram::cli
