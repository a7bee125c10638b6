#include "lib/binary.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>

#include "lib/chip.h"
#include "lib/errors.h"
#include "lib/files.h"
#include "lib/values.h"
#include "tool/layout.h"
#include "tool/param_text.h"
#include "tool/text_util.h"

namespace vexdram::engine {
namespace {

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
      return "no parameter block: no start tag " VEXDRAM_START_TAG " with a version word after it";
    case outcome::unsupported_version:
      return "block version " + std::to_string(version) + " is not supported (versions 0 to 5 are)";
    case outcome::index_cut: return "the block's index runs past the end of the file";
    case outcome::record_cut:
    case outcome::section_cut:
    case outcome::skew_cut:
      return "the block's " + part_name(o) + " is empty or runs past the end of the file";
    case outcome::skew_version_cut:
      return "the block's skew section begins past the end of the file";
    case outcome::ddr5_present: return "the block has a DDR5 section, which is not supported";
    case outcome::unwritten: return "the block's " + part_name(o) + " could not be written whole";
    case outcome::done: break;
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
  if (!o.ok()) throw trouble{block_failure(o, d.ctx.version), {}, errc::bad_block};
  // The block was found by its start tag: that is its value, as the report writes it.
  d.values[p::start_tag] = start_tag_value;
  return d;
}

// Records where the core writes; the sync is the writer's, once every output is complete.
class recording_file final : public ddr_file {
 public:
  explicit recording_file(ddr_file& inner) : inner_(inner) {}
  std::size_t read_at(std::uint64_t pos, void* buf, std::size_t n) override {
    return inner_.read_at(pos, buf, n);
  }
  std::size_t write_at(std::uint64_t pos, const void* buf, std::size_t n) override {
    written.emplace_back(pos, pos + n);
    return inner_.write_at(pos, buf, n);
  }
  std::uint64_t size() const override { return inner_.size(); }
  bool sync() override { return true; }
  std::optional<std::uint64_t> scan_for(std::uint32_t pattern) override {
    return inner_.scan_for(pattern);
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> written;

 private:
  ddr_file& inner_;
};

// Merge, encode and write the edits with the core, as modify mode does for a parameter file
// that gives the start tag and these values and leaves every other parameter blank.
void modify(ddr_file& f, const std::string& chip, const std::string& path,
            const std::vector<edit>& edits) {
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
  if (!o.ok()) throw trouble{block_failure(o, ctx.version), {}, errc::bad_block};
}

// The first difference between a and b outside the ranges written, or "" when there is none.
std::string differs_outside(ddr_file& a, ddr_file& b,
                            std::vector<std::pair<std::uint64_t, std::uint64_t>> written) {
  if (a.size() != b.size()) return "its length changed";
  std::sort(written.begin(), written.end());
  const std::size_t block = static_cast<std::size_t>(std::min<std::uint64_t>(a.size(), 256u << 10));
  std::vector<std::uint8_t> x(block), y(block);
  for (std::uint64_t pos = 0; pos < a.size(); pos += block) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block, a.size() - pos));
    if (a.read_at(pos, x.data(), n) != n || b.read_at(pos, y.data(), n) != n)
      return "it cannot be read back";
    std::uint64_t at = pos;
    for (const auto& [from, to] : written) {
      if (to <= at || from >= pos + n) continue;
      if (from > at && std::memcmp(x.data() + (at - pos), y.data() + (at - pos), from - at) != 0)
        return "bytes outside the block's sections changed";
      at = std::max(at, to);
    }
    if (at < pos + n &&
        std::memcmp(x.data() + (at - pos), y.data() + (at - pos), pos + n - at) != 0)
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

}  // namespace

binary::binary(const std::string& path, const std::string& chip_option) : path_(path) {
  using type = platform::file_status::type;
  if (const auto st = platform::status_of(path)) st_ = *st;
  else throw trouble{"cannot open: " + os_error(), path, errc::cannot_open, errno};
  if (st_.kind == type::folder) throw trouble{"is a directory", path, errc::is_directory, EISDIR};
  // A pipe may never end, nor a character device (/dev/zero); neither can be written back.
  if (st_.kind != type::regular && st_.kind != type::block_device)
    throw trouble{
        "not a regular file or a block device (a pipe, a socket or a character device is not read)",
        path, errc::not_a_file};
  chip_ = resolve_chip(chip_option, path);
  file_ = std::make_unique<posix_ddr_file>(path.c_str(), false);
  if (!file_->ok()) throw trouble{"cannot open: " + os_error(), path, errc::cannot_open, errno};
  try {
    std::uint8_t head[5] = {};
    const std::size_t got = file_->read_at(0, head, sizeof head);
    // A binary of ordinary size, and a container, are read once and worked on in memory; a large
    // binary is scanned where it lies and edited in a copy on the disk, in constant memory.
    if (is_loader(head, got) || (st_.kind == type::regular && file_->size() <= in_memory_size)) {
      // Positioned reads (a Windows read moves no pointer a positioned read has moved), one byte
      // past the end: a file that grew or shrank since it was opened is not taken as read.
      bytes_.resize(static_cast<std::size_t>(file_->size()) + 1);
      errno = 0;
      bytes_.resize(file_->read_at(0, bytes_.data(), bytes_.size()));
      if (bytes_.size() < file_->size() && errno != 0)
        throw trouble{"cannot read: " + os_error(), {}, errc::cannot_read, errno};
      if (bytes_.size() != file_->size())
        throw trouble{"it changed while it was read", {}, errc::changed_while_read};
      file_.reset();  // no descriptor held per input: apply may be given thousands
    }
    take(head, got);
  } catch (trouble& t) {
    annotate(t);
    throw;
  }
}

