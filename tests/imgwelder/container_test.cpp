// Container reader, writer and listing, and unpacking into a directory, through the library.
#include "imgwelder/container.h"
#include "imgwelder/files.h"
#include "tests/imgwelder/support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <functional>
#include <map>

using namespace imgwelder;
using iwtest::bytes;

namespace {

container make_container(std::size_t n471, std::size_t n472, std::size_t nloader) {
  container c;
  c.chip_code = {'1', '2', '3', '4'};
  const std::array<std::size_t, 3> counts{n471, n472, nloader};
  const std::array<const char*, 3> stem{"ddr", "usb", "Flash"};
  std::uint8_t seed = 0;
  for (std::size_t t = 0; t < 3; ++t)
    for (std::size_t i = 0; i < counts[t]; ++i, ++seed)
      c.tables[t].push_back({std::string(stem[t]) + std::to_string(i) + ".bin", 0,
                             iwtest::pattern(240 + 17 * seed, seed)});
  return c;
}

bytes write(const container& c) {
  bytes out;
  std::string error;
  EXPECT_TRUE(write_container(c, out, error)) << error;
  return out;
}

std::uint32_t le32(const bytes& b, std::size_t at) { return get_le(b.data() + at, 4); }

void put32(bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The listing as the unpacking caller reads it: short when exactly 8 lines, else long.
std::map<std::string, std::string> module_reads(const std::vector<std::string>& lines) {
  auto file = [&](std::size_t i) {
    const auto p = lines.at(i).find("file=");
    return p == std::string::npos ? std::string() : lines[i].substr(p + 5);
  };
  if (lines.size() == 8)
    return {{"471", file(3)}, {"472", file(4)}, {"473_1", file(5)}, {"473_2", file(6)}};
  std::map<std::string, std::string> m{{"471_0", file(3)}, {"471", file(4)},   {"472", file(5)},
                                       {"473_0", file(6)}, {"473_1", file(7)}, {"473_2", file(8)}};
  if (lines.size() > 10) m["473_3"] = file(9);
  return m;
}

TEST(Container, RoundTripKeepsImagesAndHeader) {
  struct row {
    std::array<std::size_t, 3> shape;
    bool ldr;
    std::uint8_t rc4, rc4_off, crc_off;
    std::uint32_t align, delay471, delay472;
  };
  const row rows[] = {
      {{1, 1, 2}, false, 0, 0, 0, 1, 0, 0},      {{2, 1, 3}, true, 1, 0, 1, 8, 5, 7},
      {{1, 0, 4}, false, 0, 1, 0, 4096, 255, 0}, {{0, 0, 0}, true, 1, 1, 1, 2, 0, 0},
      {{3, 2, 1}, false, 0, 0, 1, 16, 1, 2},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.shape[0] << "/" << r.shape[1] << "/" << r.shape[2]);
    container c = make_container(r.shape[0], r.shape[1], r.shape[2]);
    c.ldr_tag = r.ldr;
    c.version = {16, 2, 0, 0};
    c.chip_code = {'6', '9', '4', '7'};
    c.chip_family = 'N';
    c.rc4_flag = r.rc4;
    c.rc4_off_471 = r.rc4_off;
    c.crc_off = r.crc_off;
    c.alignment = r.align;
    c.release_time = make_release_time(2024, 5, 6, 7, 8, 9);
    for (auto& img : c.tables[0]) img.delay = r.delay471;
    for (auto& img : c.tables[1]) img.delay = r.delay472;
    const bytes file = write(c);

    EXPECT_EQ(std::string(file.begin(), file.begin() + 5),
              std::string(r.ldr ? "LDR " : "BOOT") + "\x66");
    // byte 53 at each table offset is the delay; an empty table's offset 0 must read 0 there
    EXPECT_EQ(file.at(le32(file, 26) + 53), r.shape[0] ? r.delay471 : 0u);
    EXPECT_EQ(file.at(le32(file, 32) + 53), r.shape[1] ? r.delay472 : 0u);

    container back;
    ASSERT_TRUE(read_container(file.data(), file.size(), back));
    for (std::size_t t = 0; t < 3; ++t) {
      ASSERT_EQ(back.tables[t].size(), c.tables[t].size());
      for (std::size_t i = 0; i < c.tables[t].size(); ++i) {
        const image& img = back.tables[t][i];
        EXPECT_EQ(img.name, c.tables[t][i].name);
        EXPECT_EQ(img.delay, c.tables[t][i].delay);
        EXPECT_EQ(img.data, c.tables[t][i].data);
        const std::uint32_t at = le32(file, le32(file, 26 + 6 * t) + 57 * i + 45);
        EXPECT_EQ(at % r.align, 0u);
      }
    }
    EXPECT_EQ(back.version, c.version);
    EXPECT_EQ(back.chip_code, c.chip_code);
    EXPECT_EQ(back.chip_family, 'N');
    EXPECT_EQ(back.release_time, c.release_time);
    EXPECT_EQ(back.alignment, r.align);
    EXPECT_EQ(write(back), file);
  }
}

TEST(Listing, LinesSitWhereTheCallerReadsThem) {
  struct row {
    std::array<std::size_t, 3> shape;
    std::size_t lines;
    std::map<std::string, std::string> reads;
  };
  const row rows[] = {
      {{1, 1, 2},
       8,
       {{"471", "ddr0.bin"},
        {"472", "usb0.bin"},
        {"473_1", "Flash0.bin"},
        {"473_2", "Flash1.bin"}}},
      {{2, 1, 3},
       10,
       {{"471_0", "ddr0.bin"},
        {"471", "ddr1.bin"},
        {"472", "usb0.bin"},
        {"473_0", "Flash0.bin"},
        {"473_1", "Flash1.bin"},
        {"473_2", "Flash2.bin"}}},
      {{2, 1, 4},
       11,
       {{"471_0", "ddr0.bin"},
        {"471", "ddr1.bin"},
        {"472", "usb0.bin"},
        {"473_0", "Flash0.bin"},
        {"473_1", "Flash1.bin"},
        {"473_2", "Flash2.bin"},
        {"473_3", "Flash3.bin"}}},
      {{1, 1, 3},
       10,
       {{"471_0", "ddr0.bin"},
        {"471", "ddr0.bin"},
        {"472", "usb0.bin"},
        {"473_0", "Flash0.bin"},
        {"473_1", "Flash1.bin"},
        {"473_2", "Flash2.bin"}}},
      {{1, 1, 1},
       10,
       {{"471_0", "ddr0.bin"},
        {"471", "ddr0.bin"},
        {"472", "usb0.bin"},
        {"473_0", "Flash0.bin"},
        {"473_1", ""},
        {"473_2", ""}}},
      {{3, 2, 2},
       13,
       {{"471_0", "ddr0.bin"},
        {"471", "ddr2.bin"},
        {"472", "usb0.bin"},
        {"473_0", "Flash0.bin"},
        {"473_1", "Flash1.bin"},
        {"473_2", ""},
        {"473_3", ""}}},
      {{0, 0, 0},
       10,
       {{"471_0", ""}, {"471", ""}, {"472", ""}, {"473_0", ""}, {"473_1", ""}, {"473_2", ""}}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.shape[0] << "/" << r.shape[1] << "/" << r.shape[2]);
    const auto lines = listing(make_container(r.shape[0], r.shape[1], r.shape[2]));
    EXPECT_EQ(lines.size(), r.lines);
    EXPECT_EQ(module_reads(lines), r.reads);
  }
}

TEST(Listing, OnlyTheShortShapeHasEightLinesAndEveryImageIsListed) {
  for (std::size_t a = 0; a < 5; ++a)
    for (std::size_t b = 0; b < 4; ++b)
      for (std::size_t l = 0; l < 7; ++l) {
        SCOPED_TRACE(::testing::Message() << a << "/" << b << "/" << l);
        const container c = make_container(a, b, l);
        const auto lines = listing(c);
        EXPECT_EQ(lines.size() == 8, a == 1 && b == 1 && l == 2);
        EXPECT_GE(lines.size(), 8u);
        std::string text;
        for (const auto& line : lines) text += line + "\n";
        EXPECT_EQ(text.find("Error"), std::string::npos);
        for (const auto& table : c.tables)
          for (const auto& img : table)
            EXPECT_NE(text.find("file=" + img.name + "\n"), std::string::npos);
      }
}

// pack refuses exactly the containers in whose listing a host would read a slot without an image.
TEST(Listing, ReadableExactlyWhenEverySlotAHostReadsHoldsAnImage) {
  std::size_t readable = 0;
  for (std::size_t a = 0; a < 5; ++a)
    for (std::size_t b = 0; b < 4; ++b)
      for (std::size_t l = 0; l < 7; ++l) {
        const container c = make_container(a, b, l);
        const auto reads = module_reads(listing(c));
        const bool every = std::none_of(reads.begin(), reads.end(),
                                        [](const auto& r) { return r.second.empty(); });
        std::string error;
        EXPECT_EQ(listing_readable(c, error), every) << a << "/" << b << "/" << l;
        EXPECT_EQ(error.rfind("Error: listing slot ", 0) == 0, !every) << error;
        readable += every;
      }
  // 1/1/2; one or two 471, one 472 and 3 to 6 loaders (8); the 10 other shapes with 4 to 6 (30)
  EXPECT_EQ(readable, 1u + 8u + 30u);
}

std::size_t record(const bytes& b, std::size_t table, std::size_t index) {
  return le32(b, 26 + 6 * table) + 57 * index;
}

void set_name(bytes& b, std::size_t rec, const std::string& name) {
  std::fill_n(b.begin() + rec + 5, 40, 0);
  std::copy(name.begin(), name.end(), b.begin() + rec + 5);
}

TEST(Unpack, HostileContainersWriteNothing) {
  using mutation = std::function<void(bytes&)>;
  auto name = [](std::string n) { return [n](bytes& b) { set_name(b, record(b, 0, 0), n); }; };
  const std::pair<const char*, mutation> cases[] = {
      {"name with directory", name("sub/a.bin")},
      {"parent directory", name("..")},
      {"parent path", name("../imgwelder-evil.bin")},
      {"absolute path", name("/tmp/imgwelder-evil.bin")},
      {"backslash path", name("..\\imgwelder-evil.bin")},
      {"hidden name", name(".profile")},
      {"option-like name", name("-rf")},
      {"space in name", name("a b.bin")},
      {"control character", name(std::string("a\x01.bin"))},
      {"high byte", name(std::string("a\xc3\xa9.bin"))},
      {"failure word in name", name("Error.bin")},
      // names Windows folds into another's or opens as a device, refused on every system
      {"trailing dot", name("FlashData.bin.")},
      {"device name", name("NUL")},
      {"device name with an extension", name("aux.bin")},
      {"device name in another case", name("Com1.img")},
      {"printer port", name("lpt9.tar.gz")},
      {"empty name", name("")},
      {"bytes after the name's end", name(std::string("a.bin\0x", 7))},
      {"same name ignoring case", [](bytes& b) { set_name(b, record(b, 2, 1), "DDR0.BIN"); }},
      {"bad tag", [](bytes& b) { b[0] = 'b'; }},
      {"size field", [](bytes& b) { b[4] = 0x65; }},
      {"shorter than the header", [](bytes& b) { b.resize(50); }},
      {"truncated image data", [](bytes& b) { b.resize(b.size() - 10); }},
      {"table past the end", [](bytes& b) { put32(b, 26, 0xfffffff0u); }},
      {"table count past the end", [](bytes& b) { b[37] = 255; }},
      {"table on the header", [](bytes& b) { put32(b, 26, 40); }},
      {"tables overlapping", [](bytes& b) { put32(b, 32, le32(b, 26) + 20); }},
      {"unknown entry size", [](bytes& b) { b[30] = 56; }},
      {"entry record size", [](bytes& b) { b[record(b, 1, 0)] = 58; }},
      {"entry in the wrong table", [](bytes& b) { put32(b, record(b, 0, 0) + 1, 4); }},
      {"data size overflowing", [](bytes& b) { put32(b, record(b, 0, 0) + 49, 0xffffffffu); }},
      {"data offset past the end", [](bytes& b) { put32(b, record(b, 2, 0) + 45, 0xfffffff0u); }},
      {"data on the header", [](bytes& b) { put32(b, record(b, 0, 0) + 45, 0); }},
      {"data on a table", [](bytes& b) { put32(b, record(b, 0, 0) + 45, record(b, 1, 0)); }},
      {"images overlapping",
       [](bytes& b) { put32(b, record(b, 2, 1) + 45, le32(b, record(b, 2, 0) + 45) + 1); }},
  };
  container base = make_container(1, 1, 2);
  base.crc_off = 1;  // so that each mutation meets the check it is aimed at
  const bytes good = write(base);
  for (const auto& [what, mutate] : cases) {
    SCOPED_TRACE(what);
    bytes b = good;
    mutate(b);
    iwtest::scratch_dir root;
    const std::string out = root / "out";
    std::vector<std::string> lines;
    std::string error;
    EXPECT_FALSE(unpack_to_directory(b.data(), b.size(), out, lines, error));
    EXPECT_NE(error.find("Error"), std::string::npos) << error;
    EXPECT_EQ(iwtest::entries(root.path()), std::vector<std::string>{});
    EXPECT_FALSE(iwtest::exists("/tmp/imgwelder-evil.bin"));
    container c;
    EXPECT_FALSE(read_container(b.data(), b.size(), c));
  }
}

TEST(Unpack, CrcGuardsTheWholeFile) {
  const bytes good = write(make_container(1, 1, 2));
  container c;
  ASSERT_TRUE(read_container(good.data(), good.size(), c));
  for (std::size_t at : {std::size_t{14}, std::size_t{200}, good.size() - 5, good.size() - 1}) {
    bytes b = good;
    b[at] ^= 0x10;
    EXPECT_EQ(read_container(b.data(), b.size(), c).why, read_refusal::bad_crc) << at;
  }
}

TEST(Unpack, WritesEveryImageAndNothingElse) {
  const container c = make_container(2, 1, 3);
  const bytes file = write(c);
  iwtest::scratch_dir root;
  std::vector<std::string> lines;
  std::string error;
  ASSERT_TRUE(unpack_to_directory(file.data(), file.size(), root / "out", lines, error)) << error;
  std::vector<std::string> expected;
  for (const auto& table : c.tables)
    for (const auto& img : table) {
      expected.push_back(img.name);
      EXPECT_EQ(iwtest::read_bytes(root / "out/" + img.name), img.data);
    }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(iwtest::entries(root / "out"), expected);
}

TEST(Unpack, FailedWriteLeavesTheFolderAsItWas) {
  // Files of every image's name but the last are there; a directory at the last one's name makes
  // its rename fail after the others were put in place: they are put back, nothing else is left.
  const container c = make_container(1, 1, 2);
  const bytes file = write(c);
  iwtest::scratch_dir root;
  std::vector<std::string> before;
  for (const auto& table : c.tables)
    for (const auto& img : table) before.push_back(img.name);
  const std::string last = before.back();
  before.pop_back();
  for (const std::string& n : before) iwtest::write_bytes(root / n, {7, 7, 7});
  ASSERT_EQ(::mkdir((root / last).c_str(), 0755), 0);
  before.push_back(last);
  std::sort(before.begin(), before.end());
  std::vector<std::string> lines;
  std::string error;
  EXPECT_FALSE(unpack_to_directory(file.data(), file.size(), root.path(), lines, error));
  EXPECT_EQ(error, "Error: cannot write " + root / last);
  EXPECT_EQ(iwtest::entries(root.path()), before);
  for (const std::string& n : before)
    if (n != last) {
      EXPECT_EQ(iwtest::read_bytes(root / n), (bytes{7, 7, 7})) << n;
    }
}

TEST(Writer, RefusesWhatCannotBeRead) {
  using change = std::function<void(container&)>;
  const std::pair<const char*, change> cases[] = {
      {"unsafe name", [](container& c) { c.tables[0][0].name = "../x.bin"; }},
      {"device name", [](container& c) { c.tables[2][0].name = "con.bin"; }},
      {"name longer than its field",
       [](container& c) { c.tables[0][0].name = std::string(41, 'a'); }},
      {"duplicate names", [](container& c) { c.tables[2][1].name = c.tables[1][0].name; }},
      {"alignment not a power of two", [](container& c) { c.alignment = 3; }},
      {"alignment zero", [](container& c) { c.alignment = 0; }},
      {"alignment too large", [](container& c) { c.alignment = 8192; }},
      {"more than 255 entries",
       [](container& c) {
         for (int i = 0; i < 255; ++i) c.tables[1].push_back({"u" + std::to_string(i), 0, {}});
       }},
  };
  for (const auto& [what, apply] : cases) {
    SCOPED_TRACE(what);
    container c = make_container(1, 1, 2);
    apply(c);
    bytes out;
    std::string error;
    EXPECT_FALSE(write_container(c, out, error));
    EXPECT_NE(error.find("Error"), std::string::npos);
  }
  container longest = make_container(1, 1, 2);
  longest.tables[0][0].name = std::string(40, 'a');
  bytes out;
  std::string error;
  ASSERT_TRUE(write_container(longest, out, error)) << error;
  container back;
  ASSERT_TRUE(read_container(out.data(), out.size(), back));
  EXPECT_EQ(back.tables[0][0].name, std::string(40, 'a'));
}

}  // namespace
