#include "tests/tool/support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "tool/layout.h"
#include "tool/tq6951_dram.h"

namespace tt {
namespace {

// The core's description of the section an index entry names.
const section_desc& section_of(index_entry e) {
  for (std::size_t i = 0; i < section_count; ++i)
    if (section_info(static_cast<section>(i)).entry == e)
      return section_info(static_cast<section>(i));
  ADD_FAILURE() << "no section for index entry " << int(e);
  return section_info(section::global);
}

sfield as_sfield(const field& f) {
  return {f.word, f.lo, f.width, std::string(base_info_tag[f.parameter]), f.decoded};
}

}  // namespace

std::size_t num(const std::string& key) {
  for (std::size_t n = 0; n < base_info_tag_size; ++n)
    if (base_info_tag[n] == key) return n;
  ADD_FAILURE() << "no key " << key;
  return 0;
}

std::vector<sfield> fields_of(index_entry e, std::uint32_t version) {
  std::vector<sfield> out;
  if (version <= 1) {
    for (const field& f : v1_fields()) out.push_back(as_sfield(f));
    return out;
  }
  const section_desc& d = section_of(e);
  for (const field& f : d.fields)
    if (f.word < section_room(d, version)) out.push_back(as_sfield(f));
  return out;
}

// What the block format says reserved bits are: the bits no field claims, less those not carried;
// the version-1 record has none. Worked out here from the fields, not taken from the core.
std::vector<std::uint32_t> reserved_of(index_entry e, std::uint32_t version) {
  if (version <= 1) return std::vector<std::uint32_t>(v1_record_words, 0);
  const section_desc& d = section_of(e);
  std::vector<std::uint32_t> r(section_room(d, version));
  for (std::size_t w = 0; w < r.size(); ++w) r[w] = ~d.not_carried[w];
  for (const sfield& f : fields_of(e, version)) r[f.word] &= ~f.mask();
  return r;
}

std::uint32_t room_of(index_entry e, std::uint32_t version) {
  return e == skew_index ? tq6951_skew_words : section_room(section_of(e), version);
}

const std::vector<index_entry>& image_sections() {
  static const std::vector<index_entry> s = [] {
    std::vector<index_entry> v;
    for (std::size_t i = 0; i < section_count; ++i)
      v.push_back(section_info(static_cast<section>(i)).entry);
    return v;
  }();
  return s;
}

std::vector<std::string> skew_lanes(int type) {
  std::vector<std::string> lanes(32);
  const skew_type& t = skew_types()[type];
  for (std::size_t r = 0; r < t.row_count; ++r)
    lanes[t.rows[r].lane] = std::string(base_info_tag[t.first_ca + t.rows[r].param_offset]);
  return lanes;
}

std::uint32_t word_at(const bytes& b, std::size_t pos) {
  return b[pos] | b[pos + 1] << 8 | b[pos + 2] << 16 | static_cast<std::uint32_t>(b[pos + 3]) << 24;
}
void set_word(bytes& b, std::size_t pos, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[pos + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

reported report_of(const bytes& bin, const std::string& chip) {
  bytes copy = bin;
  memory_ddr_file f(copy);
  run_context ctx;
  ctx.chip_info = chip;
  capture out;
  ctx.out = out.f;
  std::FILE* rep = std::tmpfile();
  run_report(ctx, f, rep);
  reported r;
  r.out = out.done();
  std::rewind(rep);
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, rep)) > 0;) r.report.append(buf, n);
  std::fclose(rep);
  EXPECT_EQ(f.writes(), 0u);
  EXPECT_TRUE(copy == bin);
  for (const std::string& l : lines(r.report)) {
    const auto eq = l.find('=');
    if (eq == std::string::npos || l.rfind("start tag=", 0) == 0) continue;
    const std::string v = l.substr(eq + 1);
    r.info[num(l.substr(0, eq))] =
        v.rfind("0x", 0) == 0 ? static_cast<std::uint32_t>(std::strtoul(v.c_str(), nullptr, 16))
                              : static_cast<std::uint32_t>(std::strtol(v.c_str(), nullptr, 10));
  }
  return r;
}

std::string modify(ddr_file& bin, const std::string& text, const std::string& chip) {
  run_context ctx;
  ctx.chip_info = chip;
  capture out;
  ctx.out = out.f;
  memory_text_source src(text.data(), text.size());
  run_modify(ctx, src, bin);
  return out.done();
}

std::string modify(bytes& bin, const std::string& text, const std::string& chip, bool older) {
  memory_ddr_file f(bin);
  run_context ctx;
  ctx.chip_info = chip;
  ctx.tq637y_en = older;
  capture out;
  ctx.out = out.f;
  memory_text_source src(text.data(), text.size());
  run_modify(ctx, src, f);
  return out.done();
}

std::string template_with(const std::map<std::string, std::string>& values) {
  std::string t = "start tag=0x12345678\n";
  for (std::size_t n = 1; n < base_info_tag_size; ++n) {
    const std::string k(base_info_tag[n]);
    const auto it = values.find(k);
    t += k + "=" + (it == values.end() ? "" : it->second) + "\n";
  }
  return t + "end\n";
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

scratch::scratch() {
  namespace fs = std::filesystem;
  std::random_device seed;
  for (;;) {
    const fs::path p = fs::temp_directory_path() / ("vxtool." + std::to_string(seed()));
    if (fs::create_directory(p)) {
      dir = p.generic_string();
      return;
    }
  }
}
scratch::~scratch() {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

void write_file(const std::string& path, const bytes& b) {
  std::ofstream(std::filesystem::u8path(path), std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), b.size());
}
bytes read_file(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), {});
}
bool exists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::u8path(path));
}

}  // namespace tt
