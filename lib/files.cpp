// How vexdram moves a file's bytes, and what kind of file a file is.
#include "lib/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "lib/container.h"
#include "lib/errors.h"

namespace vexdram::engine {

// The system's words, and vexdram's beside them where those say too little: a busy file is one
// another program holds open without sharing (Windows; Linux hardly ever says it of a file).
std::string os_error() { return os_error(errno); }
std::string os_error(int error) {
  return platform::error_text(error) +
         (error == EBUSY ? ": another program has it open and does not share it" : "");
}

void copy_file(platform::native_file from, platform::native_file to, std::uint64_t size) {
  if (platform::copy_data(from, to, size) != size)
    throw trouble{
        "cannot copy into the new file: " + (errno != 0 ? os_error() : "the input ended early"),
        {},
        errc::write_failed,
        errno};
}

void write_all(platform::native_file f, const std::vector<std::uint8_t>& bytes) {
  if (platform::write_on(f, bytes.data(), bytes.size()) != bytes.size())
    throw trouble{"cannot write the new file: " + os_error(), {}, errc::write_failed, errno};
}

const char* kind_name(kind k) { return k == kind::ddr ? "ddr" : "loader"; }

bool is_loader(const std::uint8_t* head, std::size_t size) {
  return imgwelder::hdr::is_magic(head, size);
}

vexdram::file_kind kind_of(const std::string& path) {
  using vexdram::file_kind;
  const platform::native_file f = platform::open_to_read(path);
  if (f == platform::no_file) return file_kind::binary;
  std::uint8_t buf[text_window];
  std::size_t got = 0;
  using type = platform::file_status::type;
  const auto st = platform::status_of(f);
  // The text window; of a file too large to be text, its head.
  const bool too_large = st && st->kind == type::regular && st->id.size > param_file_limit;
  const std::size_t want = !st || st->kind == type::folder ? 0 : too_large ? 5 : sizeof buf;
  while (got < want) {
    const std::ptrdiff_t n = platform::read_on(f, buf + got, want - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  platform::close_file(f);
  if (is_loader(buf, got)) return file_kind::loader;
  // A binary holds zero bytes early (its index has them); a parameter file holds none.
  if (!too_large && got > 0 && std::find(buf, buf + got, 0) == buf + got) return file_kind::text;
  return file_kind::binary;
}

bool looks_like_text(const std::string& path) { return kind_of(path) == vexdram::file_kind::text; }

}  // namespace vexdram::engine
