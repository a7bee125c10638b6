// The block scan over each kind of file: in memory, read in blocks (any ddr_file), and a regular
// file on disk, compared through a read-only mapping a window at a time.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/tool/support.h"

namespace tt {
namespace {

// Takes the base class's scan: plain reads in blocks.
class block_read_file final : public ddr_file {
 public:
  explicit block_read_file(bytes& b) : inner_(b) {}
  std::size_t read_at(std::uint64_t pos, void* buf, std::size_t n) override {
    return inner_.read_at(pos, buf, n);
  }
  std::size_t write_at(std::uint64_t pos, const void* buf, std::size_t n) override {
    return inner_.write_at(pos, buf, n);
  }
  std::uint64_t size() const override { return inner_.size(); }
  bool sync() override { return true; }

 private:
  memory_ddr_file inner_;
};

enum class kind { memory, blocks, disk };

std::optional<std::uint64_t> scan(kind k, bytes& b, const scratch& dir) {
  if (k == kind::memory) {
    memory_ddr_file f(b);
    return find_start_tag(f, start_tag_value);
  }
  if (k == kind::blocks) {
    block_read_file f(b);
    return find_start_tag(f, start_tag_value);
  }
  write_file(dir / "scan.bin", b);
  posix_ddr_file f((dir / "scan.bin").c_str(), false);
  return find_start_tag(f, start_tag_value);
}

class Scan : public testing::TestWithParam<kind> {};

// At every size, around the read block and the mapping window too, the last whole word is found
// and a trailing partial word never matches.
TEST_P(Scan, ReachesTheLastWholeWord) {
  const scratch dir;
  constexpr std::size_t win = 2u << 20, block = 128u << 10;
  for (std::size_t size :
       {std::size_t{0}, std::size_t{3}, std::size_t{4}, std::size_t{7}, std::size_t{64}, block - 1,
        block, block + 3, block + 4, win - 4, win, win + 3, win + 4, 2 * win + 8}) {
    bytes b(size, 0);
    if (size >= 4) {
      const std::size_t last = size / 4 * 4 - 4;
      set_word(b, last, start_tag_value);
      EXPECT_EQ(scan(GetParam(), b, dir), std::optional<std::uint64_t>(last)) << size;
      set_word(b, last, 0);
    }
    if (size % 4 == 3) std::copy_n("\x78\x56\x34", 3, b.end() - 3);
    EXPECT_EQ(scan(GetParam(), b, dir), std::nullopt) << size;
  }
}
INSTANTIATE_TEST_SUITE_P(Files, Scan, testing::Values(kind::memory, kind::blocks, kind::disk));

// A mapped file that shrinks while it is scanned ends the scan where it ends now, without the
// SIGBUS of the pages past its end; a tag before the cut is still found.
TEST(ScanDisk, AFileThatShrankEndsTheScan) {
  const scratch dir;
  const std::string path = dir / "shrinks.bin";
  bytes b(6u << 20, 0);
  for (std::size_t tag : {std::size_t{5u << 20}, std::size_t{1u << 20}}) {
    set_word(b, tag, start_tag_value);
    write_file(path, b);
    posix_ddr_file f(path.c_str(), false);
    ASSERT_EQ(::truncate(path.c_str(), 3u << 20), 0);
    const auto found = find_start_tag(f, start_tag_value);
    EXPECT_EQ(found, tag < (3u << 20) ? std::optional<std::uint64_t>(tag) : std::nullopt) << tag;
  }
  EXPECT_EQ(report_of(b).out.find("version"), 0u);  // the scan leaves SIGBUS as it found it
}

// A block past 4 GiB: positions are 64-bit all the way (a sparse file, so nothing is written).
TEST(ScanDisk, FindsABlockPastFourGiB) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "4 GiB of page cache is read: once, in the plain build";
#endif
  const scratch dir;
  const std::string path = dir / "large.bin";
  const std::uint64_t at = (std::uint64_t{4} << 30) + 4096 + 8;
  {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    std::uint8_t tag[8];
    store_le32(tag, start_tag_value);
    store_le32(tag + 4, 9);
    ASSERT_EQ(::pwrite(fd, tag, 8, static_cast<off_t>(at)), 8);
    ::close(fd);
  }
  posix_ddr_file f(path.c_str(), false);
  EXPECT_EQ(find_start_tag(f, start_tag_value), std::optional<std::uint64_t>(at));
  std::uint32_t version = 0;
  EXPECT_TRUE(read_words(f, at + 4, &version, 1));
  EXPECT_EQ(version, 9u);
}

}  // namespace
}  // namespace tt
