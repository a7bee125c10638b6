// The DDR binary as the run sees it: positioned reads and writes of a file whose length never
// changes. A write never goes past the end of the file: it is cut at the end instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
// mapping, a window at a time; anything else (a block device) with plain reads.
class posix_ddr_file final : public ddr_file {
 public:
  // Opens path read-only, or for reading and writing; nullopt-like: check ok().
  posix_ddr_file(const char* path, bool writable);
  ~posix_ddr_file() override;
  posix_ddr_file(const posix_ddr_file&) = delete;
  posix_ddr_file& operator=(const posix_ddr_file&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  std::size_t read_at(std::uint64_t pos, void* buf, std::size_t n) override;
  std::size_t write_at(std::uint64_t pos, const void* buf, std::size_t n) override;
  std::uint64_t size() const override { return size_; }
  bool sync() override;
  std::optional<std::uint64_t> scan_for(std::uint32_t pattern) override;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  bool regular_ = false;
};

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

// The block scan (ddr_file::scan_for).
inline std::optional<std::uint64_t> find_start_tag(ddr_file& f, std::uint32_t pattern) {
  return f.scan_for(pattern);
}

}  // namespace vexdram
