// The DDR binary as the run sees it: positioned reads and writes of a file whose length never
// changes. A write never goes past the end of the file: it is cut at the end instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vexdram {

class ddr_file {
 public:
  virtual ~ddr_file() = default;
  // Returns the bytes read: fewer than n only at the end of the file or on an error.
  virtual std::size_t read_at(std::uint64_t pos, void* buf, std::size_t n) = 0;
  // Returns the bytes written; never extends the file.
  virtual std::size_t write_at(std::uint64_t pos, const void* buf, std::size_t n) = 0;
  virtual std::uint64_t size() const = 0;
  // Puts what was written on stable storage; false when that fails.
  virtual bool sync() = 0;
  // The block scan: the position of the first word, at a multiple of 4, equal to pattern; a
  // trailing partial word never matches. This one reads the file in large blocks.
  virtual std::optional<std::uint64_t> scan_for(std::uint32_t pattern);
};

// A file on disk, read with large positioned reads. A regular file is scanned through a read-only
// mapping a window at a time where the system maps it (platform.h); anything else (a block
// device) with plain reads.
class disk_ddr_file final : public ddr_file {
 public:
  // Opens path (UTF-8) read-only, or for reading and writing; check ok().
  disk_ddr_file(const char* path, bool writable);
  ~disk_ddr_file() override;
  disk_ddr_file(const disk_ddr_file&) = delete;
  disk_ddr_file& operator=(const disk_ddr_file&) = delete;
  bool ok() const { return file_ != platform::no_file; }
  // True when path names this very file.
  bool is(const char* path) const { return platform::same_file(file_, path); }
  // The system's handle (a descriptor on POSIX, where vexdram copies through it).
  platform::native_file native() const { return file_; }
  std::size_t read_at(std::uint64_t pos, void* buf, std::size_t n) override;
  std::size_t write_at(std::uint64_t pos, const void* buf, std::size_t n) override;
  std::uint64_t size() const override { return size_; }
  bool sync() override;
  std::optional<std::uint64_t> scan_for(std::uint32_t pattern) override;

 private:
  platform::native_file file_ = platform::no_file;
  std::uint64_t size_ = 0;
  bool regular_ = false;
};
// Its name from the days of one system.
using posix_ddr_file = disk_ddr_file;

// A DDR binary held in memory (tests, fuzzing); counts its writes.
class memory_ddr_file final : public ddr_file {
 public:
  explicit memory_ddr_file(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::size_t read_at(std::uint64_t pos, void* buf, std::size_t n) override;
  std::size_t write_at(std::uint64_t pos, const void* buf, std::size_t n) override;
  std::uint64_t size() const override { return bytes_.size(); }
  bool sync() override { return true; }
  std::optional<std::uint64_t> scan_for(std::uint32_t pattern) override;
  std::size_t writes() const { return writes_; }

 private:
  std::vector<std::uint8_t>& bytes_;
  std::size_t writes_ = 0;
};

inline std::uint32_t load_le32(const std::uint8_t* b) {
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
inline void store_le32(std::uint8_t* b, std::uint32_t v) {
  b[0] = static_cast<std::uint8_t>(v);
  b[1] = static_cast<std::uint8_t>(v >> 8);
  b[2] = static_cast<std::uint8_t>(v >> 16);
  b[3] = static_cast<std::uint8_t>(v >> 24);
}

// Reads n little-endian words at pos; true only when all of them were there.
bool read_words(ddr_file& f, std::uint64_t pos, std::uint32_t* words, std::size_t n);
// Writes n little-endian words at pos, cut at the end of the file; returns the bytes written.
std::size_t write_words(ddr_file& f, std::uint64_t pos, const std::uint32_t* words, std::size_t n);

// The first 4-byte-aligned word of buf[0, whole) equal to pattern (whole is a multiple of 4).
std::optional<std::size_t> find_word(const std::uint8_t* buf, std::size_t whole,
                                     std::uint32_t pattern);

// The block scan (ddr_file::scan_for).
inline std::optional<std::uint64_t> find_start_tag(ddr_file& f, std::uint32_t pattern) {
  return f.scan_for(pattern);
}

}  // namespace vexdram
