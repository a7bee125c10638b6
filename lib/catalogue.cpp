// The library's catalogue, value rule, chips, kinds of file and parameter files: each call is
// the engine's own, through the one place where its failures become vexdram::error.
#include <vexdram/catalogue.h>
#include <vexdram/error.h>
#include <vexdram/params.h>
#include <vexdram/version.h>

#include "lib/chip.h"
#include "lib/files.h"
#include "lib/guard.h"
#include "lib/param_file.h"
#include "lib/values.h"
#include "platform/platform.h"
#include "tool/catalogue.h"
#include "tool/layout.h"
#include "tool/places.h"
#include "tool/report.h"
#include "tool/run.h"

namespace vexdram {

static_assert(parameter_count == base_info_tag_size, "one count of the parameters");

const char* version() { return VEXDRAM_VERSION_STRING; }

error::error(errc code, const std::string& text, std::string file, int sys, error_details more)
    : std::runtime_error(text + more.outcome),
      code_(code),
      file_(std::move(file)),
      text_(text),
      sys_(sys),
      more_(std::move(more)) {}

const char* name_of(errc code) {
  switch (code) {
    case errc::cannot_open: return "cannot_open";
    case errc::cannot_read: return "cannot_read";
    case errc::is_directory: return "is_directory";
    case errc::not_a_file: return "not_a_file";
    case errc::device_name: return "device_name";
    case errc::changed_while_read: return "changed_while_read";
    case errc::bad_block: return "bad_block";
    case errc::bad_container: return "bad_container";
    case errc::bad_params: return "bad_params";
    case errc::unknown_chip: return "unknown_chip";
    case errc::no_chip: return "no_chip";
    case errc::unknown_key: return "unknown_key";
    case errc::bad_value: return "bad_value";
    case errc::refused: return "refused";
    case errc::busy: return "busy";
    case errc::not_a_lock: return "not_a_lock";
    case errc::changed: return "changed";
    case errc::exists: return "exists";
    case errc::read_only: return "read_only";
    case errc::output_is_input: return "output_is_input";
    case errc::no_directory: return "no_directory";
    case errc::write_failed: return "write_failed";
    case errc::check_failed: return "check_failed";
    case errc::not_synced: return "not_synced";
    case errc::out_of_memory: return "out_of_memory";
  }
  return "unknown";
}

const char* name_of(refusal::reason why) {
  switch (why) {
    case refusal::reason::unwritable: return "unwritable";
    case refusal::reason::fixed: return "fixed";
    case refusal::reason::not_stored: return "not_stored";
    case refusal::reason::too_wide: return "too_wide";
    case refusal::reason::zero_keeps: return "zero_keeps";
  }
  return "unknown";
}

std::string_view key_of(std::size_t n) { return base_info_tag.at(n); }

std::optional<std::size_t> parameter_of(std::string_view key) {
  if (const auto n = find_key(key)) return static_cast<std::size_t>(*n);
  return std::nullopt;
}

std::size_t parameter_named(std::string_view key) {
  if (const auto n = find_key(key)) return *n;
  throw error(errc::unknown_key, engine::unknown_key(key));
}

std::vector<std::string_view> nearest_keys(std::string_view key, std::size_t count) {
  return engine::nearest_keys(key, count);
}

bool in_hex(std::size_t n) { return report_in_hex(n); }

std::string value_text(std::size_t n, std::uint32_t value) { return engine::report_text(n, value); }

std::string group_of(std::size_t n) { return parameter_group(n); }

std::vector<field_place> places_of(std::size_t n) {
  std::vector<field_place> out;
  for (const place& p : parameter_places().at(n)) {
    using in = place::in;
    const std::uint32_t first = p.versions == in::versions_0_to_1 ? 0
                                : p.versions == in::version_5     ? 5
                                                                  : 2;
    const std::uint32_t last = p.versions == in::versions_0_to_1 ? 1 : 5;
    out.push_back({first, last, p.section, p.word, p.lo, p.width, !p.decoded, p.lane, p.tq6951});
  }
  return out;
}

std::string catalogue_as_json() { return catalogue_json(); }

std::string template_text() { return blank_template(); }

parsed_value parse_value(std::string_view text) {
  engine::typed t = engine::parse_value(text);
  return {t.value, std::move(t.reason)};
}

bool fits(std::uint32_t value, unsigned width) { return field_fits(width, value); }

std::string too_wide(unsigned width) { return engine::too_wide(width); }

std::vector<std::string_view> chips() {
  return std::vector<std::string_view>(chip_names.begin(), chip_names.end());
}

std::optional<std::string> chip_in_name(const std::string& path) {
  return engine::chip_in_name(path);
}

std::string resolve_chip(const std::string& given, const std::string& path) {
  return lib::guarded([&] { return engine::resolve_chip(given, path); });
}

file_kind kind_of(const std::string& path) { return engine::kind_of(path); }

bool is_loader(const std::uint8_t* head, std::size_t size) { return engine::is_loader(head, size); }

param_file parse_param_text(std::string_view text, bool name_nearest) {
  return engine::read_param_file(text, name_nearest);
}

std::string read_param_source(const std::string& path) {
  return lib::guarded([&] { return engine::read_whole(path); });
}

param_file read_param_file(const std::string& path) {
  return parse_param_text(read_param_source(path));
}

}  // namespace vexdram
