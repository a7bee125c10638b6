// Exit statuses and the one failure type of vexdram: every failure is one line on standard error,
// "vexdram: FILE: what failed".
#pragma once

#include <string>

namespace vexdram::cli {

inline constexpr int status_ok = 0;
inline constexpr int status_different = 1;  // diff: the two differ
inline constexpr int status_trouble = 2;    // anything that went wrong, usage errors included

// A failure of a command; `file` is the file it concerns ("" when none).
struct trouble {
  std::string text;
  std::string file = {};
};

}  // namespace vexdram::cli
