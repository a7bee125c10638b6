#include "param_text.h"

#include <cstdlib>
#include <cstring>

#include "messages.h"

namespace vexdram {

bool file_text_source::gets(char* buf, std::size_t cap) {
  return std::fgets(buf, static_cast<int>(cap), f_) != nullptr;
}

bool memory_text_source::gets(char* buf, std::size_t cap) {
  if (pos_ >= size_ || cap == 0) return false;
  std::size_t n = 0;
  while (n + 1 < cap && pos_ < size_) {
    const char c = data_[pos_++];
    buf[n++] = c;
    if (c == '\n') break;
  }
  buf[n] = '\0';
  return true;
}

std::size_t read_param_text(text_source& src, base_info& info_from_txt, state_table& updata_availd,
                            std::FILE* out) {
  char filepath[line_buffer_size];
  std::size_t accepted = 0;
  while (src.gets(filepath, sizeof filepath)) {
    // The line's first "/*" and first '=' are the same whichever key the line turns out to name.
    const char* const comment = std::strstr(filepath, "/*");
    const char* const first_eq = std::strchr(filepath, '=');
    const char* eq = nullptr;
    std::size_t n = 0;
    for (; n < base_info_tag_size; ++n) {
      const char* key = base_info_tag[n].data();  // literals: NUL-terminated
      const char* at = std::strstr(filepath, key);
      if (!at) continue;
      if (comment && comment < at) continue;
      eq = first_eq;
      if (eq) break;
      if (out) std::fprintf(out, msg::no_value_fmt, key);
    }
    if (!eq) continue;
    const char* value = eq + 1;
    if (*value == '\n') {
      info_from_txt[n] = blank_value;
      updata_availd[n] = state_keep;
    } else {
      info_from_txt[n] = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 0));
      updata_availd[n] = state_given;
    }
    ++accepted;
  }
  return accepted;
}

}  // namespace vexdram