binary::binary(std::vector<std::uint8_t> bytes, const std::string& name,
               const std::string& chip_option)
    : path_(name), bytes_(std::move(bytes)) {
  st_.kind = platform::file_status::type::regular;
  st_.id.size = bytes_.size();
  chip_ = resolve_chip(chip_option, name);
  try {
    take(bytes_.data(), bytes_.size());
  } catch (trouble& t) {
    annotate(t);
    throw;
  }
}

void binary::annotate(trouble& t) const {
  if (t.file.empty()) t.file = path_;
  if (kind_ == kind::loader && unpacked_)
    t.text = "DDR image " + unpacked_->ddr_image() + ": " + t.text;
}

void binary::take(const std::uint8_t* head, std::size_t got) {
  // file_: a large binary, scanned where it lies; else the bytes, in memory.
  std::unique_ptr<memory_ddr_file> mem;
  std::string note_prefix;
  if (!file_) mem = std::make_unique<memory_ddr_file>(bytes_);
  if (is_loader(head, got)) {
    kind_ = kind::loader;
    imgwelder::container c;
    if (const auto read = imgwelder::read_container(bytes_.data(), bytes_.size(), c); !read)
      throw trouble{unreadable(read), {}, errc::bad_container};
    unpacked_ = std::make_unique<module_unpack>(unpack_as_module(bytes_, c, upper(chip_)));
    std::vector<std::uint8_t>* image = unpacked_->file((*unpacked_)["loader_471"]);
    if (!image) throw trouble{"the container holds no DDR image (471)", {}, errc::bad_container};
    mem = std::make_unique<memory_ddr_file>(*image);
    note_prefix = unpacked_->ddr_image() + ": ";
  }
  decoded d = decode(mem ? static_cast<ddr_file&>(*mem) : *file_, chip_, path_);
  version_ = d.ctx.version;
  values_ = d.values;
  stored_ = stored_fields(d.ctx, d.at);
  overlap_ = overlapping_sections(d.ctx, d.at);
  if (d.ctx.skew_state == skew_found::other_sub_version)
    notes_.push_back(
        note_prefix +
        "warning: the skew section is not of sub-version 1: its parameters read as 0 and cannot be set");
}

binary::~binary() = default;

std::string binary::unwritable() const {
  // Writing one section back would change the other's values. The words of every refusal of an
  // edit of this block and of show --json's "unwritable".
  return overlap_.empty()
             ? ""
             : "the block's " + overlap_ + " sections overlap: vexdram does not write it";
}

std::string binary::not_stored(param n) const {
  // The words of every refusal of a value and of show --json's "storage".
  const stored_field& w = stored_[n];
  const std::string section = w.in ? std::string(w.in->name) : "skew";
  switch (w.why) {
    case storage::stored: return "";
    case storage::no_section: return "not stored in this binary: it has no " + section + " section";
    case storage::version_lacks:
      return "not stored in this binary: block version " + std::to_string(version_) +
             " has no place for it";
    case storage::section_short:
      return "not stored in this binary: its " + section + " section is too short to hold it";
    case storage::skew_not_read:
      return chip_ != "tq6951"
                 ? "not stored for chip " + chip_ +
                       ": the skew section is read for chip tq6951 only"
                 : "not stored in this binary: it has no skew section of sub-version 1";
    case storage::reads_as_zero:
      return "not stored in a version " + std::to_string(version_) +
             " block: written, it always reads back as 0";
    case storage::short_form:
      return "not stored for this file name: the version-1 short form leaves the frequency words alone";
  }
  return "";
}

std::optional<vexdram::refusal> binary::refused(const edit& e) const {
  using why = vexdram::refusal::reason;
  if (e.n == p::start_tag) return vexdram::refusal{why::fixed, "the start tag is fixed"};
  const stored_field& w = stored_[e.n];
  // A value equal to the binary's own is no change, wherever the parameter lives.
  if (w.why != storage::stored) {
    if (e.value == values_[e.n]) return std::nullopt;
    return vexdram::refusal{why::not_stored, not_stored(e.n)};
  }
  if (!field_fits(w.width, e.value)) return vexdram::refusal{why::too_wide, too_wide(w.width)};
  if (e.value == 0)
    if (std::string zero = zero_refused(e.n); !zero.empty())
      return vexdram::refusal{why::zero_keeps, std::move(zero)};
  return std::nullopt;
}

