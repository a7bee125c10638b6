// Exit statuses and the one failure type of vexdram's engine: every failure is one line on
// standard error, "vexdram: FILE: what failed", and a code (vexdram/error.h) that says what
// happened without the words.
#pragma once

#include <string>

#include <vexdram/error.h>

namespace vexdram::cli {

inline constexpr int status_ok = 0;
inline constexpr int status_different = 1;  // diff: the two differ
inline constexpr int status_trouble = 2;    // anything that went wrong, usage errors included

// A failure; `file` is the file it concerns ("" when none), sys the errno when the system refused.
struct trouble {
  std::string text;
  std::string file = {};
  errc code = errc::refused;
  int sys = 0;
};

}  // namespace vexdram::cli
