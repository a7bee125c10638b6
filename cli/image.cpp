#include "image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>

#include "errors.h"
#include "layout.h"
#include "param_text.h"
#include "text_util.h"
#include "values.h"

namespace vexdram::cli {
namespace {

std::string os_error() { return platform::error_text(errno); }

// A run's state for a binary: the chip, and the older family's names in its path. The core
// prints nothing for vexdram: what happened comes back as its outcome and in the context.
run_context context_for(const std::string& chip, const std::string& path) {
  run_context ctx;
  ctx.out = nullptr;
  ctx.chip_info = chip;
  ctx.tq637y_en = path_names_older_family(path.c_str());
  return ctx;
}

// The part of the block an outcome concerns: "DDR3 section", ..., "version-1 record".
std::string part_name(const block_outcome& o) {
  if (!o.in) return "version-1 record";
  if (*o.in == step::skew) return "skew section";
  return std::string(section_info(step_section(*o.in)).name) + " section";
}

// Why the core could not read or write a block, in words for a person who ran vexdram.
std::string block_failure(const block_outcome& o, std::uint32_t version) {
  switch (o.what) {
    case outcome::no_block:
      return "no parameter block: no start tag 0x12345678 with a version word after it";
    case outcome::unsupported_version:
      return "block version " + std::to_string(version) + " is not supported (versions 0 to 5 are)";
    case outcome::index_cut:
      return "the block's index runs past the end of the file";
    case outcome::record_cut:
    case outcome::section_cut:
    case outcome::skew_cut:
      return "the block's " + part_name(o) + " is empty or runs past the end of the file";
    case outcome::skew_version_cut:
      return "the block's skew section begins past the end of the file";
    case outcome::ddr5_present:
      return "the block has a DDR5 section, which is not supported";
    case outcome::unwritten:
      return "the block's " + part_name(o) + " could not be written whole";
    case outcome::done:
      break;
  }
  return "the block could not be put on the disk";  // written whole, not synced
}

struct decoded {
  run_context ctx;
  block_location at;
  base_info values;
};

// Scan, read and decode with the core; throws trouble with the reason.
decoded decode(ddr_file& f, const std::string& chip, const std::string& path) {
  decoded d{context_for(chip, path), {}, {}};
  const block_outcome o = read_block(d.ctx, f, start_tag_value, d.at, d.values);
  if (!o.ok()) throw trouble{block_failure(o, d.ctx.version)};
  // The block was found by its start tag: that is its value, as the report writes it.
  d.values[p::start_tag] = start_tag_value;
  return d;
}

// Records where the core writes; the sync is the writer's, once every output is complete.
class recording_file final : public ddr_file {
 public:
  explicit recording_file(ddr_file& inner) : inner_(inner) {}
  std::size_t read_at(std::uint64_t pos, void* buf, std::size_t n) override { return inner_.read_at(pos, buf, n); }
  std::size_t write_at(std::uint64_t pos, const void* buf, std::size_t n) override {
    written.emplace_back(pos, pos + n);
    return inner_.write_at(pos, buf, n);
  }
  std::uint64_t size() const override { return inner_.size(); }
  bool sync() override { return true; }
  std::optional<std::uint64_t> scan_for(std::uint32_t pattern) override { return inner_.scan_for(pattern); }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> written;

 private:
  ddr_file& inner_;
};

// Merge, encode and write the edits with the core, as modify mode does for a parameter file
// that gives the start tag and these values and leaves every other parameter blank.
void modify(ddr_file& f, const std::string& chip, const std::string& path, const std::vector<edit>& edits) {
  run_context ctx = context_for(chip, path);
  base_info info_from_txt;
  info_from_txt.v.fill(blank_value);
  ctx.updata_availd.fill(state_keep);
  info_from_txt[p::start_tag] = start_tag_value;
  ctx.updata_availd[p::start_tag] = state_given;
  for (const edit& e : edits) {
    info_from_txt[e.n] = e.value;
    ctx.updata_availd[e.n] = state_given;
  }
  const block_outcome o = modify_block(ctx, info_from_txt, f);
  if (!o.ok()) throw trouble{block_failure(o, ctx.version)};
}

// The first difference between a and b outside the ranges written, or "" when there is none.
std::string differs_outside(ddr_file& a, ddr_file& b, std::vector<std::pair<std::uint64_t, std::uint64_t>> written) {
  if (a.size() != b.size()) return "its length changed";
  std::sort(written.begin(), written.end());
  const std::size_t block = static_cast<std::size_t>(std::min<std::uint64_t>(a.size(), 256u << 10));
  std::vector<std::uint8_t> x(block), y(block);
  for (std::uint64_t pos = 0; pos < a.size(); pos += block) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block, a.size() - pos));
    if (a.read_at(pos, x.data(), n) != n || b.read_at(pos, y.data(), n) != n) return "it cannot be read back";
    std::uint64_t at = pos;
    for (const auto& [from, to] : written) {
      if (to <= at || from >= pos + n) continue;
      if (from > at && std::memcmp(x.data() + (at - pos), y.data() + (at - pos), from - at) != 0)
        return "bytes outside the block's sections changed";
      at = std::max(at, to);
    }
    if (at < pos + n && std::memcmp(x.data() + (at - pos), y.data() + (at - pos), pos + n - at) != 0)
      return "bytes outside the block's sections changed";
  }
  return "";
}

