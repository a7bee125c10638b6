// Where the library's calls meet the engine: a failure of the engine (trouble) leaves the
// library as vexdram::error, with its code and words as they are.
#pragma once

#include <utility>

#include <vexdram/error.h>

#include "lib/errors.h"

namespace vexdram::lib {

[[noreturn]] inline void raise(const engine::trouble& t) {
  throw error(t.code, t.text, t.file, t.sys, {t.holder, t.outcome, t.not_put_back, std::nullopt});
}

template <typename F>
decltype(auto) guarded(F&& f) {
  try {
    return std::forward<F>(f)();
  } catch (const engine::trouble& t) {
    raise(t);
  }
}

}  // namespace vexdram::lib
