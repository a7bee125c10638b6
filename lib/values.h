// The value rule of every place a person types a value, the report's way of writing values, and
// the catalogue's keys by name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tool/catalogue.h"

namespace vexdram::engine {

// A typed value: the number, or why the text is refused.
struct typed {
  std::optional<std::uint32_t> value;
  std::string reason;
};

// Decimal without a leading zero ("0" itself is fine) or 0x hexadecimal; a negative decimal only
// as the report writes 32-bit values (-2147483648 to -1 stand for 2^32 + N); spaces and tabs
// around it ignored; at most 32 bits.
typed parse_value(std::string_view text);
// "does not fit its N-bit field (largest M)"
std::string too_wide(unsigned width);

// The value as the report writes it: 0x hexadecimal or signed 32-bit decimal, by the key.
std::string report_text(std::size_t n, std::uint32_t value);

// The keys nearest to a mistyped one (edit distance), at most `count`.
std::vector<std::string_view> nearest_keys(std::string_view key, std::size_t count = 3);
// A text echoed in a message: at most 40 characters (counted by UTF-8 lead bytes), then "...".
std::string shown(std::string_view text);
// "no parameter 'K'; nearest: a, b, c", K shown as above
std::string unknown_key(std::string_view key);

}  // namespace vexdram::engine