// Binaries up to this size are held in memory.
constexpr std::uint64_t in_memory_size = std::uint64_t{4} << 20;

// The first parameter whose value is not what it should be, or "".
std::string values_differ(const base_info& got, const base_info& want) {
  for (std::size_t n = 0; n < base_info_tag_size; ++n)
    if (got[n] != want[n])
      return std::string(base_info_tag[n]) + " reads back as " + report_text(n, got[n]) + ", not " +
             report_text(n, want[n]);
  return "";
}

// Copies the whole of `from` into `to` (both at offset 0), in the kernel where it can.
void copy_file(platform::native_file from, platform::native_file to, std::uint64_t size) {
  if (platform::copy_data(from, to, size) != size)
    throw trouble{"cannot copy into the new file: " + (errno != 0 ? os_error() : "the input ended early")};
}

void write_all(platform::native_file f, const std::vector<std::uint8_t>& bytes) {
  if (platform::write_on(f, bytes.data(), bytes.size()) != bytes.size())
    throw trouble{"cannot write the new file: " + os_error()};
}

}  // namespace

const char* kind_name(kind k) { return k == kind::ddr ? "ddr" : "loader"; }

bool is_loader(const std::uint8_t* head, std::size_t size) {
  return size >= 5 && (std::memcmp(head, "BOOT", 4) == 0 || std::memcmp(head, "LDR ", 4) == 0) &&
         head[4] == imgwelder::hdr::length;
}

std::string resolve_chip(const std::string& option, const std::string& path) {
  if (!option.empty()) {
    const std::string chip = lower(option);
    if (!chip_supported(chip.c_str()))
      throw trouble{"unknown chip '" + option + "' ('vexdram chips' lists them)"};
    return chip;
  }
  const std::optional<std::string> named = chip_in_name(path);
  if (!named) throw trouble{"no chip name in the file's name: give one with --chip", path};
  return *named;
}

std::optional<std::string> chip_in_name(const std::string& path) {
  const std::string name = lower(base_name(path));
  std::string best;
  for (const char* c : chip_names)
    if (name.find(c) != std::string::npos && std::strlen(c) > best.size()) best = c;
  if (best.empty()) return std::nullopt;
  return best;
}

