// How vexdram moves a file's bytes, and what kind of file a file is.
#include "files.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "container.h"
#include "errors.h"

namespace vexdram::cli {

std::string os_error() { return std::strerror(errno); }

// The whole of fd into memory (a regular file or anything read() serves).
std::vector<std::uint8_t> read_all(int fd) {
  std::vector<std::uint8_t> out;
  std::uint8_t buf[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw trouble{"cannot read: " + os_error()};
    if (got == 0) return out;
    out.insert(out.end(), buf, buf + got);
  }
}

// Copies the whole of `from` into `to` (both at offset 0), in the kernel where it can.
void copy_file(int from, int to, std::uint64_t size) {
  std::uint64_t done = 0;
  off_t in = 0;
  while (done < size) {
    const ssize_t n = ::sendfile(to, from, &in, static_cast<std::size_t>(std::min<std::uint64_t>(size - done, 1u << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw trouble{"cannot copy into the new file: " + (n < 0 ? os_error() : "the input ended early")};
    done += static_cast<std::uint64_t>(n);
  }
}

void write_all(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw trouble{"cannot write the new file: " + os_error()};
    done += static_cast<std::size_t>(n);
  }
}

const char* kind_name(kind k) { return k == kind::ddr ? "ddr" : "loader"; }

bool is_loader(const std::uint8_t* head, std::size_t size) {
  return size >= 5 && (std::memcmp(head, "BOOT", 4) == 0 || std::memcmp(head, "LDR ", 4) == 0) &&
         head[4] == imgwelder::hdr::length;
}

bool looks_like_text(const std::string& path) {
  // A binary holds zero bytes early (its index has them); a parameter file holds none.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  std::uint8_t buf[text_window];
  std::size_t got = 0;
  if (::fstat(fd, &st) == 0 && !(S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > param_file_limit)) {
    while (got < sizeof buf) {
      const ssize_t n = ::read(fd, buf + got, sizeof buf - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  return got > 0 && !is_loader(buf, got) && std::find(buf, buf + got, 0) == buf + got;
}

}  // namespace vexdram::cli
