// The one failure type inside the engine: what failed in words, the file it concerns, and a code
// (vexdram/error.h) that says what happened without the words. It leaves the library as
// vexdram::error (guard.h).
#pragma once

#include <string>
#include <vector>

#include <vexdram/error.h>

namespace vexdram::engine {

// `file` is the file it concerns ("" when none), sys the errno when the system refused.
struct trouble {
  std::string text;
  std::string file = {};
  errc code = errc::refused;
  int sys = 0;
  long holder = 0;  // errc::busy: the lock's holder, when the system says which
  // A failed rename: what the renames before it left (vexdram/error.h).
  std::string outcome = {};
  std::vector<vexdram::not_put_back> not_put_back = {};
};

}  // namespace vexdram::engine
