// The one line printed for a value that does not fit its field: it is stored by its low bits.
#pragma once

#include <cstdio>

#include "tool/catalogue.h"
#include "tool/layout.h"
#include "tool/messages.h"

namespace vexdram {

inline void warn_if_truncated(std::FILE* out, param prm, std::uint32_t value, unsigned width) {
  if (!out || field_fits(width, value)) return;
  const std::uint32_t max = width_max(width);
  const std::string_view key = base_info_tag[prm];  // a literal: NUL-terminated
  std::fprintf(out, msg::warning_fmt, key.data(), value, width, value & max);
}

}  // namespace vexdram