binary::binary(const std::string& path, const std::string& chip_option) : path_(path) {
  using type = platform::file_status::type;
  if (const auto st = platform::status_of(path)) st_ = *st;
  else throw trouble{"cannot open: " + os_error(), path};
  if (st_.kind == type::folder) throw trouble{"is a directory", path};
  // A pipe may never end, nor a character device (/dev/zero); neither can be written back.
  if (st_.kind != type::regular && st_.kind != type::block_device)
    throw trouble{"not a regular file or a block device (a pipe, a socket or a character device is not read)", path};
  chip_ = resolve_chip(chip_option, path);
  file_ = std::make_unique<posix_ddr_file>(path.c_str(), false);
  if (!file_->ok()) throw trouble{"cannot open: " + os_error(), path};
  try {
    std::uint8_t head[5] = {};
    const std::size_t got = file_->read_at(0, head, sizeof head);
    // A binary of ordinary size, and a container, are read once and worked on in memory; a large
    // binary is scanned where it lies and edited in a copy on the disk, in constant memory.
    std::unique_ptr<memory_ddr_file> mem;
    std::string note_prefix;
    if (is_loader(head, got) || (st_.kind == type::regular && file_->size() <= in_memory_size)) {
      // Positioned reads (a Windows read moves no pointer a positioned read has moved), one byte
      // past the end: a file that grew or shrank since it was opened is not taken as read.
      bytes_.resize(static_cast<std::size_t>(file_->size()) + 1);
      errno = 0;
      bytes_.resize(file_->read_at(0, bytes_.data(), bytes_.size()));
      if (bytes_.size() < file_->size() && errno != 0) throw trouble{"cannot read: " + os_error()};
      if (bytes_.size() != file_->size()) throw trouble{"it changed while it was read"};
      file_.reset();  // no descriptor held per input: apply may be given thousands
      mem = std::make_unique<memory_ddr_file>(bytes_);
    }
    if (is_loader(head, got)) {
      kind_ = kind::loader;
      imgwelder::container c;
      std::string error;
      if (!imgwelder::read_container(bytes_.data(), bytes_.size(), c, error)) throw trouble{error};
      unpacked_ = std::make_unique<module_unpack>(unpack_as_module(bytes_, c, upper(chip_)));
      std::vector<std::uint8_t>* image = unpacked_->file((*unpacked_)["loader_471"]);
      if (!image) throw trouble{"the container holds no DDR image (471)"};
      mem = std::make_unique<memory_ddr_file>(*image);
      note_prefix = unpacked_->ddr_image() + ": ";
    }
    decoded d = decode(mem ? static_cast<ddr_file&>(*mem) : *file_, chip_, path_);
    version_ = d.ctx.version;
    values_ = d.values;
    stored_ = stored_fields(d.ctx, d.at);
    overlap_ = overlapping_sections(d.ctx, d.at);
    if (d.ctx.skew_state == skew_found::other_sub_version)
      notes_.push_back(note_prefix +
                       "warning: the skew section is not of sub-version 1: its parameters read as 0 and cannot be set");
  } catch (trouble& t) {
    if (t.file.empty()) t.file = path;
    if (kind_ == kind::loader && unpacked_) t.text = "DDR image " + unpacked_->ddr_image() + ": " + t.text;
    throw;
  }
}

binary::~binary() = default;

std::string binary::unwritable() const {
  // Writing one section back would change the other's values.
  return overlap_.empty() ? "" : "the block's " + overlap_ + " sections overlap: vexdram does not write it";
}

std::string binary::not_stored(param n) const {
  // The words of every refusal of a value and of show --json's "storage".
  const stored_field& w = stored_[n];
  const std::string section = w.in ? std::string(w.in->name) : "skew";
  switch (w.why) {
    case storage::stored:
      return "";
    case storage::no_section:
      return "not stored in this binary: it has no " + section + " section";
    case storage::version_lacks:
      return "not stored in this binary: block version " + std::to_string(version_) + " has no place for it";
    case storage::section_short:
      return "not stored in this binary: its " + section + " section is too short to hold it";
    case storage::skew_not_read:
      return chip_ != "tq6951" ? "not stored for chip " + chip_ + ": the skew section is read for chip tq6951 only"
                               : "not stored in this binary: it has no skew section of sub-version 1";
    case storage::reads_as_zero:
      return "not stored in a version " + std::to_string(version_) + " block: written, it always reads back as 0";
    case storage::short_form:
      return "not stored for this file name: the version-1 short form leaves the frequency words alone";
  }
  return "";
}

std::string binary::refusal(const edit& e) const {
  if (e.n == p::start_tag) return "the start tag is fixed";
  const stored_field& w = stored_[e.n];
  // A value equal to the binary's own is no change, wherever the parameter lives.
  if (w.why != storage::stored) return e.value == values_[e.n] ? "" : not_stored(e.n);
  if (!field_fits(w.width, e.value)) return too_wide(w.width);
  if (w.zero_keeps && e.value == 0 && values_[e.n] != 0)
    return "0 keeps a skew lane as it is (" + report_text(e.n, values_[e.n]) + " here); it cannot be set to 0";
  return "";
}

base_info binary::edited(const std::vector<edit>& edits) const {
  base_info v = values_;
  for (const edit& e : edits) v[e.n] = e.value;
  return v;
}

