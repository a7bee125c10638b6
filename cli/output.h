// What vexdram prints on standard output: text exactly as the report writes values, or JSON.
// Messages go to standard error, one line each: "vexdram: FILE: ...".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <vexdram/vexdram.h>

namespace vexdram::cli {

// The report of report mode, byte for byte.
std::string report(const image& img);
std::string show_json(const image& img);
std::string get_text(const image& img, const std::vector<std::size_t>& keys);
std::string get_json(const image& img, const std::vector<std::size_t>& keys);
// "KEY: OLD -> NEW", each value as the report writes it.
std::string change_line(std::size_t n, std::uint32_t old_value, std::uint32_t new_value);

// One side of a diff: each parameter's value, where the side gives one.
struct side {
  std::string name;
  std::vector<std::optional<std::uint32_t>> values;
};
// The parameters whose values differ, in catalogue order.
std::vector<std::size_t> differences(const side& a, const side& b);
std::string diff_text(const side& a, const side& b, const std::vector<std::size_t>& differ);
std::string diff_json(const side& a, const side& b, const std::vector<std::size_t>& differ);

// The catalogue: every key with its group, format, and width and largest value in each block
// version ("-" where a version has no place for it). (As JSON it is the library's
// catalogue_as_json, the hosts' catalogue.)
std::string keys_text();
std::string chips_text();

// Writes text to standard output; false when that failed.
bool print(const std::string& text);
// text with its control characters written as \n, \r, \t or \xHH, so that it stays one line and
// sends the terminal nothing but text.
std::string escaped(const std::string& text);
// One message line on standard error (control characters escaped): "vexdram: FILE: text" ("vexdram:
// text" without a file).
void say(const std::string& file, const std::string& text);

}  // namespace vexdram::cli
