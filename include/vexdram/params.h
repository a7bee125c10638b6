// A parameter file or report, read strictly: only a line feed ends a line (a CR just before it
// belongs to the line end), a line is at most 1023 bytes, and every line is a parameter's
// KEY=VALUE (a blank value keeps the binary's), a blank line, "end" or a "/*" comment; a key
// given again with another value, or left blank after a value, is refused. A UTF-8 byte-order
// mark at the start is skipped. Every line that cannot be used is listed with its reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <vexdram/export.h>

namespace vexdram {

struct param_file {
  struct value {
    std::size_t line;  // counted from 1
    std::size_t n;     // the parameter
    std::uint32_t number;
  };
  struct problem {
    std::size_t line;
    std::string reason;
  };
  std::vector<value> values;      // in the order of the file, each parameter once
  std::vector<problem> problems;  // empty when every line can be used
};

// A larger file is no parameter file (a report is about 11 KB).
inline constexpr std::size_t param_file_limit = std::size_t{16} << 20;

// The text of a parameter file, read strictly. name_nearest: name the nearest keys to an
// unknown one (what costs most; a check that only asks which lines are refused goes without).
VEXDRAM_API param_file parse_param_text(std::string_view text, bool name_nearest = true);
// A parameter file whole ("-": standard input), read in blocks and refused past
// param_file_limit (errc::bad_params); a FIFO is read as a pipe, waiting for its writer.
VEXDRAM_API std::string read_param_source(const std::string& path);
// Both: the file read, then its text read strictly.
VEXDRAM_API param_file read_param_file(const std::string& path);

}  // namespace vexdram
