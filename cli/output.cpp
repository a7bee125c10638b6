#include "cli/output.h"

#include <array>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace vexdram::cli {
namespace {

using json = nlohmann::ordered_json;

// A byte of a file name that is not UTF-8 is written as U+FFFD: the JSON stays valid for any name.
std::string dump(const json& j) {
  return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

// The column of a block-version class in `keys`: "-", or the width and largest value.
struct cell {
  unsigned width = 0;
  bool tq6951 = false;
};
std::string cell_text(const cell& c) {
  if (c.width == 0) return "-";
  const std::uint64_t largest = (std::uint64_t{1} << c.width) - 1;
  return std::to_string(c.width) + "/" + std::to_string(largest) + (c.tq6951 ? " tq6951" : "");
}
// Versions 0-1, 2-4 and 5. A place written but always read back as 0 is no place to set.
std::array<cell, 3> cells(std::size_t n) {
  std::array<cell, 3> c{};
  for (const field_place& p : places_of(n)) {
    if (p.reads_as_zero) continue;
    for (std::uint32_t v : {1u, 2u, 5u}) {
      const std::size_t i = v == 1 ? 0 : v == 2 ? 1 : 2;
      if (v >= p.first_version && v <= p.last_version) c[i] = {p.width, p.tq6951};
    }
  }
  return c;
}
const char* format_of(std::size_t n) { return in_hex(n) ? "hex" : "decimal"; }

}  // namespace

std::string report(const image& img) { return img.report(); }

std::string show_json(const image& img) {
  json params = json::object();
  json storage = json::object();
  // Beside "storage", not in it: such a lane is stored and takes any other value that fits.
  json zero_refused = json::object();
  for (std::size_t n = 0; n < parameter_count; ++n) {
    const std::string key(key_of(n));
    params[key] = img.value(n);
    const storage_info s = img.where(n);
    storage[key] = s.stored() ? "stored" : s.reason;
    if (!s.zero_refused.empty()) zero_refused[key] = s.zero_refused;
  }
  const auto unwritable = img.unwritable();
  return dump({{"file", img.path()},
               {"chip", img.chip()},
               {"kind", img.kind() == image_kind::ddr ? "ddr" : "loader"},
               {"version", img.version()},
               {"unwritable", unwritable ? json(unwritable->text) : json(nullptr)},
               {"parameters", params},
               {"storage", storage},
               {"zero_refused", zero_refused}});
}

std::string get_text(const image& img, const std::vector<std::size_t>& keys) {
  std::string out;
  for (std::size_t n : keys) out += value_text(n, img.value(n)) + "\n";
  return out;
}

std::string get_json(const image& img, const std::vector<std::size_t>& keys) {
  json j = json::object();
  for (std::size_t n : keys) j[std::string(key_of(n))] = img.value(n);
  return dump(j);
}

std::string change_line(std::size_t n, std::uint32_t old_value, std::uint32_t new_value) {
  return std::string(key_of(n)) + ": " + value_text(n, old_value) + " -> " +
         value_text(n, new_value) + "\n";
}

std::vector<std::size_t> differences(const side& a, const side& b) {
  std::vector<std::size_t> out;
  for (std::size_t n = 0; n < parameter_count; ++n)
    if (a.values[n] && b.values[n] && *a.values[n] != *b.values[n]) out.push_back(n);
  return out;
}

std::string diff_text(const side& a, const side& b, const std::vector<std::size_t>& differ) {
  std::string out;
  for (std::size_t n : differ) out += change_line(n, *a.values[n], *b.values[n]);
  return out;
}

std::string diff_json(const side& a, const side& b, const std::vector<std::size_t>& differ) {
  json d = json::object();
  for (std::size_t n : differ)
    d[std::string(key_of(n))] = {{"a", *a.values[n]}, {"b", *b.values[n]}};
  return dump({{"a", a.name}, {"b", b.name}, {"same", differ.empty()}, {"differences", d}});
}

std::string keys_text() {
  std::string out;
  for (std::size_t n = 0; n < parameter_count; ++n) {
    out += std::string(key_of(n)) + "\t" + group_of(n) + "\t" + format_of(n);
    for (const cell& c : cells(n)) out += "\t" + cell_text(c);
    out += "\n";
  }
  return out;
}

std::string chips_text() {
  std::string out;
  for (std::string_view c : chips()) out += std::string(c) + "\n";
  return out;
}

bool print(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

namespace {
// The length of the valid UTF-8 sequence of two to four bytes at text[i], 0 when there is none.
std::size_t utf8_length(const std::string& text, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = at(i);
  const std::size_t n = c >= 0xc2 && c <= 0xdf   ? 2
                        : c >= 0xe0 && c <= 0xef ? 3
                        : c >= 0xf0 && c <= 0xf4 ? 4
                                                 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((at(i + k) & 0xc0) != 0x80) return 0;
  // no overlong form, no surrogate, nothing past U+10FFFF
  const unsigned char d = at(i + 1);
  if ((c == 0xe0 && d < 0xa0) || (c == 0xed && d > 0x9f) || (c == 0xf0 && d < 0x90) ||
      (c == 0xf4 && d > 0x8f))
    return 0;
  return n;
}
}  // namespace

std::string escaped(const std::string& text) {
  std::string out;
  auto hex = [&](unsigned char c) {
    char h[5];
    std::snprintf(h, sizeof h, "\\x%02x", c);
    out += h;
  };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c == 0x7f) hex(c);
    else if (c < 0x80) out += static_cast<char>(c);
    else if (const std::size_t n = utf8_length(text, i)) {
      // C1 controls (U+0080 to U+009F, 0xC2 0x80-0x9F in UTF-8) steer some terminals as ESC does.
      if (c == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
        hex(c);
        hex(static_cast<unsigned char>(text[i + 1]));
      } else {
        out.append(text, i, n);
      }
      i += n;
      continue;
    } else if (c <= 0x9f) {
      hex(c);  // a raw C1 byte, no part of UTF-8: a control to a terminal reading 8-bit codes
    } else {
      out += static_cast<char>(c);  // another byte that is no UTF-8: shown as the terminal shows it
    }
    ++i;
  }
  return out;
}

void say(const std::string& file, const std::string& text) {
  std::fprintf(stderr, "vexdram: %s%s%s\n", escaped(file).c_str(), file.empty() ? "" : ": ",
               escaped(text).c_str());
}

}  // namespace vexdram::cli
