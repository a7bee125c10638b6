// The parameter text file: name=value lines, read line by line (at most 1023 characters a read).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tool/catalogue.h"

namespace vexdram {

// updata_availd: per-parameter state, four times the catalogue; only the first 484 are used.
inline constexpr std::size_t updata_availd_size = 4 * base_info_tag_size;
using state_table = std::array<std::uint32_t, updata_availd_size>;
inline constexpr std::uint32_t state_given = 1;  // the parameter's line gave a value
inline constexpr std::uint32_t state_keep = 2;   // not given, or given empty
// The value stored with state_keep for a blank value: together they mean "keep the binary's".
inline constexpr std::uint32_t blank_value = 10;

inline constexpr std::size_t line_buffer_size = 1024;

// A source of lines with fgets' rules: each call fills buf with at most cap - 1 characters, up to
// and including the next line feed, and a terminating NUL; false at the end.
class text_source {
 public:
  virtual ~text_source() = default;
  virtual bool gets(char* buf, std::size_t cap) = 0;
};

class file_text_source final : public text_source {
 public:
  explicit file_text_source(std::FILE* f) : f_(f) {}
  bool gets(char* buf, std::size_t cap) override;

 private:
  std::FILE* f_;
};

class memory_text_source final : public text_source {
 public:
  memory_text_source(const char* data, std::size_t size) : data_(data), size_(size) {}
  bool gets(char* buf, std::size_t cap) override;

 private:
  const char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Reads every line into info_from_txt and updata_availd: the first key in catalogue order that
// occurs in the line (not behind "/*") and a '=' in the line make it that parameter's line.
// Prints "<key> have no '=' value!!!" for keys on lines without '=', and a warning for each value
// that is not a whole number. Returns the accepted lines.
std::size_t read_param_text(text_source& src, base_info& info_from_txt, state_table& updata_availd,
                            std::FILE* out);

}  // namespace vexdram
