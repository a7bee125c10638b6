// What holds for every DDR binary: the 484 parameters and their keys, where the block formats
// store them, the value rule of every place a person types a value, the chip names, and what
// kind of file a file is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <vexdram/export.h>

namespace vexdram {

// Parameters are numbered 0 to 483 in catalogue order, the order of the report; 0 is the start
// tag. A parameter's key names its line in a parameter file and in the report.
inline constexpr std::size_t parameter_count = 484;
// The key of parameter n ("start tag", "ddr2_freq", ..., "lp5_resetn_skew"); n < parameter_count.
VEXDRAM_API std::string_view key_of(std::size_t n);
// The parameter whose key is exactly this text (case and spaces count), or none.
VEXDRAM_API std::optional<std::size_t> parameter_of(std::string_view key);
// The same, or errc::unknown_key in words that name the nearest keys.
VEXDRAM_API std::size_t parameter_named(std::string_view key);
// The keys nearest to a mistyped one (edit distance), at most `count`, catalogue order among
// equals.
VEXDRAM_API std::vector<std::string_view> nearest_keys(std::string_view key, std::size_t count = 3);

// A value as the report writes it: 0x hexadecimal for the keys in_hex names (the start
// tag, maps, masks, skews), signed 32-bit decimal for the others.
VEXDRAM_API bool in_hex(std::size_t n);
VEXDRAM_API std::string value_text(std::size_t n, std::uint32_t value);
// The group a host shows it in: its section's name ("global", "DDR3", "DQ map", ...),
// "tq6951 skew", or "not stored".
VEXDRAM_API std::string group_of(std::size_t n);

// One place that stores a parameter: the block versions that have it, the section (or "record",
// the version-0/1 record), the word counted from 0 in it, the lowest bit and the width.
struct field_place {
  std::uint32_t first_version, last_version;
  std::string section;
  unsigned word, lowest_bit, width;
  bool reads_as_zero;  // written, but it always reads back as 0
  int lane;            // a tq6951 skew lane (0 keeps the lane as it is); -1 for other places
  bool tq6951;         // in the skew section, which is read for the chip tq6951 alone
};
VEXDRAM_API std::vector<field_place> places_of(std::size_t n);
// The catalogue as hosts read it (JSON): the chips, the groups, the start tag, and each
// parameter's number, key, report format, group and places.
VEXDRAM_API std::string catalogue_as_json();
// The blank parameter file: "start tag=0x12345678", every other key with a blank value, "end".
VEXDRAM_API std::string template_text();

// A typed value: decimal without a leading 0 ("0" itself is fine) or 0x hexadecimal; a negative
// decimal only as the report writes 32-bit values (-2147483648 to -1 stand for 2^32 + N); spaces
// and tabs around it are ignored; at most 32 bits. reason: why a text is refused ("" when not).
struct parsed_value {
  std::optional<std::uint32_t> value;
  std::string reason;
};
VEXDRAM_API parsed_value parse_value(std::string_view text);
// Whether a value fits a field of this width, and the words when it does not: "does not fit its
// 12-bit field (largest 4095)".
VEXDRAM_API bool fits(std::uint32_t value, unsigned width);
VEXDRAM_API std::string too_wide(unsigned width);

// The chip names vexdram_tool accepts, in its order.
VEXDRAM_API std::vector<std::string_view> chips();
// The chip a file's name gives: the longest chip name that its last part contains, in either
// case (the first in chips() among equals); none when it contains none.
VEXDRAM_API std::optional<std::string> chip_in_name(const std::string& path);
// The chip an image is read for: `given` in either case when not empty (errc::unknown_chip when
// vexdram_tool does not accept it), else the chip path's name gives (errc::no_chip when none).
VEXDRAM_API std::string resolve_chip(const std::string& given, const std::string& path);

// What kind of file a file is: a loader container ("BOOT" or "LDR " and the header's length,
// 0x66), text read as a parameter file or report (1 byte to 16 MiB, no NUL byte in its first
// 64 KiB), or else a DDR binary.
enum class file_kind : std::uint8_t { binary, loader, text };
VEXDRAM_API file_kind kind_of(const std::string& path);
VEXDRAM_API bool is_loader(const std::uint8_t* head, std::size_t size);

}  // namespace vexdram
