#include "imgwelder/pack.h"

#include "imgwelder/option_reader.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace imgwelder {

std::array<std::uint8_t, 7> release_time_now() {
  // SOURCE_DATE_EPOCH makes builds reproducible
  std::time_t now = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"))
    if (const auto v = parse_number(epoch, 0xffffffffu)) now = static_cast<std::time_t>(*v);
  const std::tm tm = vexdram::platform::utc_time(now);
  return make_release_time(static_cast<unsigned>(tm.tm_year + 1900),
                           static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday),
                           static_cast<unsigned>(tm.tm_hour), static_cast<unsigned>(tm.tm_min),
                           static_cast<unsigned>(tm.tm_sec));
}

bool build_pack(const std::vector<std::string>& args, const file_reader& read, container& c,
                std::string& out, std::string& error) try {
  option_reader r("pack", args);
  c = container{};
  c.release_time = release_time_now();
  std::string param_file;
  std::uint32_t delay471 = 0, delay472 = 0;
  std::array<std::vector<std::string>, table_count> image_paths;

  while (!r.done()) {
    const std::string opt = r.option();
    if (opt == "-1" || opt == "-2" || opt == "-3") {
      image_paths[static_cast<std::size_t>(opt[1] - '1')].push_back(r.value(opt));
    } else if (opt == "-c") {
      const std::string v = r.value(opt);
      if (v.size() != 7 || v.compare(0, 2, "-T") != 0 || (v[2] != 'Q' && v[2] != 'N'))
        throw failure{msg::bad_chip};
      for (std::size_t i = 0; i < 4; ++i) {
        const char ch = v[3 + i];
        const bool alnum =
            (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
        if (!alnum) throw failure{msg::bad_chip};
        c.chip_code[i] = ch;
      }
      c.chip_family = v[2];
    } else if (opt == "-v") {
      const std::string v = r.value(opt);
      const auto dot = v.find('.');
      const auto major =
          dot == std::string::npos ? std::nullopt : parse_number(v.substr(0, dot), 255);
      const auto minor =
          dot == std::string::npos ? std::nullopt : parse_number(v.substr(dot + 1), 255);
      if (!major || !minor) throw failure{msg::bad_version};
      c.version = {static_cast<std::uint8_t>(*minor), static_cast<std::uint8_t>(*major), 0, 0};
    } else if (opt == "-n") {
      c.ldr_tag = true;
    } else if (opt == "-d") {
      delay471 = number_option(r, opt, 255);
    } else if (opt == "-s") {
      delay472 = number_option(r, opt, 255);
    } else if (opt == "-r") {
      const std::uint32_t bits = number_option(r, opt, 7);
      c.rc4_flag = bits & 1u;
      c.rc4_off_471 = (bits >> 1) & 1u;
      c.crc_off = (bits >> 2) & 1u;
    } else if (opt == "-a") {
      c.alignment = number_option(r, opt, max_alignment);
    } else if (opt == "-l") {
      param_file = r.value(opt);
    } else if (opt == "-o") {
      out = r.value(opt);
    }
  }
  r.finish();

  for (std::size_t t = 0; t < table_count; ++t)
    for (const auto& path : image_paths[t]) {
      image img;
      img.name = path.substr(vexdram::platform::last_separator(path) + 1);  // npos + 1 is 0
      if (!is_safe_image_name(img.name))
        throw failure{format(msg::unsafe_image_file, path.c_str())};
      if (!read(path, img.data, error)) return false;
      img.delay = t == 0 ? delay471 : t == 1 ? delay472 : 0;
      c.tables[t].push_back(std::move(img));
    }
  if (!param_file.empty()) {
    std::vector<std::uint8_t> bytes;
    if (!read(param_file, bytes, error)) return false;
    if (bytes.size() != loader_param_length) throw failure{msg::bad_loader_param_file};
    std::array<std::uint8_t, loader_param_length> params{};
    std::copy(bytes.begin(), bytes.end(), params.begin());
    if (!put_loader_params(c, params, error)) return false;
  }

  return true;
} catch (const failure& f) {
  error = f.text;
  return false;
}

namespace {

// The option words in order; a flag the host writes with a space after it is marked.
struct option_word {
  std::string text;
  bool spaced = false;
};

std::vector<option_word> plan_words(const repack_plan& p, const std::string& param_file) {
  std::vector<option_word> w;
  auto add = [&](const char* flag, const std::string& value) {
    w.push_back({flag});
    w.push_back({value});
  };
  add("-c", "-" + p.family + std::string(p.chip_code.begin(), p.chip_code.end()));
  add("-v", std::to_string(p.major) + "." + std::to_string(p.minor));
  if (p.ldr_tag) w.push_back({"-n", true});
  if (p.delay_471 != 0) add("-d", std::to_string(p.delay_471));
  if (p.delay_472 != 0) add("-s", std::to_string(p.delay_472));
  add("-r", std::to_string(p.rc4_params));
  if (p.alignment != 0) {
    add("-a", std::to_string(p.alignment));
    w.back().spaced = true;
  }
  if (p.loader_params) add("-l", param_file);
  return w;
}

}  // namespace

repack_refusal plan_repack(const std::uint8_t* data, std::size_t size, const container& c,
                           const std::string& chip_name, repack_plan& plan) {
  plan = repack_plan{};
  for (char ch : c.chip_code)
    if (!((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z')))
      return repack_refusal::chip_code;
  const std::string prefix = chip_name.substr(0, 2);
  plan.family = prefix == "TQ" || prefix == "TN" ? prefix : "TQ";
  plan.chip_code = c.chip_code;
  plan.major = c.version[1];
  plan.minor = c.version[0];
  plan.ldr_tag = c.ldr_tag;
  // Loader readers take the delay as one byte at a table's offset, whatever the table holds.
  for (std::size_t t = 0; t < 2; ++t) {
    const std::uint64_t at =
        std::uint64_t{get_le(data + hdr::tables + t * hdr::table_stride + 1, 4)} + ent::data_delay;
    if (at >= size) return repack_refusal::table_past_end;
    (t == 0 ? plan.delay_471 : plan.delay_472) = data[at];
  }
  plan.rc4_params =
      (std::uint32_t{c.crc_off} << 2) | (std::uint32_t{c.rc4_off_471} << 1) | c.rc4_flag;
  // Hosts look for "6947" anywhere in their option text; only the chip code can hold it (the
  // other options are numbers of at most four digits, apart by spaces).
  if (std::string(c.chip_code.begin(), c.chip_code.end()) == "6947") plan.alignment = 8;
  plan.recorded_family = c.chip_family;
  plan.recorded_alignment = c.alignment;

  // Hosts take the loader parameters from the listing's first loader slot, which only the long
  // listing has, and hand them back when they are programmed (their first four bytes neither
  // all 0xFF nor all zero).
  const bool short_listing =
      c.tables[0].size() == 1 && c.tables[1].size() == 1 && c.tables[2].size() == 2;
  if (!short_listing) {
    constexpr std::size_t read_length = 224;  // what hosts read of the image
    if (c.tables[2].empty() || c.tables[2].front().data.size() < read_length)
      return repack_refusal::first_loader_short;
    const std::vector<std::uint8_t>& image = c.tables[2].front().data;
    std::array<std::uint8_t, loader_param_length> params{};
    std::copy_n(image.begin() + loader_param_offsets[0], 8, params.begin());
    std::copy_n(image.begin() + loader_param_offsets[1], 8, params.begin() + 8);
    const unsigned first_four = params[0] + params[1] + params[2] + params[3];
    if (first_four != 4 * 0xFFu && first_four != 0) plan.loader_params = params;
  }
  return repack_refusal::none;
}

std::vector<std::string> pack_arguments(const repack_plan& plan, const std::string& param_file) {
  std::vector<std::string> args;
  for (const option_word& w : plan_words(plan, param_file)) args.push_back(w.text);
  return args;
}

std::string pack_params_text(const repack_plan& plan, const std::string& param_file) {
  std::string text;
  for (const option_word& w : plan_words(plan, param_file))
    text += (text.empty() ? "" : " ") + w.text + (w.spaced ? " " : "");
  return text;
}

}  // namespace imgwelder
