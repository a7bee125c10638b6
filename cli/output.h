// What vexdram prints on standard output: text exactly as the report writes values, or JSON.
// Messages go to standard error, one line each: "vexdram: FILE: ...".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/binary.h"

namespace vexdram::cli {

// The report of report mode, byte for byte.
std::string report(const binary& b);
std::string show_json(const binary& b);
std::string get_text(const base_info& values, const std::vector<param>& keys);
std::string get_json(const base_info& values, const std::vector<param>& keys);
// "KEY: OLD -> NEW", each value as the report writes it.
std::string change_line(param n, std::uint32_t old_value, std::uint32_t new_value);

// One side of a diff: each parameter's value, where the side gives one.
struct side {
  std::string name;
  std::vector<std::optional<std::uint32_t>> values;
};
// The parameters whose values differ, in catalogue order.
std::vector<param> differences(const side& a, const side& b);
std::string diff_text(const side& a, const side& b, const std::vector<param>& differ);
std::string diff_json(const side& a, const side& b, const std::vector<param>& differ);

// The catalogue: every key with its group, format, and width and largest value in each block
// version ("-" where a version has no place for it); as JSON, the hosts' catalogue (the studio's
// vexdram_catalogue.json), every place of every parameter.
std::string keys_text();
std::string keys_json();
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
