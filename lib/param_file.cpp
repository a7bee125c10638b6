// A parameter file or report as vexdram reads it: strictly, in bounded memory.
#include "lib/param_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "lib/errors.h"
#include "lib/files.h"
#include "lib/values.h"
#include "tool/layout.h"
#include "tool/param_text.h"
#include "tool/text_util.h"

namespace vexdram::engine {

namespace {
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
constexpr const char* bare_cr = "a carriage return inside the line: only a line feed ends a line";
constexpr const char* has_nul = "it holds a NUL byte";
static_assert(param_line_limit == line_buffer_size - 1,
              "the lines vexdram_tool's reader takes whole");
const std::string too_long = "longer than " + std::to_string(param_line_limit) +
                             " bytes: vexdram_tool would read it in pieces";
}  // namespace

param_file read_param_file(std::string_view text, bool name_nearest) {
  param_file out;
  std::vector<std::size_t> given_on(base_info_tag_size, 0);
  // vexdram_tool's reader finds the first line's key after a byte-order mark: so does this one.
  if (text.substr(0, byte_order_mark.size()) == byte_order_mark)
    text.remove_prefix(byte_order_mark.size());
  std::size_t number = 0;
  for (std::size_t at = 0; at < text.size();) {
    // Only a line feed ends a line, as for vexdram_tool's reader; a CR before it (or before the
    // end of the file) belongs to the line end.
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    auto problem = [&](std::string reason) { out.problems.push_back({number, std::move(reason)}); };
    // vexdram_tool reads at most 1023 bytes of a line at a time; the rest would be a line of its
    // own.
    if (line.size() > param_line_limit) {
      problem(too_long);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) {
      problem(has_nul);
      continue;
    }
    line = trim(line.substr(0, line.find("/*")));
    if (line.find('\r') != std::string_view::npos) {
      problem(bare_cr);
      continue;
    }
    if (line.empty() || line == "end") continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      problem("no '=' in '" + shown(line) + "'");
      continue;
    }
    const std::string_view key = trim(line.substr(0, eq));
    const std::string_view value = trim(line.substr(eq + 1));
    const std::optional<param> n = find_key(key);
    if (!n) {
      problem(name_nearest ? unknown_key(key) : "no parameter '" + shown(key) + "'");
      continue;
    }
    if (value.empty()) {
      // Blank keeps the binary's value; vexdram_tool's reader takes the last line of a key, so a
      // blank after a value would undo it there.
      if (given_on[*n] != 0)
        problem(std::string(key) + " is left blank after a value on line " +
                std::to_string(given_on[*n]));
      continue;
    }
    const typed v = parse_value(value);
    if (!v.value) {
      problem(std::string(key) + "=" + shown(value) + ": " + v.reason);
      continue;
    }
    if (*n == p::start_tag && *v.value != start_tag_value) {
      problem("the start tag is " VEXDRAM_START_TAG ", not " + shown(value));
      continue;
    }
    if (given_on[*n] != 0) {
      bool same = false;
      for (const auto& g : out.values)
        if (g.n == *n) same = g.number == *v.value;
      if (!same)
        problem(std::string(key) + " is given again (first on line " +
                std::to_string(given_on[*n]) + ")");
      continue;
    }
    given_on[*n] = number;
    out.values.push_back({number, *n, *v.value});
  }
  return out;
}

std::string read_whole(const std::string& path) {
  const bool standard = path == "-";
  const platform::native_file f =
      standard ? platform::standard_input() : platform::open_to_read(path);
  if (f == platform::no_file)
    throw trouble{"cannot open: " + os_error(), path, errc::cannot_open, errno};
  std::string out;
  try {
    const auto st = platform::status_of(f);
    if (st && st->kind == platform::file_status::type::folder)
      throw trouble{"is a directory", {}, errc::is_directory, EISDIR};
    // Read in blocks up to one byte past the limit: /dev/zero ends here too.
    char buf[1 << 16];
    for (;;) {
      const std::ptrdiff_t got = platform::read_on(f, buf, sizeof buf);
      if (got < 0) throw trouble{"cannot read: " + os_error(), {}, errc::cannot_read, errno};
      if (got == 0) break;
      out.append(buf, static_cast<std::size_t>(got));
      if (out.size() > param_file_limit) throw trouble{param_file_too_large, {}, errc::bad_params};
    }
  } catch (trouble& t) {
    if (!standard) platform::close_file(f);
    t.file = path;
    throw;
  }
  if (!standard) platform::close_file(f);
  return out;
}

}  // namespace vexdram::engine
