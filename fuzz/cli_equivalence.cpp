// The check behind fuzz_cli_equivalence: the library's edit of a DDR binary (what vexdram and the
// Python package do) against vexdram_tool's modify mode with the blank template and the same
// values filled in. Either both write the same bytes, or the library refuses and writes nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include <vexdram/vexdram.h>

#include "fuzz/harness.h"
#include "tool/param_text.h"
#include "tool/report.h"
#include "tool/run.h"

namespace vexdram::fuzz {
namespace {

// The ways a person writes a value; some are refused by the value rule.
std::string written(std::uint32_t v, std::uint8_t form) {
  char buf[40];
  switch (form & 7) {
    case 0: std::snprintf(buf, sizeof buf, "%u", v); break;
    case 1: std::snprintf(buf, sizeof buf, "0x%x", v); break;
    case 2: std::snprintf(buf, sizeof buf, "0X%08X", v); break;
    case 3: std::snprintf(buf, sizeof buf, "%d", static_cast<std::int32_t>(v)); break;
    case 4: std::snprintf(buf, sizeof buf, "0%u", v); break;
    case 5: std::snprintf(buf, sizeof buf, " \t%u\t", v); break;
    case 6: std::snprintf(buf, sizeof buf, "%ux", v); break;
    default: std::snprintf(buf, sizeof buf, "-%u", v); break;
  }
  return buf;
}

// Narrower values, so that many fit their fields.
std::uint32_t narrowed(std::uint32_t v, std::uint8_t form) {
  switch ((form >> 3) & 3) {
    case 1: return v & 0xFFFu;
    case 2: return v & 0xFFu;
    case 3: return v & 1u;
    default: return v;
  }
}

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::vector<std::uint8_t> cli_input(std::uint8_t flags, const std::vector<cli_edit>& edits,
                                    const std::vector<std::uint8_t>& bin) {
  std::vector<std::uint8_t> out{flags, static_cast<std::uint8_t>(edits.size())};
  for (const cli_edit& e : edits) {
    out.push_back(static_cast<std::uint8_t>(e.n));
    out.push_back(static_cast<std::uint8_t>(e.n >> 8));
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(e.value >> (8 * i)));
    out.push_back(e.form);
  }
  out.insert(out.end(), bin.begin(), bin.end());
  return out;
}

std::string check_cli_equivalence(const std::uint8_t* data, std::size_t size,
                                  const std::string& scratch) {
  if (size < 2) return "";
  const std::uint8_t flags = data[0];
  const std::size_t count = std::min<std::size_t>(data[1], 8);
  if (size < 2 + 7 * count) return "";
  const char* chip = tool_chips[(flags >> 2) & 3];
  const std::string path = scratch + ((flags & flag_older_family) ? "/tq6471_in.bin" : "/in.bin");
  const std::string out = scratch + "/out.bin";
  std::vector<std::string> texts(base_info_tag_size);
  std::vector<std::pair<param, std::string>> asked;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* e = data + 2 + 7 * i;
    const auto n = static_cast<param>((e[0] | e[1] << 8) % base_info_tag_size);
    const std::uint32_t v = e[2] | e[3] << 8 | e[4] << 16 | static_cast<std::uint32_t>(e[5]) << 24;
    asked.emplace_back(n, written(narrowed(v, e[6]), e[6]));
  }
  const std::vector<std::uint8_t> bin(data + 2 + 7 * count, data + size);
  // A file that begins like a loader container is one to vexdram, whatever the tool makes of it.
  if (vexdram::is_loader(bin.data(), bin.size())) return "";
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bin.data()), static_cast<std::streamsize>(bin.size()));
    if (!f) return "";
  }
  ::unlink(out.c_str());

  // The library: decode, check every value and edit as `set` does (a key given twice with
  // different values is refused), write through the all-or-nothing writer.
  bool refused = false, unreadable = false;
  std::optional<vexdram::image> img;
  try {
    img = vexdram::image::open(path, chip);
  } catch (const vexdram::error&) {
    unreadable = true;
  }
  if (img) {
    refused = img->unwritable().has_value();
    std::vector<std::pair<std::size_t, std::uint32_t>> given;
    for (const auto& [n, text] : asked) {
      texts[n] = text;
      const vexdram::parsed_value v = vexdram::parse_value(text);
      refused = refused || !v.value || img->check(n, *v.value);
      if (!v.value) continue;
      for (const auto& [m, earlier] : given) refused = refused || (m == n && earlier != *v.value);
      given.emplace_back(n, *v.value);
    }
    if (!refused) try {
        for (const auto& [n, value] : given) img->set(n, value);
        img->write(out);
      } catch (const vexdram::error& e) {
        return std::string("an accepted edit could not be written: ") + e.what();
      }
  }
  struct stat st {};
  const bool wrote = ::stat(out.c_str(), &st) == 0;
  if ((refused || unreadable) && wrote) return "a refused edit wrote its output";
  if (refused) return "";

  // vexdram_tool: the template with these values, merged into a copy in memory. The blank
  // template is read once; a line filled in reads as that line read after it (each line sets
  // only the parameter of its first key), so only the filled lines are read again here.
  static const std::pair<base_info, state_table> blank = [] {
    std::pair<base_info, state_table> b;
    b.second.fill(state_keep);
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* t = open_memstream(&buf, &len);
    write_template(t);
    std::fclose(t);
    memory_text_source src(buf, len);
    read_param_text(src, b.first, b.second, nullptr);
    std::free(buf);
    return b;
  }();
  std::string filled;
  for (std::size_t n = 1; n < base_info_tag_size; ++n)
    if (!texts[n].empty()) filled += std::string(base_info_tag[n]) + "=" + texts[n] + "\n";
  std::vector<std::uint8_t> theirs = bin;
  memory_ddr_file f(theirs);
  memory_text_source src(filled.data(), filled.size());
  run_context ctx;
  ctx.out = nullptr;
  ctx.chip_info = chip;
  ctx.tq637y_en = path_names_older_family(path.c_str());
  base_info info = blank.first;
  ctx.updata_availd = blank.second;
  read_param_text(src, info, ctx.updata_availd, nullptr);
  modify_block(ctx, info, f);
  if (unreadable) return f.writes() == 0 ? "" : "the tool wrote a binary vexdram could not read";
  if (!wrote) return "an accepted edit wrote nothing";
  if (file_bytes(out) != theirs) return "vexdram and vexdram_tool wrote different bytes";
  return "";
}

}  // namespace vexdram::fuzz
