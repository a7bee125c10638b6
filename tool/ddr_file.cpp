#include "ddr_file.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexdram {

posix_ddr_file::posix_ddr_file(const char* path, bool writable) {
  fd_ = ::open(path, (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd_ < 0) return;
  // A regular file or a block device (a boot partition, say). Anything else is refused: a
  // directory has no bytes, and a device like /dev/zero would never end the scan.
  struct stat st {};
  const bool stat_ok = ::fstat(fd_, &st) == 0;
  if (stat_ok && S_ISREG(st.st_mode)) {
    size_ = static_cast<std::uint64_t>(st.st_size);
    regular_ = true;
    return;
  }
  const off_t end = stat_ok && S_ISBLK(st.st_mode) ? ::lseek(fd_, 0, SEEK_END) : -1;
  if (end < 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  size_ = static_cast<std::uint64_t>(end);
}

posix_ddr_file::~posix_ddr_file() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {
// pread/pwrite until n bytes are done, the end is reached or an error other than EINTR.
template <typename Byte, typename Io>
std::size_t transfer(Io io, int fd, Byte* buf, std::size_t n, std::uint64_t pos) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = io(fd, buf + done, n - done, static_cast<off_t>(pos + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}
}  // namespace

std::size_t posix_ddr_file::read_at(std::uint64_t pos, void* buf, std::size_t n) {
  return transfer(::pread, fd_, static_cast<std::uint8_t*>(buf), n, pos);
}

std::size_t posix_ddr_file::write_at(std::uint64_t pos, const void* buf, std::size_t n) {
  if (pos >= size_) return 0;
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - pos));
  return transfer(::pwrite, fd_, static_cast<const std::uint8_t*>(buf), n, pos);
}

bool posix_ddr_file::sync() {
  while (::fsync(fd_) != 0)
    if (errno != EINTR) return false;
  return true;
}

std::size_t memory_ddr_file::read_at(std::uint64_t pos, void* buf, std::size_t n) {
  if (pos >= bytes_.size()) return 0;
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - pos));
  std::memcpy(buf, bytes_.data() + pos, n);
  return n;
}

std::size_t memory_ddr_file::write_at(std::uint64_t pos, const void* buf, std::size_t n) {
  ++writes_;
  if (pos >= bytes_.size()) return 0;
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - pos));
  std::memcpy(bytes_.data() + pos, buf, n);
  return n;
}

bool read_words(ddr_file& f, std::uint64_t pos, std::uint32_t* words, std::size_t n) {
  std::uint8_t buf[4 * 32];
  while (n > 0) {
    const std::size_t chunk = std::min<std::size_t>(n, 32);
    if (f.read_at(pos, buf, chunk * 4) != chunk * 4) return false;
    for (std::size_t i = 0; i < chunk; ++i) words[i] = load_le32(buf + 4 * i);
    words += chunk;
    pos += chunk * 4;
    n -= chunk;
  }
  return true;
}

std::size_t write_words(ddr_file& f, std::uint64_t pos, const std::uint32_t* words, std::size_t n) {
  std::uint8_t buf[4 * 136];
  n = std::min<std::size_t>(n, 136);
  for (std::size_t i = 0; i < n; ++i) store_le32(buf + 4 * i, words[i]);
  return f.write_at(pos, buf, n * 4);
}

namespace {
// The first 4-byte-aligned word of buf[0, whole) equal to pattern (whole is a multiple of 4).
// Sixteen words are compared at once where the machine has vector compares.
std::optional<std::size_t> find_word(const std::uint8_t* buf, std::size_t whole, std::uint32_t pattern) {
  std::size_t i = 0;
#if defined(__SSE2__)
  std::uint8_t le[4];
  store_le32(le, pattern);
  std::int32_t native;  // the pattern as this machine loads the file's bytes
  std::memcpy(&native, le, 4);
  const __m128i pat = _mm_set1_epi32(native);
  for (; i + 64 <= whole; i += 64) {
    const auto* v = reinterpret_cast<const __m128i*>(buf + i);
    const __m128i m = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi32(_mm_loadu_si128(v), pat), _mm_cmpeq_epi32(_mm_loadu_si128(v + 1), pat)),
        _mm_or_si128(_mm_cmpeq_epi32(_mm_loadu_si128(v + 2), pat), _mm_cmpeq_epi32(_mm_loadu_si128(v + 3), pat)));
    if (_mm_movemask_epi8(m) != 0) break;
  }
