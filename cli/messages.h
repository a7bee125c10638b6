// What vexdram says, once: its exit statuses, the texts of its own messages, and what it adds
// to the library's words where they call for one of its options. A text's "{}" stand for its
// arguments, in order (fill).
#pragma once

#include <string>

#include <vexdram/error.h>

namespace vexdram::cli {

inline constexpr int status_ok = 0;
inline constexpr int status_different = 1;  // diff: the two differ
inline constexpr int status_trouble = 2;    // anything that went wrong, usage errors included

namespace message {
inline constexpr const char* standard_output = "cannot write to standard output";
inline constexpr const char* changes_not_printed =
    "written, but the changes could not be printed on standard output";
inline constexpr const char* out_of_memory = "out of memory";
inline constexpr const char* unknown_command = "unknown command '{}'";
inline constexpr const char* empty_chip = "--chip: an empty chip name";
inline constexpr const char* nothing_written =
    "{}: nothing is written without -o OUT{} or --in-place (or --dry-run)";
inline constexpr const char* or_out_dir = ", --out-dir DIR";
inline constexpr const char* one_output =
    "-o names one output: give --out-dir DIR for several files";
inline constexpr const char* same_target = "two inputs would both be written there";
inline constexpr const char* standard_input = "standard input";
inline constexpr const char* line = "line {}: {}";                 // a parameter file's problem
inline constexpr const char* file_line = "{} line {}: {}={}: {}";  // PARAMS line N: KEY=VALUE: why
inline constexpr const char* no_equals = "{}: no '=' (write KEY=VALUE)";
inline constexpr const char* given_twice = "{}: {} is given twice";
inline constexpr const char* refused = "{}: {}";    // KEY=VALUE: why
inline constexpr const char* change_in = "{}: {}";  // FILE: KEY: OLD -> NEW

// What follows the library's words for a code, where vexdram's options are the way out.
struct hint {
  errc code;
  const char* text;
};
inline constexpr hint hints[] = {
    {errc::no_chip, ": give one with --chip"},
    {errc::unknown_chip, " ('vexdram chips' lists them)"},
    {errc::exists, ": give --force to replace it"},
    {errc::read_only, ": give --force to replace it in place"},
    {errc::output_is_input, ": use --in-place"},
    {errc::busy, ": give --wait SECONDS to wait for it"},
};
inline constexpr const char* busy_after_wait = ": it still did after the time --wait gave";
inline constexpr const char* in_place_not_regular = ": write it with -o OUT";
}  // namespace message

// text with each "{}" replaced by the next argument.
template <typename... Args>
std::string fill(const char* text, const Args&... args) {
  const std::string values[] = {std::string(args)..., std::string()};
  std::string out;
  std::size_t next = 0;
  for (const char* c = text; *c; ++c) {
    if (c[0] == '{' && c[1] == '}' && next < sizeof...(Args)) {
      out += values[next++];
      ++c;
    } else {
      out += *c;
    }
  }
  return out;
}

}  // namespace vexdram::cli