namespace {
// A written file read back whole from the disk; "" in error when it holds exactly `bytes`.
std::vector<std::uint8_t> read_back(const std::string& temp_path, const std::vector<std::uint8_t>& bytes,
                                    std::string& error) {
  posix_ddr_file f(temp_path.c_str(), false);
  if (!f.ok()) {
    error = "it cannot be opened again: " + os_error();
    return {};
  }
  std::vector<std::uint8_t> back(bytes.size() + 1);  // one byte more: the file must end there
  back.resize(f.read_at(0, back.data(), back.size()));
  if (back != bytes) error = "it does not read back as written";
  return back;
}

// The edited DDR image `now`, read back from the disk, against the values wanted and, outside
// the ranges written, the image before the edit.
std::string check_image(ddr_file& was, ddr_file& now, const base_info& want,
                        const std::vector<std::pair<std::uint64_t, std::uint64_t>>& written,
                        const std::string& chip, const std::string& path) {
  try {
    const std::string wrong = values_differ(decode(now, chip, path).values, want);
    if (!wrong.empty()) return wrong;
  } catch (const trouble& t) {
    return "it does not decode: " + t.text;
  }
  return differs_outside(was, now, written);
}
}  // namespace

made binary::write_edited(platform::native_file fd, const std::string& temp_path, const std::vector<edit>& edits) const {
  const base_info want = edited(edits);
  if (kind_ == kind::ddr && bytes_.empty()) {
    // A large binary: copied into the new file by the kernel, edited there.
    copy_file(file_->native(), fd, file_->size());
    posix_ddr_file out(temp_path.c_str(), true);
    if (!out.ok()) throw trouble{"cannot open the new file: " + os_error()};
    recording_file rec(out);
    modify(rec, chip_, path_, edits);
    auto written = rec.written;
    ddr_file& input = *file_;
    return {[this, written, want, temp_path, &input]() -> std::string {
      posix_ddr_file again(temp_path.c_str(), false);
      if (!again.ok()) return "it cannot be opened again: " + os_error();
      return check_image(input, again, want, written, chip_, path_);
    }};
  }
  // A binary in memory, or a container's DDR image, edited in memory; a container is then packed
  // again as the module packs it.
  const std::vector<std::uint8_t>& before = kind_ == kind::ddr ? bytes_ : *unpacked_->file((*unpacked_)["loader_471"]);
  auto image = std::make_shared<std::vector<std::uint8_t>>(before);
  memory_ddr_file mem(*image);
  recording_file rec(mem);
  modify(rec, chip_, path_, edits);
  auto bytes = kind_ == kind::ddr ? image : std::make_shared<std::vector<std::uint8_t>>(pack_as_module(*unpacked_, *image));
  write_all(fd, *bytes);
  auto written = rec.written;
  return {[this, bytes, written, want, temp_path, &before]() -> std::string {
    std::string error;
    std::vector<std::uint8_t> back = read_back(temp_path, *bytes, error);
    if (!error.empty()) return error;
    std::vector<std::uint8_t> old = before;  // (a memory file is a view of a vector it may write)
    memory_ddr_file was(old);
    if (kind_ == kind::ddr) {
      memory_ddr_file now(back);
      return check_image(was, now, want, written, chip_, path_);
    }
    imgwelder::container c;
    if (!imgwelder::read_container(back.data(), back.size(), c, error)) return "it does not unpack: " + error;
    try {
      module_unpack u = unpack_as_module(back, c, upper(chip_));
      std::vector<std::uint8_t>* image = u.file(u["loader_471"]);
      if (!image) return "its DDR image (471) is missing";
      memory_ddr_file now(*image);
      return check_image(was, now, want, written, chip_, path_);
    } catch (const trouble& t) {
      return t.text;
    }
  }};
}

assignments check_assignments(const binary& b, const std::vector<std::string>& texts) {
  assignments out;
  if (const std::string why = b.unwritable(); !why.empty()) out.problems.push_back(why);
  for (const std::string& kv : texts) {
    const std::size_t eq = kv.find('=');
    if (eq == std::string::npos) {
      out.problems.push_back(kv + ": no '=' (write KEY=VALUE)");
      continue;
    }
    const std::string key = kv.substr(0, eq);
    const auto n = find_key(key);
    if (!n) {
      out.problems.push_back(unknown_key(key));
      continue;
    }
    const typed v = parse_value(kv.substr(eq + 1));
    if (!v.value) {
      out.problems.push_back(kv + ": " + v.reason);
      continue;
    }
    const edit e{*n, *v.value, 0};
    if (const std::string why = b.refusal(e); !why.empty()) {
      out.problems.push_back(kv + ": " + why);
      continue;
    }
    for (const edit& earlier : out.edits)
      if (earlier.n == e.n && earlier.value != e.value) out.problems.push_back(kv + ": " + key + " is given twice");
    out.edits.push_back(e);
  }
  return out;
}