#endif
  for (; i < whole; i += 4)
    if (load_le32(buf + i) == pattern) return i;
  return std::nullopt;
}
}  // namespace

std::optional<std::uint64_t> ddr_file::scan_for(std::uint32_t pattern) {
  // 128 KiB reads, like cat's: the buffer stays in the cache while it is compared. A smaller
  // file gets a buffer of its own size, read at once.
  constexpr std::uint64_t block = std::uint64_t{128} << 10;
  const std::size_t len = static_cast<std::size_t>(std::min(block, size()));
  const std::unique_ptr<std::uint8_t[]> buf(new std::uint8_t[len]);
  std::uint64_t pos = 0;
  for (;;) {
    const std::size_t got = read_at(pos, buf.get(), len);
    if (auto at = find_word(buf.get(), got & ~std::size_t{3}, pattern)) return pos + *at;
    pos += got;
    if (got < len || pos >= size()) return std::nullopt;
  }
}

std::optional<std::uint64_t> memory_ddr_file::scan_for(std::uint32_t pattern) {
  if (auto at = find_word(bytes_.data(), bytes_.size() & ~std::size_t{3}, pattern)) return *at;
  return std::nullopt;
}

namespace {
// A file that shrinks while it is mapped raises SIGBUS on the pages past its new end. The scan
// turns that into "the file ends here": the handler jumps back to the scan when the fault lies in
// the window being scanned, and leaves every other SIGBUS to the handler that was there before.
sigjmp_buf bus_jump;
const std::uint8_t* volatile bus_lo = nullptr;
const std::uint8_t* volatile bus_hi = nullptr;
struct sigaction bus_previous;

void on_bus(int, siginfo_t* info, void*) {
  const auto* at = static_cast<const std::uint8_t*>(info->si_addr);
  if (at >= bus_lo && at < bus_hi) siglongjmp(bus_jump, 1);
  ::sigaction(SIGBUS, &bus_previous, nullptr);  // not ours: fault again under the old handler
}

struct bus_guard {
  bus_guard() {
    struct sigaction sa {};
    sa.sa_sigaction = on_bus;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, &bus_previous);
  }
  ~bus_guard() {
    bus_lo = bus_hi = nullptr;
    ::sigaction(SIGBUS, &bus_previous, nullptr);
  }
};
// Compares one mapped window; false when the file shrank under it (at is then unset).
bool scan_window(const std::uint8_t* base, std::size_t len, std::uint32_t pattern,
                 std::optional<std::size_t>& at) {
  bus_lo = base;
  bus_hi = base + len;
  if (sigsetjmp(bus_jump, 1) != 0) return false;
  at = find_word(base, len & ~std::size_t{3}, pattern);
  bus_lo = bus_hi = nullptr;
  return true;
}
}  // namespace

std::optional<std::uint64_t> posix_ddr_file::scan_for(std::uint32_t pattern) {
  if (!regular_) return ddr_file::scan_for(pattern);
  // No copy into a read buffer: the page cache is compared where it lies, 2 MiB at a time, so
  // the memory the scan holds stays flat whatever the size of the file. Windows of 2 MiB at
  // 2 MiB offsets let the kernel map a large page-cache folio at once; no MAP_POPULATE, which
  // costs more than the faults it saves.
  constexpr std::uint64_t window = std::uint64_t{2} << 20;
  const bus_guard guard;
  for (std::uint64_t pos = 0; pos + 4 <= size_; pos += window) {
    const std::size_t len = static_cast<std::size_t>(std::min(window, size_ - pos));
    void* const map = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(pos));
    if (map == MAP_FAILED) return ddr_file::scan_for(pattern);
    std::optional<std::size_t> at;
    const bool whole = scan_window(static_cast<const std::uint8_t*>(map), len, pattern, at);
    ::munmap(map, len);
    // A file that shrank below the word being compared: every word before it was compared.
    if (!whole) return std::nullopt;
    if (at) return pos + *at;
  }
  return std::nullopt;
}

}  // namespace vexdram
