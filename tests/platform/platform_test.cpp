// The system seam (platform.h), the same cases on every system: what Linux does is what Windows
// must do. Names with spaces and outside ASCII on purpose.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "tests/tool/support.h"
#include "platform/platform.h"

namespace tt {
namespace {

namespace fs = std::filesystem;

// Options as vexdram_tool reads them (three words after the program, "g:h"), by glibc's rules:
// operands passed over, "--" ends the options, a value is the next word whatever it is.
TEST(OptionScan, ReadsAsGlibcDoes) {
  struct row {
    std::vector<std::string> words;
    std::string seen;  // each option, "=value" after it, ' ' between
  };
  const row rows[] = {
      {{"tq6951", "-g", "r.txt"}, "g=r.txt"},
      {{"tq6951", "-gr.txt", "x"}, "g=r.txt"},
      {{"-g", "r.txt", "tq6951"}, "g=r.txt"},
      {{"tq6951", "x", "-gr.txt"}, "g=r.txt"},
      {{"tq6951", "-g", "-h"}, "g=-h"},
      {{"tq6951", "-hgr.txt", "x"}, "h g=r.txt"},
      {{"tq6951", "-h", "x"}, "h"},
      {{"tq6951", "-x", "y"}, "?"},
      {{"tq6951", "x", "-g"}, "?"},
      {{"tq6951", "--", "-gr.txt"}, ""},
      {{"tq6951", "-", "-gr.txt"}, "g=r.txt"},
      {{"tq6951", "a", "b"}, ""},
  };
  for (const row& r : rows) {
    std::vector<std::string> text{"vexdram_tool"};
    text.insert(text.end(), r.words.begin(), r.words.end());
    std::vector<char*> argv;
    for (std::string& w : text) argv.push_back(w.data());
    argv.push_back(nullptr);
    platform::option_scan scan;
    std::string seen;
    testing::internal::CaptureStderr();  // the complaints are the C library's own
    for (int c; (c = scan.next(4, argv.data(), "g:h")) != -1;) {
      if (!seen.empty()) seen += ' ';
      seen += static_cast<char>(c);
      if (scan.value) seen += std::string("=") + scan.value;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(seen, r.seen) << r.words[0] << ' ' << r.words[1] << ' ' << r.words[2];
  }
}

struct folder_with_names : scratch {
  // a folder with a space, a file name outside ASCII
  folder_with_names() { fs::create_directory(fs::u8path(dir + "/a folder")); }
  std::string at(const char* name) const { return dir + "/a folder/" + name; }
};

TEST(PlatformFiles, DiskFileByUnicodeNameReadsWritesWithinItsLengthAndKnowsItself) {
  const folder_with_names d;
  const std::string path = d.at("板卡_ddr.bin"), other = d.at("other.bin");
  write_file(path, bytes{1, 2, 3, 4, 5, 6});
  write_file(other, bytes{1, 2, 3, 4, 5, 6});
  {
    disk_ddr_file f(path.c_str(), true);
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f.size(), 6u);
    std::uint8_t b[8] = {};
    EXPECT_EQ(f.read_at(2, b, 8), 4u);
    EXPECT_EQ(b[0], 3);
    const std::uint8_t w[4] = {9, 9, 9, 9};
    EXPECT_EQ(f.write_at(4, w, 4), 2u);  // cut at the end: the file never grows
    EXPECT_TRUE(f.sync());
    EXPECT_TRUE(f.is(path.c_str()));
    EXPECT_FALSE(f.is(other.c_str()));
    EXPECT_FALSE(f.is(d.at("missing.bin").c_str()));
  }
  EXPECT_EQ(read_file(path), (bytes{1, 2, 3, 4, 9, 9}));
  EXPECT_FALSE(disk_ddr_file(d.at("missing.bin").c_str(), false).ok());
  EXPECT_FALSE(disk_ddr_file(d.at("").c_str(), false).ok());  // a folder has no bytes
}

// Around the read block: the scan reaches the last whole word of a file on the disk.
TEST(PlatformFiles, DiskScanFindsTheLastWord) {
  const folder_with_names d;
  const std::string path = d.at("scan 板.bin");
  for (std::size_t size : {std::size_t{8}, std::size_t{128u << 10}, std::size_t{(128u << 10) + 4},
                           std::size_t{3u << 20}}) {
    bytes b(size + 3, 0);
    set_word(b, size - 4, start_tag_value);
    write_file(path, b);
    disk_ddr_file f(path.c_str(), false);
    EXPECT_EQ(find_start_tag(f, start_tag_value), std::optional<std::uint64_t>(size - 4)) << size;
  }
}

// Streams are binary: a line ends in LF alone, and CR LF read back is what the file holds.
TEST(PlatformFiles, StreamsWriteAndReadBytesAsTheyAre) {
  const folder_with_names d;
  const std::string path = d.at("報告.txt");
  std::FILE* f = platform::open_stream(path.c_str(), "w+");
  ASSERT_NE(f, nullptr);
  std::fputs(
      "a\nb\r\n\x1a"
      "c\n",
      f);
  std::fclose(f);
  const bytes want{'a', '\n', 'b', '\r', '\n', 0x1a, 'c', '\n'};
  EXPECT_EQ(read_file(path), want);
  f = platform::open_stream(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(platform::regular_size(f), std::optional<std::uint64_t>(want.size()));
  char buf[16] = {};
  EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), want.size());
  std::fclose(f);
  platform::memory_stream mem;
  std::fprintf(mem.file(), "x=%d\n", 1);
  EXPECT_EQ(mem.text(), "x=1\n");
}

// The writes of a new file: a temporary beside the target, then a replace (over what is there) or
// a publish (only where nothing is); no temporary left behind.
TEST(PlatformFiles, TemporaryThenReplaceOrPublish) {
  const folder_with_names d;
  const std::string folder = d.at(""), target = d.at("目标 file.img");
  write_file(target, bytes{1});
  const std::uint8_t content[3] = {7, 8, 9};
  std::string temp;
  ASSERT_TRUE(
      platform::write_temporary(folder.substr(0, folder.size() - 1), ".t-", content, 3, temp));
  EXPECT_EQ(read_file(temp), (bytes{7, 8, 9}));
  EXPECT_FALSE(platform::publish_file(temp, target));
  EXPECT_EQ(read_file(target), bytes{1});
  ASSERT_TRUE(platform::replace_file(temp, target, 0));
  EXPECT_EQ(read_file(target), (bytes{7, 8, 9}));
  EXPECT_FALSE(exists(temp));
  ASSERT_TRUE(platform::write_temporary(d.dir, ".t-", content, 1, temp));
  EXPECT_TRUE(platform::publish_file(temp, d.at("new.img")));
  EXPECT_EQ(read_file(d.at("new.img")), bytes{7});
  EXPECT_TRUE(platform::remove_file(d.at("new.img")));
  EXPECT_FALSE(exists(d.at("new.img")));
  EXPECT_FALSE(platform::write_temporary(d.at("missing"), ".t-", content, 3, temp));

  EXPECT_EQ(platform::make_folder(d.at("made")), platform::folder::made);
  EXPECT_EQ(platform::make_folder(d.at("made")), platform::folder::exists);
  EXPECT_EQ(platform::make_folder(target), platform::folder::not_a_folder);
  EXPECT_EQ(platform::make_folder(d.at("missing/deeper")), platform::folder::failed);
}

// The lock mechanics of vexdram's writer, in a folder held open and by path: a lock made only
// where nothing is and locked at once, a second name of it (a hard link) that is locked with it,
// a held lock told from one nobody holds, a name told from another file's, the new file beside.
TEST(PlatformFiles, LocksHeldByTheSystem) {
  const folder_with_names d;
  const std::string path = d.at("");
  for (const platform::native_file held : {platform::hold_folder(path), platform::no_file}) {
    const platform::folder_at dir{path.substr(0, path.size() - 1), held};
    EXPECT_EQ(platform::path_in(dir, "x"), d.at("x"));
    const platform::native_file lock = platform::create_lock(dir, "板卡.bin.lock");
    ASSERT_NE(lock, platform::no_file);
    EXPECT_EQ(platform::create_lock(dir, "板卡.bin.lock"), platform::no_file);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_TRUE(platform::same_node(lock, dir, "板卡.bin.lock"));
    EXPECT_FALSE(platform::same_node(lock, dir, "missing"));
    // a second look from another descriptor: held, as long as the first is open
    const platform::native_file look = platform::open_lock(dir, "板卡.bin.lock");
    ASSERT_NE(look, platform::no_file);
    EXPECT_EQ(platform::try_lock(look), platform::lock_try::held);
    const bool linked = platform::link_token(lock, dir, "板卡.bin.lock", dir, "other.lock");
    if (linked) {  // where the file system has hard links: one file, one lock
      const platform::native_file sibling = platform::open_lock(dir, "other.lock");
      EXPECT_EQ(platform::try_lock(sibling), platform::lock_try::held);
      EXPECT_FALSE(platform::link_token(lock, dir, "板卡.bin.lock", dir, "other.lock"));
      EXPECT_EQ(errno, EEXIST);
      platform::close_file(sibling);
      EXPECT_TRUE(platform::remove_in(dir, "other.lock"));
    }
    platform::close_file(lock);  // its run has ended: nobody holds it
    EXPECT_EQ(platform::try_lock(look), platform::lock_try::taken);
    EXPECT_TRUE(platform::remove_lock(look, dir, "板卡.bin.lock"));
    platform::close_file(look);
    EXPECT_FALSE(platform::identity_in(dir, "板卡.bin.lock"));
    EXPECT_EQ(platform::open_lock(dir, "板卡.bin.lock"), platform::no_file);
    // a token without a name, where the system makes one, and a lock that is a link to it
    if (const platform::native_file token = platform::make_token(dir); token != platform::no_file) {
      ASSERT_TRUE(platform::link_token(token, dir, "", dir, "t.lock"));
      const platform::native_file other = platform::open_lock(dir, "t.lock");
      EXPECT_EQ(platform::try_lock(other), platform::lock_try::held);
      platform::close_file(other);
      EXPECT_TRUE(platform::remove_in(dir, "t.lock"));
      platform::close_file(token);
    }
    const platform::native_file made = platform::create_in(dir, "n.new");
    ASSERT_NE(made, platform::no_file);
    platform::close_file(made);
    EXPECT_EQ(platform::create_in(dir, "n.new"), platform::no_file);
    EXPECT_TRUE(platform::remove_in(dir, "n.new"));
    EXPECT_TRUE(platform::sync_folder(dir));
    platform::close_file(held);
  }
  EXPECT_GT(platform::descriptors_allowed(false), 16u);

  const std::string target = d.at("target.bin");
  write_file(target, bytes{1, 2});
  const auto was = platform::identity_of(target);
  ASSERT_TRUE(was);
  EXPECT_EQ(platform::identity_of(target), was);
  EXPECT_FALSE(platform::identity_of(d.at("missing")));
  write_file(d.at("other.bin"), bytes{1, 2});
  ASSERT_TRUE(platform::replace_file(d.at("other.bin"), target, 0));  // same bytes, another file
  EXPECT_NE(platform::identity_of(target), was);

  // Replaced, keeping what it replaced until it is put back by a rename; published only where
  // nothing is.
  const platform::folder_at dir{path.substr(0, path.size() - 1)};
  write_file(d.at("new.bin"), bytes{3});
  const auto kept = platform::replace_keeping(dir, "new.bin", "target.bin", "target.old", 0);
  ASSERT_TRUE(kept);
  EXPECT_EQ(read_file(target), bytes{3});
  ASSERT_TRUE(*kept == platform::kept_as::from || *kept == platform::kept_as::kept);
  const char* at = *kept == platform::kept_as::from ? "new.bin" : "target.old";
  EXPECT_EQ(read_file(d.at(at)), (bytes{1, 2}));
  ASSERT_TRUE(platform::rename_in(dir, at, "target.bin", 0));
  EXPECT_EQ(read_file(target), (bytes{1, 2}));
  write_file(d.at("new.bin"), bytes{4});
  EXPECT_EQ(platform::replace_keeping(dir, "new.bin", "fresh.bin", "fresh.old", 0),
            platform::kept_as::nothing);
  write_file(d.at("new.bin"), bytes{5});
  EXPECT_FALSE(platform::publish_in(dir, "new.bin", "fresh.bin"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_TRUE(platform::publish_in(dir, "new.bin", "fresh2.bin"));
  EXPECT_EQ(read_file(d.at("fresh2.bin")), bytes{5});
}

// The names Windows takes for devices, by the same rule on every system (imgwelder refuses them
// as image names, vexdram.exe as targets).
TEST(PlatformNames, WindowsDeviceNames) {
  for (const char* name : {"CON", "con", "Nul.txt", "aux.tar.gz", "PRN", "COM1", "com9.bin", "LPT1",
                           "lpt0", "NUL.", "nul ", "prn. .", "com1 .bin", "CON:", "nul:.txt",
                           "conin$", "CONOUT$.x", "COM\xc2\xb9", "lpt\xc2\xb3.bin"})
    EXPECT_TRUE(platform::reserved_on_windows(name)) << name;
  for (const char* name : {"", "CONSOLE", "nul_tq6951.bin", "COM10", "COM", "LPTX", ".nul", "xnul",
                           " nul", "con-1.bin", "COMa.txt", "com\xc2\xb9x", "COM\xc2\xb4"})
    EXPECT_FALSE(platform::reserved_on_windows(name)) << name;
}

TEST(PlatformClock, UtcTime) {
  const std::tm t = platform::utc_time(951782400 + 3661);  // 2000-02-29 01:01:01
  EXPECT_EQ(t.tm_year + 1900, 2000);
  EXPECT_EQ(t.tm_mon + 1, 2);
  EXPECT_EQ(t.tm_mday, 29);
  EXPECT_EQ(t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec, 3661);
}

}  // namespace
}  // namespace tt
