// A parameter file or report as vexdram reads it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <vexdram/params.h>

#include "tool/catalogue.h"

namespace vexdram::engine {

// A parameter file or report, read strictly (tests/param_file_rules.json holds the cases): only a
// line feed ends a line, as for vexdram_tool's reader, and a line is at most the 1023 bytes that
// reader takes at a time; every line is a parameter's KEY=VALUE (a blank value keeps the
// binary's), a blank line, "end" or a "/*" comment; anything else is listed. A UTF-8 byte-order
// mark at the start is skipped.
using vexdram::param_file;
inline constexpr std::size_t param_line_limit = 1023;
// name_nearest: name the nearest keys to an unknown one (what costs most; a check that only asks
// which lines are refused goes without).
param_file read_param_file(std::string_view text, bool name_nearest = true);

// A parameter file whole ("-": standard input), read in blocks and refused past param_file_limit;
// a FIFO is read as a pipe, waiting for its writer. Throws trouble.
std::string read_whole(const std::string& path);

}  // namespace vexdram::engine
