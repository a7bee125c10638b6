// How vexdram moves a file's bytes, and what kind of file a file is.
#include "cli/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/container.h"
#include "cli/errors.h"

namespace vexdram::cli {

// The system's words, and vexdram's beside them where those say too little: a busy file is one
// another program holds open without sharing (Windows; Linux hardly ever says it of a file).
std::string os_error() { return os_error(errno); }
std::string os_error(int error) {
  return platform::error_text(error) +
         (error == EBUSY ? ": another program has it open and does not share it" : "");
}

void copy_file(platform::native_file from, platform::native_file to, std::uint64_t size) {
  if (platform::copy_data(from, to, size) != size)
    throw trouble{"cannot copy into the new file: " +
                  (errno != 0 ? os_error() : "the input ended early")};
}

void write_all(platform::native_file f, const std::vector<std::uint8_t>& bytes) {
  if (platform::write_on(f, bytes.data(), bytes.size()) != bytes.size())
    throw trouble{"cannot write the new file: " + os_error()};
}

const char* kind_name(kind k) { return k == kind::ddr ? "ddr" : "loader"; }

bool is_loader(const std::uint8_t* head, std::size_t size) {
  return imgwelder::hdr::is_magic(head, size);
}

bool looks_like_text(const std::string& path) {
  // A binary holds zero bytes early (its index has them); a parameter file holds none.
  const platform::native_file f = platform::open_to_read(path);
  if (f == platform::no_file) return false;
  std::uint8_t buf[text_window];
  std::size_t got = 0;
  using type = platform::file_status::type;
  const auto st = platform::status_of(f);
  if (st && !(st->kind == type::regular && st->id.size > param_file_limit) &&
      st->kind != type::folder) {
    while (got < sizeof buf) {
      const std::ptrdiff_t n = platform::read_on(f, buf + got, sizeof buf - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  platform::close_file(f);
  return got > 0 && !is_loader(buf, got) && std::find(buf, buf + got, 0) == buf + got;
}

}  // namespace vexdram::cli
