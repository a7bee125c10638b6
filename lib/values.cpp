#include "lib/values.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>

#include "tool/layout.h"
#include "tool/report.h"
#include "tool/text_util.h"

namespace vexdram::engine {
namespace {

constexpr const char* need_value = "a value is needed";
constexpr const char* not_whole =
    "not a whole number: decimal digits, or 0x and hexadecimal digits";
constexpr const char* too_large = "larger than 32 bits";
constexpr const char* bad_negative =
    "a negative value is taken only from -2147483648 to -1, as the report writes 32-bit values";

bool digit(char c) { return c >= '0' && c <= '9'; }
int hex_digit(char c) {
  if (digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool all_digits(std::string_view t) { return !t.empty() && std::all_of(t.begin(), t.end(), digit); }

// Decimal digits as a number, saturated above 2^32 (the caller only asks "does it fit").
std::uint64_t decimal(std::string_view t) {
  std::uint64_t v = 0;
  for (char c : t)
    v = std::min<std::uint64_t>(v * 10 + static_cast<unsigned>(c - '0'), std::uint64_t{1} << 33);
  return v;
}

}  // namespace

typed parse_value(std::string_view text) {
  text = trim(text, " \t");
  if (text.empty()) return {std::nullopt, need_value};
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::uint64_t v = 0;
    for (char c : text.substr(2)) {
      const int d = hex_digit(c);
      if (d < 0) return {std::nullopt, not_whole};
      v = std::min<std::uint64_t>(v * 16 + static_cast<unsigned>(d), std::uint64_t{1} << 33);
    }
    if (v > 0xFFFFFFFFu) return {std::nullopt, too_large};
    return {static_cast<std::uint32_t>(v), ""};
  }
  if (text[0] == '-') {
    const std::string_view digits = text.substr(1);
    if (!all_digits(digits)) return {std::nullopt, not_whole};
    const std::uint64_t n = decimal(digits);
    if (digits[0] == '0' || n > 0x80000000u) return {std::nullopt, bad_negative};
    return {static_cast<std::uint32_t>((std::uint64_t{1} << 32) - n), ""};
  }
  if (!all_digits(text)) return {std::nullopt, not_whole};
  const std::uint64_t v = decimal(text);
  if (v > 0xFFFFFFFFu) return {std::nullopt, too_large};
  if (text.size() > 1 && text[0] == '0') {
    // strtoul would read it as octal; say what the person meant instead.
    char hint[96];
    std::snprintf(hint, sizeof hint, " as octal: write %" PRIu64 " or 0x%" PRIx64, v, v);
    return {std::nullopt, "a leading 0 makes the tool read " + std::string(text) + hint};
  }
  return {static_cast<std::uint32_t>(v), ""};
}

std::string too_wide(unsigned width) {
  return "does not fit its " + std::to_string(width) + "-bit field (largest " +
         std::to_string(width_max(width)) + ")";
}

std::string report_text(std::size_t n, std::uint32_t value) {
  char buf[16];
  return report_value(n, value, buf);
}

std::vector<std::string_view> nearest_keys(std::string_view key, std::size_t count) {
  // Levenshtein distance to every key; the closest few, catalogue order among equals.
  std::vector<std::pair<std::size_t, std::size_t>> scored;
  std::vector<std::size_t> row(key.size() + 1);
  for (std::size_t n = 0; n < base_info_tag_size; ++n) {
    const std::string_view k = base_info_tag[n];
    for (std::size_t j = 0; j <= key.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= k.size(); ++i) {
      std::size_t diag = row[0];
      row[0] = i;
      for (std::size_t j = 1; j <= key.size(); ++j) {
        const std::size_t up = row[j];
        row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (k[i - 1] == key[j - 1] ? 0 : 1)});
        diag = up;
      }
    }
    scored.emplace_back(row[key.size()], n);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string_view> out;
  for (std::size_t i = 0; i < count && i < scored.size(); ++i)
    out.push_back(base_info_tag[scored[i].second]);
  return out;
}

std::string shown(std::string_view text) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && ++chars > 40)
      return std::string(text.substr(0, i)) + "...";
  return std::string(text);
}

std::string unknown_key(std::string_view key) {
  std::string text = "no parameter '" + shown(key) + "'; nearest:";
  const auto near = nearest_keys(key);
  for (std::size_t i = 0; i < near.size(); ++i) text += (i ? ", " : " ") + std::string(near[i]);
  return text;
}

}  // namespace vexdram::engine
