// An image and its writer over the engine: the binary as vexdram reads it (lib/binary.h), the
// edits in memory, and the all-or-nothing writer (lib/writer.h).
#include <vexdram/image.h>

#include <cerrno>
#include <cstdlib>

#include <vexdram/catalogue.h>
#include <vexdram/error.h>

#include "imgwelder/option_reader.h"
#include "lib/binary.h"
#include "lib/guard.h"
#include "lib/values.h"
#include "lib/writer.h"
#include "platform/platform.h"
#include "tool/catalogue.h"
#include "tool/report.h"
#include "tool/run.h"

namespace vexdram {
namespace {

// A container records its release time: SOURCE_DATE_EPOCH when set. A value that is no time
// refuses the write, as reproducible builds ask, rather than falling back to the clock.
std::optional<std::string> release_time_problem() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (!epoch || imgwelder::parse_number(epoch, 0xffffffffu)) return std::nullopt;
  return "SOURCE_DATE_EPOCH='" + std::string(epoch) +
         "' is not a number of seconds from 0 to 4294967295 (unset it to use the clock)";
}

// A target named as Windows names its devices: refused there before anything is opened.
constexpr const char* device_refusal =
    "is a device's name on Windows (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, with any extension "
    "or none): give the file another name";

void check_parameter(std::size_t n) {
  if (n >= parameter_count)
    throw error(errc::unknown_key, "no parameter number " + std::to_string(n));
}

}  // namespace

struct image::impl {
  std::unique_ptr<engine::binary> b;
  bool from_file = true;
  base_info now;
  std::vector<image::edit> edits;

  std::vector<engine::edit> core_edits() const {
    std::vector<engine::edit> out;
    out.reserve(edits.size());
    for (const image::edit& e : edits) out.push_back({static_cast<param>(e.n), e.value, 0});
    return out;
  }
};

image::image(std::unique_ptr<impl> p) : p_(std::move(p)) {}
image::image(image&&) noexcept = default;
image& image::operator=(image&&) noexcept = default;
image::~image() = default;

image image::open(const std::string& path, const std::string& chip) {
  auto p = std::make_unique<impl>();
  p->b = lib::guarded([&] { return std::make_unique<engine::binary>(path, chip); });
  p->now = p->b->values();
  return image(std::move(p));
}

image image::from_bytes(std::vector<std::uint8_t> bytes, const std::string& name,
                        const std::string& chip) {
  auto p = std::make_unique<impl>();
  p->b =
      lib::guarded([&] { return std::make_unique<engine::binary>(std::move(bytes), name, chip); });
  p->from_file = false;
  p->now = p->b->values();
  return image(std::move(p));
}

const std::string& image::path() const { return p_->b->path(); }
bool image::from_file() const { return p_->from_file; }
image_kind image::kind() const {
  return p_->b->what() == engine::kind::loader ? image_kind::loader : image_kind::ddr;
}
const std::string& image::chip() const { return p_->b->chip(); }
std::uint32_t image::version() const { return p_->b->version(); }
const std::vector<std::string>& image::notes() const { return p_->b->notes(); }

std::uint32_t image::value(std::size_t n) const {
  check_parameter(n);
  return p_->now[n];
}

std::uint32_t image::original(std::size_t n) const {
  check_parameter(n);
  return p_->b->values()[n];
}

storage_info image::where(std::size_t n) const {
  check_parameter(n);
  const stored_field& w = p_->b->where(static_cast<param>(n));
  storage_info s{storage_info::state::stored, 0, "", "", ""};
  switch (w.why) {
    case storage::stored: s.why = storage_info::state::stored; break;
    case storage::no_section: s.why = storage_info::state::no_section; break;
    case storage::version_lacks: s.why = storage_info::state::version_lacks; break;
    case storage::section_short: s.why = storage_info::state::section_short; break;
    case storage::skew_not_read: s.why = storage_info::state::skew_not_read; break;
    case storage::reads_as_zero: s.why = storage_info::state::reads_as_zero; break;
    case storage::short_form: s.why = storage_info::state::short_form; break;
  }
  if (w.why == storage::stored) s.width = w.width;
  // The skew record and the version-0/1 record are no sections of the index.
  s.section = w.in                         ? w.in->name
              : n >= p::ddr3_skew_freq_mhz ? "skew"
              : p_->b->version() <= 1      ? "record"
                                           : "";
  s.reason = p_->b->not_stored(static_cast<param>(n));
  s.zero_refused = p_->b->zero_refused(static_cast<param>(n));
  return s;
}

std::optional<refusal> image::unwritable() const {
  if (const std::string why = p_->b->unwritable(); !why.empty())
    return refusal{refusal::reason::unwritable, why};
  if (kind() == image_kind::loader)
    if (auto why = release_time_problem()) return refusal{refusal::reason::unwritable, *why};
  return std::nullopt;
}

std::optional<refusal> image::check(std::size_t n, std::uint32_t value) const {
  check_parameter(n);
  return p_->b->refused({static_cast<param>(n), value, 0});
}