std::string binary::zero_refused(param n) const {
  // The words of set's refusal and of show --json's "zero_refused".
  const stored_field& w = stored_[n];
  if (w.why != storage::stored || !w.zero_keeps || values_[n] == 0) return "";
  return "0 keeps a skew lane as it is (" + report_text(n, values_[n]) +
         " here); it cannot be set to 0";
}

base_info binary::edited(const std::vector<edit>& edits) const {
  base_info v = values_;
  for (const edit& e : edits) v[e.n] = e.value;
  return v;
}

namespace {
// A written file read back whole from the disk; "" in error when it holds exactly `bytes`.
std::vector<std::uint8_t> read_back(const std::string& temp_path,
                                    const std::vector<std::uint8_t>& bytes, std::string& error) {
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

// The image before the edit: a binary in memory, or a container's DDR image.
const std::vector<std::uint8_t>& binary::image_before() const {
  return kind_ == kind::ddr ? bytes_ : *unpacked_->file((*unpacked_)["loader_471"]);
}

binary::in_memory binary::edit_in_memory(const std::vector<std::uint8_t>& before,
                                         const std::vector<edit>& edits) const {
  auto image = std::make_shared<std::vector<std::uint8_t>>(before);
  memory_ddr_file mem(*image);
  recording_file rec(mem);
  modify(rec, chip_, path_, edits);
  // A container is packed again as the module packs it.
  auto bytes =
      kind_ == kind::ddr
          ? image
          : std::make_shared<std::vector<std::uint8_t>>(pack_as_module(*unpacked_, *image));
  return {bytes, rec.written};
}

std::string binary::check_edited(const std::vector<std::uint8_t>& before,
                                 std::vector<std::uint8_t>& back, const in_memory& made_here,
                                 const base_info& want) const {
  std::vector<std::uint8_t> old = before;  // (a memory file is a view of a vector it may write)
  memory_ddr_file was(old);
  if (kind_ == kind::ddr) {
    memory_ddr_file now(back);
    return check_image(was, now, want, made_here.written, chip_, path_);
  }
  imgwelder::container c;
  if (const auto read = imgwelder::read_container(back.data(), back.size(), c); !read)
    return "it does not unpack: " + unreadable(read);
  try {
    module_unpack u = unpack_as_module(back, c, upper(chip_));
    std::vector<std::uint8_t>* image = u.file(u["loader_471"]);
    if (!image) return "its DDR image (471) is missing";
    memory_ddr_file now(*image);
    return check_image(was, now, want, made_here.written, chip_, path_);
  } catch (const trouble& t) {
    return t.text;
  }
}

made binary::write_edited(platform::native_file fd, const std::string& temp_path,
                          const std::vector<edit>& edits) const {
  const base_info want = edited(edits);
  if (kind_ == kind::ddr && bytes_.empty()) {
    // A large binary: copied into the new file by the kernel, edited there.
    copy_file(file_->native(), fd, file_->size());
    posix_ddr_file out(temp_path.c_str(), true);
    if (!out.ok())
      throw trouble{"cannot open the new file: " + os_error(), {}, errc::write_failed, errno};
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
  // A binary in memory, or a container's DDR image, edited in memory.
  const std::vector<std::uint8_t>& before = image_before();
  const in_memory edited_here = edit_in_memory(before, edits);
  write_all(fd, *edited_here.bytes);
  return {[this, edited_here, want, temp_path, &before]() -> std::string {
    std::string error;
    std::vector<std::uint8_t> back = read_back(temp_path, *edited_here.bytes, error);
    if (!error.empty()) return error;
    return check_edited(before, back, edited_here, want);
  }};
}

std::vector<std::uint8_t> binary::edited_bytes(const std::vector<edit>& edits) const {
  std::vector<std::uint8_t> whole;  // a large binary, read whole for this
  if (kind_ == kind::ddr && bytes_.empty()) {
    whole.resize(static_cast<std::size_t>(file_->size()));
    errno = 0;
    if (file_->read_at(0, whole.data(), whole.size()) != whole.size())
      throw trouble{errno != 0 ? "cannot read: " + os_error() : "it changed while it was read",
                    path_, errno != 0 ? errc::cannot_read : errc::changed_while_read, errno};
  }
  const std::vector<std::uint8_t>* before = whole.empty() ? &image_before() : &whole;
  const in_memory edited_here = edit_in_memory(*before, edits);
  std::vector<std::uint8_t> back = *edited_here.bytes;
  if (const std::string wrong = check_edited(*before, back, edited_here, edited(edits));
      !wrong.empty())
    throw trouble{"the edited image failed its check (" + wrong + ")", path_, errc::check_failed};
  return back;
}

}  // namespace vexdram::engine
