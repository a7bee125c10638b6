#include "tool/ddr_file.h"

#include <algorithm>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexdram {

disk_ddr_file::disk_ddr_file(const char* path, bool writable) {
  file_ = platform::open_file(path, writable, size_, regular_);
}

disk_ddr_file::~disk_ddr_file() { platform::close_file(file_); }

std::size_t disk_ddr_file::read_at(std::uint64_t pos, void* buf, std::size_t n) {
  return platform::read_at(file_, pos, buf, n);
}

std::size_t disk_ddr_file::write_at(std::uint64_t pos, const void* buf, std::size_t n) {
  if (pos >= size_) return 0;
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - pos));
  return platform::write_at(file_, pos, buf, n);
}

bool disk_ddr_file::sync() { return platform::sync_file(file_); }

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

// Sixteen words are compared at once where the machine has vector compares.
std::optional<std::size_t> find_word(const std::uint8_t* buf, std::size_t whole,
                                     std::uint32_t pattern) {
  std::size_t i = 0;
#if defined(__SSE2__)
  std::uint8_t le[4];
  store_le32(le, pattern);
  std::int32_t native;  // the pattern as this machine loads the file's bytes
  std::memcpy(&native, le, 4);
  const __m128i pat = _mm_set1_epi32(native);
  for (; i + 64 <= whole; i += 64) {
    const auto* v = reinterpret_cast<const __m128i*>(buf + i);
    const __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(_mm_loadu_si128(v), pat),
                                                _mm_cmpeq_epi32(_mm_loadu_si128(v + 1), pat)),
                                   _mm_or_si128(_mm_cmpeq_epi32(_mm_loadu_si128(v + 2), pat),
                                                _mm_cmpeq_epi32(_mm_loadu_si128(v + 3), pat)));
    if (_mm_movemask_epi8(m) != 0) break;
  }
#endif
  for (; i < whole; i += 4)
    if (load_le32(buf + i) == pattern) return i;
  return std::nullopt;
}

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

std::optional<std::uint64_t> disk_ddr_file::scan_for(std::uint32_t pattern) {
  std::optional<std::uint64_t> at;
  if (regular_ && platform::scan_mapped(file_, size_, pattern, find_word, at)) return at;
  return ddr_file::scan_for(pattern);
}

}  // namespace vexdram