void image::set(std::size_t n, std::uint32_t value) {
  auto r = unwritable();
  if (!r) r = check(n, value);
  if (r)
    throw error(errc::refused, std::string(key_of(n)) + "=" + value_text(n, value) + ": " + r->text,
                path(), 0, {0, {}, {}, r->why});
  p_->now[n] = value;
  for (edit& e : p_->edits)
    if (e.n == n) {
      e.value = value;
      return;
    }
  p_->edits.push_back({n, value});
}

std::vector<image::line_refusal> image::check(const param_file& params) const {
  std::vector<line_refusal> out;
  for (const param_file::value& v : params.values) {
    if (v.n == p::start_tag) continue;
    if (auto why = check(v.n, v.number)) out.push_back({v.line, v.n, v.number, std::move(*why)});
  }
  return out;
}

void image::apply(const param_file& params) {
  std::string why;
  if (!params.problems.empty())
    why = "line " + std::to_string(params.problems[0].line) + ": " + params.problems[0].reason;
  else if (const auto r = unwritable()) why = r->text;
  else if (const auto refused = check(params); !refused.empty())
    why = "line " + std::to_string(refused[0].line) + ": " + std::string(key_of(refused[0].n)) +
          "=" + value_text(refused[0].n, refused[0].value) + ": " + refused[0].why.text;
  if (!why.empty()) throw error(errc::refused, why, path());
  for (const param_file::value& v : params.values)
    if (v.n != p::start_tag) set(v.n, v.number);
}

const std::vector<image::edit>& image::edits() const { return p_->edits; }

bool image::changed() const {
  for (const edit& e : p_->edits)
    if (e.value != p_->b->values()[e.n]) return true;
  return false;
}

std::string image::report() const { return report_text(p_->now); }

std::vector<std::uint8_t> image::to_bytes() const {
  if (const auto r = unwritable()) throw error(errc::refused, r->text, path());
  return lib::guarded([&] { return p_->b->edited_bytes(p_->core_edits()); });
}

void image::write(const std::string& path, const write_options& options) const {
  if (path.empty() && !from_file())
    throw error(errc::not_a_file, "made from bytes: there is no file to write in place",
                this->path());
  writer w;
  const std::string target =
      writer::target_of(from_file() ? this->path() : "", path, options.replace);
  w.lock(target, options.wait_seconds);
  w.add(*this, target, path.empty(), options.replace);
  w.commit();
}

// The writer.

struct writer::impl {
  engine::writer w;
};

writer::writer() : p_(std::make_unique<impl>()) {}
writer::~writer() = default;

std::string writer::target_of(const std::string& input, const std::string& output, bool replace) {
  using type = platform::file_status::type;
  return lib::guarded([&] {
    if (output.empty()) {
      // by its name alone: opening a serial or a printer port may already do something
      if (platform::device_name(input))
        throw engine::trouble{device_refusal, input, errc::device_name};
      const auto st = platform::status_of(input);
      if (!st)
        throw engine::trouble{"cannot open: " + engine::os_error(), input, errc::cannot_open,
                              errno};
      if (st->kind != type::regular)
        throw engine::trouble{"not a regular file", input, errc::not_a_file};
      // A file kept read-only on purpose (a vendor's blob, say) is not replaced by mistake.
      if ((st->mode & 0222) == 0 && !replace)
        throw engine::trouble{"is read-only (no write bit for anyone)", input, errc::read_only};
      return engine::output_target(input);
    }
    if (platform::device_name(output))
      throw engine::trouble{device_refusal, output, errc::device_name};
    if (!input.empty() && engine::same_file(output, input))
      throw engine::trouble{output + " is the input itself", input, errc::output_is_input};
    const std::string target = engine::output_target(output);
    if (const auto st = platform::status_of(target)) {
      if (st->kind != type::regular)
        throw engine::trouble{"not a regular file: vexdram replaces only regular files", output,
                              errc::not_a_file};
      if (!replace) throw engine::trouble{"exists", output, errc::exists, EEXIST};
    }
    return target;
  });
}

void writer::lock(const std::string& target, double wait_seconds) {
  lib::guarded([&] { p_->w.lock(target, wait_seconds); });
}

void writer::add(const image& img, const std::string& target, bool in_place, bool replace) {
  // In place, a file whose values all stay as they are is not rewritten.
  if (in_place && !img.changed()) return;
  if (const auto r = img.unwritable()) throw error(errc::refused, r->text, img.path());
  const engine::binary& b = *img.p_->b;
  const std::vector<engine::edit> edits = img.p_->core_edits();
  lib::guarded([&] {
    try {
      p_->w.add(
          target, img.from_file() ? &b.status() : nullptr, in_place,
          [&](platform::native_file f, const std::string& temp) {
            return b.write_edited(f, temp, edits).check;
          },
          in_place ? &b.status() : nullptr, in_place || replace);
    } catch (engine::trouble& t) {
      if (t.file.empty()) t.file = target;
      throw;
    }
  });
}

void writer::commit() {
  lib::guarded([&] { p_->w.commit(); });
}

}  // namespace vexdram
