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

namespace {

bool is_blank_char(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value text after a line's '=': it ends at the end of the line or at a "/*" comment.
// A value of nothing but spaces, tabs and line-end characters is blank (keep the binary's value),
// also when the file was saved with CR LF line ends or its last line has no line feed. Anything
// else is converted as strtoul does with base 0; when the number does not use the whole value
// ("12abc", "0800", "1.5", "abc") a warning says what was read.
void read_value(const char* value, param n, base_info& info_from_txt, state_table& updata_availd,
                std::FILE* out) {
  const char* comment = std::strstr(value, "/*");
  const char* end = comment ? comment : value + std::strlen(value);
  while (end > value && is_blank_char(end[-1])) --end;
  if (end == value) {
    info_from_txt[n] = blank_value;
    updata_availd[n] = state_keep;
    return;
  }
  char* used = nullptr;
  const auto number = static_cast<std::uint32_t>(std::strtoul(value, &used, 0));
  info_from_txt[n] = number;
  updata_availd[n] = state_given;
  if (out && used < end) {
    char text[line_buffer_size];
    const std::size_t len = static_cast<std::size_t>(end - value);
    std::memcpy(text, value, len);
    text[len] = '\0';
    std::fprintf(out, msg::not_whole_fmt, base_info_tag[n].data(), text, number);
  }
}

}  // namespace

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
    read_value(eq + 1, static_cast<param>(n), info_from_txt, updata_availd, out);
    ++accepted;
  }
  return accepted;
}

}  // namespace vexdram
