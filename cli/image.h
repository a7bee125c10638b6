// FILE as vexdram reads it: a DDR binary, a loader container (its DDR image, 471, edited as the
// module would edit it), or a parameter file. Decoding, checking edits and making the edited
// bytes all run the same core steps as vexdram_tool, on the file or on an image in memory.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue.h"
#include "container.h"
#include "ddr_file.h"
#include "platform.h"
#include "run.h"

namespace vexdram::cli {

enum class kind { ddr, loader };
const char* kind_name(kind k);

// The first bytes of a loader container: "BOOT" or "LDR " and the header's length (0x66).
bool is_loader(const std::uint8_t* head, std::size_t size);

// A chip name vexdram_tool accepts: --chip in either case, else the chip the file's name gives.
// Throws trouble when there is none.
std::string resolve_chip(const std::string& option, const std::string& path);
// The chip a file's name gives: the longest chip name that its last part contains, in either case
// (the first in vexdram_tool's order among equals); none when it contains none. The studio's page
// guesses by the same rule: tests/chip_name_rules.json holds the cases.
std::optional<std::string> chip_in_name(const std::string& path);

// One value to write: from the command line (line 0) or a line of a parameter file.
struct edit {
  param n;
  std::uint32_t value;
  std::size_t line = 0;
};

// Where an edited file's bytes go, and how to check them once they are on the disk.
struct made {
  std::function<std::string()> check;  // "" when the written file holds what it should
};

class binary {
 public:
  // Reads and decodes path. chip_option: --chip as given, "" when not. Throws trouble.
  binary(const std::string& path, const std::string& chip_option);
  ~binary();
  binary(const binary&) = delete;
  binary& operator=(const binary&) = delete;

  const std::string& path() const { return path_; }
  kind what() const { return kind_; }
  const std::string& chip() const { return chip_; }
  std::uint32_t version() const { return version_; }
  const base_info& values() const { return values_; }
  const stored_field& where(param n) const { return stored_[n]; }
  const platform::file_status& status() const { return st_; }
  // Warnings about what was read (a skew section of another sub-version), for standard error.
  const std::vector<std::string>& notes() const { return notes_; }

  // Why no edit of this file can be written, or "" when edits can.
  std::string unwritable() const;
  // Why this binary does not store the parameter, or "" when it does.
  std::string not_stored(param n) const;
  // Why this edit cannot be made here, or "" when it can.
  std::string refusal(const edit& e) const;
  // The values after the edits.
  base_info edited(const std::vector<edit>& edits) const;
  // Writes the edited file into fd (a new, empty temporary file at temp_path): the bytes of this
  // file with the edits made by the core, as vexdram_tool would make them. Throws trouble.
  made write_edited(platform::native_file fd, const std::string& temp_path, const std::vector<edit>& edits) const;

 private:
  std::string path_;
  kind kind_ = kind::ddr;
  std::string chip_;
  platform::file_status st_;
  std::uint32_t version_ = 0;
  base_info values_;
  std::array<stored_field, base_info_tag_size> stored_{};
  std::vector<std::string> notes_;
  std::string overlap_;                   // two sections that share words, when any do
  std::unique_ptr<posix_ddr_file> file_;  // a DDR binary, kept open from decoding to writing
  std::vector<std::uint8_t> bytes_;       // a container's bytes
  std::unique_ptr<module_unpack> unpacked_;
};

// KEY=VALUE assignments checked for a binary, as `set` takes them: the edits, and one line for
// each problem (a binary that cannot be written, a missing '=', an unknown key, a value refused,
// a key given twice with different values).
struct assignments {
  std::vector<edit> edits;
  std::vector<std::string> problems;
};
assignments check_assignments(const binary& b, const std::vector<std::string>& texts);

// A parameter file or report, read strictly (tests/param_file_rules.json holds the cases): only a
// line feed ends a line, as for vexdram_tool's reader, and a line is at most the 1023 bytes that
// reader takes at a time; every line is a parameter's KEY=VALUE (a blank value keeps the
// binary's), a blank line, "end" or a "/*" comment; anything else is listed. A UTF-8 byte-order
// mark at the start is skipped.
struct param_file {
  struct value {
    std::size_t line;
    param n;
    std::uint32_t number;
  };
  struct problem {
    std::size_t line;
    std::string reason;
  };
  std::vector<value> values;
  std::vector<problem> problems;
};
inline constexpr std::size_t param_line_limit = 1023;
// name_nearest: name the nearest keys to an unknown one (what costs most; a check that only asks
// which lines are refused goes without).
param_file read_param_file(std::string_view text, bool name_nearest = true);

// A report is about 11 KB; anything past this is no parameter file.
inline constexpr std::size_t param_file_limit = std::size_t{16} << 20;
inline constexpr const char* param_file_too_large = "larger than 16 MiB: not a parameter file";

// True when the file is text, read as a parameter file or report rather than a binary: no loader
// container, 1 byte to 16 MiB long, no NUL byte in its first 64 KiB. tests/file_kind_rules.json
// holds the cases, which the module's container check and the studio's listing run too.
inline constexpr std::size_t text_window = std::size_t{1} << 16;
bool looks_like_text(const std::string& path);
// A parameter file whole ("-": standard input), read in blocks and refused past param_file_limit;
// a FIFO is read as a pipe, waiting for its writer. Throws trouble.
std::string read_whole(const std::string& path);

}  // namespace vexdram::cli