namespace {
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
constexpr const char* bare_cr = "a carriage return inside the line: only a line feed ends a line";
constexpr const char* has_nul = "it holds a NUL byte";
static_assert(param_line_limit == line_buffer_size - 1, "the lines vexdram_tool's reader takes whole");
const std::string too_long =
    "longer than " + std::to_string(param_line_limit) + " bytes: vexdram_tool would read it in pieces";
}  // namespace

param_file read_param_file(std::string_view text, bool name_nearest) {
  param_file out;
  std::vector<std::size_t> given_on(base_info_tag_size, 0);
  // vexdram_tool's reader finds the first line's key after a byte-order mark: so does this one.
  if (text.substr(0, byte_order_mark.size()) == byte_order_mark) text.remove_prefix(byte_order_mark.size());
  std::size_t number = 0;
  for (std::size_t at = 0; at < text.size();) {
    // Only a line feed ends a line, as for vexdram_tool's reader; a CR before it (or before the
    // end of the file) belongs to the line end.
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    auto problem = [&](std::string reason) { out.problems.push_back({number, std::move(reason)}); };
    // vexdram_tool reads at most 1023 bytes of a line at a time; the rest would be a line of its own.
    if (line.size() > param_line_limit) {
      problem(too_long);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) {
      problem(has_nul);
      continue;
    }
    line = trim(line.substr(0, line.find("/*")));
    if (line.find('\r') != std::string_view::npos) {
      problem(bare_cr);
      continue;
    }
    if (line.empty() || line == "end") continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      problem("no '=' in '" + shown(line) + "'");
      continue;
    }
    const std::string_view key = trim(line.substr(0, eq));
    const std::string_view value = trim(line.substr(eq + 1));
    const std::optional<param> n = find_key(key);
    if (!n) {
      problem(name_nearest ? unknown_key(key) : "no parameter '" + shown(key) + "'");
      continue;
    }
    if (value.empty()) {
      // Blank keeps the binary's value; vexdram_tool's reader takes the last line of a key, so a
      // blank after a value would undo it there.
      if (given_on[*n] != 0)
        problem(std::string(key) + " is left blank after a value on line " + std::to_string(given_on[*n]));
      continue;
    }
    const typed v = parse_value(value);
    if (!v.value) {
      problem(std::string(key) + "=" + shown(value) + ": " + v.reason);
      continue;
    }
    if (*n == p::start_tag && *v.value != start_tag_value) {
      problem("the start tag is 0x12345678, not " + shown(value));
      continue;
    }
    if (given_on[*n] != 0) {
      bool same = false;
      for (const auto& g : out.values)
        if (g.n == *n) same = g.number == *v.value;
      if (!same) problem(std::string(key) + " is given again (first on line " + std::to_string(given_on[*n]) + ")");
      continue;
    }
    given_on[*n] = number;
    out.values.push_back({number, *n, *v.value});
  }
  return out;
}

std::string read_whole(const std::string& path) {
  const bool standard = path == "-";
  const platform::native_file f = standard ? platform::standard_input() : platform::open_to_read(path);
  if (f == platform::no_file) throw trouble{"cannot open: " + os_error(), path};
  std::string out;
  try {
    const auto st = platform::status_of(f);
    if (st && st->kind == platform::file_status::type::folder) throw trouble{"is a directory"};
    // Read in blocks up to one byte past the limit: /dev/zero ends here too.
    char buf[1 << 16];
    for (;;) {
      const std::ptrdiff_t got = platform::read_on(f, buf, sizeof buf);
      if (got < 0) throw trouble{"cannot read: " + os_error()};
      if (got == 0) break;
      out.append(buf, static_cast<std::size_t>(got));
      if (out.size() > param_file_limit) throw trouble{param_file_too_large};
    }
  } catch (trouble& t) {
    if (!standard) platform::close_file(f);
    t.file = path;
    throw;
  }
  if (!standard) platform::close_file(f);
  return out;
}

bool looks_like_text(const std::string& path) {
  // A binary holds zero bytes early (its index has them); a parameter file holds none.
  const platform::native_file f = platform::open_to_read(path);
  if (f == platform::no_file) return false;
  std::uint8_t buf[text_window];
  std::size_t got = 0;
  const auto st = platform::status_of(f);
  if (st && !(st->kind == platform::file_status::type::regular && st->id.size > param_file_limit) &&
      st->kind != platform::file_status::type::folder) {
    while (got < sizeof buf) {
      const std::ptrdiff_t n = platform::read_on(f, buf + got, sizeof buf - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  platform::close_file(f);
  return got > 0 && !is_loader(buf, got) && std::find(buf, buf + got, 0) == buf + got;
}

}  // namespace vexdram::cli
