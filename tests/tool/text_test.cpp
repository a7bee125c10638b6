// The parameter text reader, the report, and the tq6951 skew maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>

#include "tests/tool/support.h"
#include "tool/report.h"

namespace tt {
namespace {

struct read_result {
  base_info info;
  state_table state;
  std::size_t accepted;
  std::string out;
};
read_result read_text(const std::string& text) {
  read_result r{};
  r.state.fill(state_keep);
  capture out;
  memory_text_source src(text.data(), text.size());
  r.accepted = read_param_text(src, r.info, r.state, out.f);
  r.out = out.done();
  return r;
}

struct text_case {
  const char* text;
  const char* key;  // the parameter set, or nullptr: none
  std::uint32_t value, state;
  std::size_t accepted;
  const char* out = "";
};
class TextReader : public testing::TestWithParam<text_case> {};

TEST_P(TextReader, Rules) {
  const text_case& c = GetParam();
  const read_result r = read_text(c.text);
  base_info expect;
  if (c.key) expect[num(c.key)] = c.value;
  EXPECT_EQ(r.info.v, expect.v);
  for (std::size_t n = 0; n < base_info_tag_size; ++n)
    EXPECT_EQ(r.state[n], c.key && n == num(c.key) ? c.state : state_keep) << base_info_tag[n];
  EXPECT_EQ(r.accepted, c.accepted);
  EXPECT_EQ(r.out, c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TextReader,
    testing::Values(
        text_case{"phy_ddr2_odt_ohm=40\n", "phy_ddr2_odt_ohm", 40, 1, 1},
        text_case{"ddr2_odt_ohm=40\n", "ddr2_odt_ohm", 40, 1, 1},
        text_case{"lp5_wck_odt=1\n", "lp5_wck_odt", 1, 1, 1},
        text_case{"lp5_wck_odt_en_freq=1\n", "lp5_wck_odt_en_freq", 1, 1, 1},
        text_case{"ddr3_freq=\n", "ddr3_freq", 10, 2, 1},
        text_case{"ddr3_freq=10\n", "ddr3_freq", 10, 1, 1},
        // values of nothing but spaces, tabs and line ends are blank, whatever the line end
        text_case{"ddr3_freq= \n", "ddr3_freq", 10, 2, 1},
        text_case{"ddr3_freq=\r\n", "ddr3_freq", 10, 2, 1},
        text_case{"ddr3_freq=\t \r\n", "ddr3_freq", 10, 2, 1},
        text_case{"ddr3_freq= /* keep */\n", "ddr3_freq", 10, 2, 1},
        text_case{"ddr3_freq=", "ddr3_freq", 10, 2, 1},
        text_case{"ddr3_freq=933\r\n", "ddr3_freq", 933, 1, 1},
        text_case{"ddr3_freq= 42 \t\r\n", "ddr3_freq", 42, 1, 1},
        text_case{"ddr3_freq = 0x320\n", "ddr3_freq", 800, 1, 1},
        text_case{"ddr3_freq=0800\n", "ddr3_freq", 0, 1, 1,
                  "warning: ddr3_freq=0800 is not a whole number, read as 0\n"},
        text_case{"ddr3_freq=017\n", "ddr3_freq", 15, 1, 1},
        text_case{"ddr3_freq=-1\n", "ddr3_freq", 0xFFFFFFFFu, 1, 1},
        text_case{"ddr3_freq=-2147483648\n", "ddr3_freq", 0x80000000u, 1, 1},
        text_case{"ddr3_freq=12abc \r\n", "ddr3_freq", 12, 1, 1,
                  "warning: ddr3_freq=12abc is not a whole number, read as 12\n"},
        text_case{"ddr3_freq=1.5\n", "ddr3_freq", 1, 1, 1,
                  "warning: ddr3_freq=1.5 is not a whole number, read as 1\n"},
        text_case{"ddr3_freq=-\n", "ddr3_freq", 0, 1, 1,
                  "warning: ddr3_freq=- is not a whole number, read as 0\n"},
        text_case{"ddr3_freq=0x\n", "ddr3_freq", 0, 1, 1,
                  "warning: ddr3_freq=0x is not a whole number, read as 0\n"},
        text_case{"uart id=- 1\n", "uart id", 0, 1, 1,
                  "warning: uart id=- 1 is not a whole number, read as 0\n"},
        text_case{"ddr3_freq=0x123456789\n", "ddr3_freq", 0x23456789u, 1, 1},
        text_case{"ddr3_freq=99999999999999999999\n", "ddr3_freq", 0xFFFFFFFFu, 1, 1},
        text_case{"ddr3_freq=abc\n", "ddr3_freq", 0, 1, 1,
                  "warning: ddr3_freq=abc is not a whole number, read as 0\n"},
        text_case{"/* ddr3_freq=800\n", nullptr, 0, 0, 0},
        text_case{"ddr3_freq=800 /* 1066 */\n", "ddr3_freq", 800, 1, 1},
        text_case{"// ddr3_freq=800\n", "ddr3_freq", 800, 1, 1},
        text_case{"x=5 ddr3_freq\n", "ddr3_freq", 5, 1, 1,
                  "warning: ddr3_freq=5 ddr3_freq is not a whole number, read as 5\n"},
        text_case{"my_ddr3_freq_2=7\n", "ddr3_freq", 7, 1, 1},
        text_case{"MY_DDR3_FREQ_2=7\n", nullptr, 0, 0, 0},
        text_case{"ddr3_freq=1=2\n", "ddr3_freq", 1, 1, 1,
                  "warning: ddr3_freq=1=2 is not a whole number, read as 1\n"},
        text_case{"uart id=3\n", "uart id", 3, 1, 1}, text_case{"uart_id=3\n", nullptr, 0, 0, 0},
        text_case{"channel mask=0x3\n", "channel mask", 3, 1, 1},
        text_case{"start tag=0x12345678\n", "start tag", 0x12345678u, 1, 1},
        text_case{"end\n\n# comment\nfoo=1\n", nullptr, 0, 0, 0},
        text_case{"phy_ddr3_odt_ohm\n", nullptr, 0, 0, 0,
                  "phy_ddr3_odt_ohm have no '=' value!!!\nddr3_odt_ohm have no '=' value!!!\n"},
        // a key behind "/*" gives no message; one before it does
        text_case{"ddr3_freq /* lp4_freq\n", nullptr, 0, 0, 0, "ddr3_freq have no '=' value!!!\n"},
        // a commented-out earlier key does not stop a later one
        text_case{"lp4_freq=6 /* ddr3_freq\n", "lp4_freq", 6, 1, 1},
        text_case{"ddr3_freq=1\nddr3_freq=\n", "ddr3_freq", 10, 2, 2},
        text_case{"ddr3_freq=\nddr3_freq=1\n", "ddr3_freq", 1, 1, 2}));

// Reads take at most 1023 characters: a longer line is handled as several lines.
TEST(TextReader, LongLinesAreSplitAt1023) {
  const std::string head = "lp4_freq=5";
  std::string line = head + std::string(1023 - head.size(), ' ') + "ddr3_freq=9\n";
  read_result r = read_text(line);
  EXPECT_EQ(r.accepted, 2u);
  EXPECT_EQ(r.info[num("lp4_freq")], 5u);
  EXPECT_EQ(r.info[num("ddr3_freq")], 9u);
  // Within 1023 characters: one line, the first key in catalogue order, the first '='.
  r = read_text(head + std::string(1000, ' ') + "ddr3_freq=9\n");
  EXPECT_EQ(r.accepted, 1u);
  EXPECT_EQ(r.info[num("ddr3_freq")], 5u);
  EXPECT_EQ(r.info[num("lp4_freq")], 0u);
}

// The key match against its rule written out plainly: each key searched in the line, the first
// in catalogue order that occurs in front of the first "/*" names the line when it has a '='.
// The lines are built from keys and pieces of keys, so that keys overlap, nest and run into
// each other, with the characters that matter around them.
std::size_t key_by_search(const std::string& line, std::string& messages) {
  const char* l = line.c_str();
  const char* comment = std::strstr(l, "/*");
  const bool eq = std::strchr(l, '=') != nullptr;
  for (std::size_t n = 0; n < base_info_tag_size; ++n) {
    const char* at = std::strstr(l, base_info_tag[n].data());
    if (!at || (comment && comment < at)) continue;
    if (eq) return n;
    messages += std::string(base_info_tag[n]) + " have no '=' value!!!\n";
  }
  return base_info_tag_size;
}

TEST(TextReader, KeyMatchEqualsSearchingEachKey) {
  static const char* const marks[] = {"=", "=", "/*", "/", "*", " ", "_", "x", "1", "\r", "#"};
  std::mt19937 rng(9);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  std::size_t named = 0, told = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string line;
    for (std::size_t parts = 1 + pick(6); parts > 0; --parts) {
      const std::string key(base_info_tag[pick(base_info_tag_size)]);
      const std::size_t from = pick(2) ? 0 : pick(key.size());
      const std::size_t to = pick(2) ? key.size() : from + pick(key.size() - from + 1);
      switch (pick(3)) {
        case 0: line += key; break;
        case 1: line += key.substr(from, to - from); break;
        default: line += marks[pick(std::size(marks))];
      }
    }
    if (pick(8) == 0) line.insert(pick(line.size() + 1), 1, '\0');
    std::string want_out;
    const std::size_t want = key_by_search(line, want_out);
    const read_result r = read_text(line + "\n");
    std::string out;  // only the key messages: the values are not what this test is about
    for (const std::string& l : lines(r.out))
      if (l.find(" have no '=' value!!!") != std::string::npos) out += l + "\n";
    std::size_t got = base_info_tag_size;
    for (std::size_t n = 0; n < base_info_tag_size; ++n)
      if (r.info[n] != 0 || r.state[n] != state_keep) got = n;
    EXPECT_EQ(got, want) << line;
    EXPECT_EQ(r.accepted, want < base_info_tag_size ? 1u : 0u) << line;
    EXPECT_EQ(out, want_out) << line;
    named += want < base_info_tag_size;
    told += !want_out.empty();
  }
  EXPECT_GT(named, 400u);  // both kinds of line are common
  EXPECT_GT(told, 400u);
}

base_info every_value(std::uint32_t seed) {
  base_info b;
  std::mt19937 rng(seed);
  for (std::size_t n = 1; n < base_info_tag_size; ++n) b[n] = rng();
  b[5] = 0xFFFFFFFFu, b[6] = 0x80000000u, b[7] = 0x7FFFFFFFu, b[8] = 0, b[33] = 0;
  return b;
}
// The report as report mode writes it into a file.
std::string written_report(const base_info& b) {
  std::FILE* f = std::tmpfile();
  EXPECT_EQ(gen_info_from_bin(f, b), 0);
  std::string s(8192 * 4, '\0');
  std::rewind(f);
  s.resize(std::fread(s.data(), 1, s.size(), f));
  std::fclose(f);
  return s;
}

// The number ranges written in hexadecimal.
bool hex_number(std::size_t n) {
  return (n >= 33 && n <= 34) || (n >= 239 && n <= 250) || (n >= 334 && n <= 341) ||
         (n >= 343 && n <= 373) || (n >= 375 && n <= 406) || (n >= 408 && n <= 429) ||
         (n >= 431 && n <= 459) || n >= 461;
}

TEST(Report, FormatOfEveryLine) {
  const base_info b = every_value(1);
  const std::string text = written_report(b);
  EXPECT_EQ(text, vexdram::report_text(b));  // what vexdram prints, built without a file
  ASSERT_EQ(text.substr(0, 21), "start tag=0x12345678\n");
  ASSERT_EQ(text.substr(text.size() - 4), "end\n");
  EXPECT_EQ(text.find('\r'), std::string::npos);
  const std::vector<std::string> l = lines(text);
  ASSERT_EQ(l.size(), 485u);
  int hex = 0;
  for (std::size_t n = 1; n < base_info_tag_size; ++n) {
    char want[64];
    if (hex_number(n)) ++hex, std::snprintf(want, sizeof want, "=0x%x", b[n]);
    else std::snprintf(want, sizeof want, "=%d", static_cast<int>(b[n]));
    EXPECT_EQ(l[n], std::string(base_info_tag[n]) + want);
  }
  EXPECT_EQ(hex, 159);
  EXPECT_EQ(l[5], "ddr4_freq=-1");
  EXPECT_EQ(l[6], "lp4_freq=-2147483648");
  EXPECT_EQ(l[7], "lp4x_freq=2147483647");
  EXPECT_EQ(l[33], "pstore_base_addr=0x0");
}

// Read back as a parameter file, a report sets every parameter to its value, in state 1.
TEST(Report, ReadsBackToTheSameValues) {
  for (std::uint32_t seed : {2u, 3u}) {
    base_info b = every_value(seed);
    const read_result r = read_text(written_report(b));
    b[0] = start_tag_value;
    EXPECT_EQ(r.info.v, b.v);
    EXPECT_EQ(r.accepted, 484u);
    for (std::size_t n = 0; n < base_info_tag_size; ++n) EXPECT_EQ(r.state[n], state_given);
  }
}

// A tq6951 block whose skew record has distinct lane bytes.
struct skew_block {
  synth::ddr_spec spec;
  bytes bin;
  std::size_t word(int w) const {
    return synth::tag_pos(spec) + 4 * (spec.index.entry[skew_index].offset + w);
  }
  std::size_t lane_byte(int type, int lane) const {
    return word(2 + 9 * type + lane / 4) + 3 - lane % 4;
  }
};
skew_block make_skew(int sub_version = 1) {
  skew_block s;
  s.spec = synth::plan(5, {global_index, skew_index, ddr3_index}, 11);
  std::vector<std::uint32_t> rec(28);
  rec[0] = 0xABCDEF00u | sub_version;
  for (int t = 0; t < 3; ++t) {
    rec[1 + 9 * t] = 0xFEDCB000u | (100 + t);
    for (int w = 0; w < 8; ++w)
      for (int k = 0; k < 4; ++k)
        rec[2 + 9 * t + w] |= std::uint32_t(0x20 * (t + 1) + 4 * w + k) << (24 - 8 * k);
  }
  s.spec.words[skew_index] = rec;
  s.bin = synth::build(s.spec);
  return s;
}

TEST(Skew, LanesDecodeThroughTheMaps) {
  const skew_block s = make_skew();
  const reported r = report_of(s.bin, "tq6951");
  base_info expect = report_of(s.bin, "tq6583").info;  // no skew for other chips
  for (int t = 0; t < 3; ++t) {
    expect[num(std::string(skew_type_token(t)) + "_skew_freq_mhz")] = 100 + t;
    const std::vector<std::string> lanes = skew_lanes(t);
    for (int lane = 0; lane < 32; ++lane)
      if (!lanes[lane].empty()) expect[num(lanes[lane])] = 0x20 * (t + 1) + lane;
  }
  EXPECT_EQ(r.info.v, expect.v);
  EXPECT_EQ(r.out.find("Not support"), std::string::npos);
  // the spot values of the first DDR3 word: 0x20, 0x21, 0x22, 0x23 from the top
  EXPECT_EQ(r.info[num("ddr3_ca9_skew")], 0x20u);
  EXPECT_EQ(r.info[num("ddr3_ca1_skew")], 0x23u);
}

TEST(Skew, LanesEncodeThroughTheMaps) {
  skew_block s = make_skew();
  std::map<std::string, std::string> v;
  for (int t = 0; t < 3; ++t) {
    v[std::string(skew_type_token(t)) + "_skew_freq_mhz"] = std::to_string(0x1000 + 0x200 + t);
    const std::vector<std::string> lanes = skew_lanes(t);
    for (int lane = 0; lane < 32; ++lane)
      if (!lanes[lane].empty()) v[lanes[lane]] = std::to_string(0xA0 + lane);
  }
  v["ddr4_ca0_skew"] = "0x1FF";
  v["lp3_ca0_skew"] = "0";  // lane 15 keeps its byte
  v["ddr3_ca9_skew"] = "";  // lane 0 keeps its byte
  bytes b = s.bin;
  const std::string out = modify(b, template_with(v), "tq6951");
  EXPECT_NE(out.find("warning: ddr4_ca0_skew=511 does not fit its 8-bit field, stored as 255\n"),
            std::string::npos);
  EXPECT_NE(
      out.find("warning: ddr3_skew_freq_mhz=4608 does not fit its 12-bit field, stored as 512\n"),
      std::string::npos);
  EXPECT_NE(out.find("ddr3_skew_freq_mhz: 0x1200\n"), std::string::npos);
  EXPECT_EQ(word_at(b, s.word(0)), word_at(s.bin, s.word(0)));  // bits 8-31 kept
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(word_at(b, s.word(1 + 9 * t)), 0xFEDCB000u | (0x200 + t));
    const std::vector<std::string> lanes = skew_lanes(t);
    for (int lane = 0; lane < 32; ++lane) {
      const std::string& k = lanes[lane];
      std::uint8_t want =
          k.empty() || v[k] == "0" || v[k].empty() ? s.bin[s.lane_byte(t, lane)] : 0xA0 + lane;
      if (k == "ddr4_ca0_skew") want = 0xFF;
      EXPECT_EQ(b[s.lane_byte(t, lane)], want) << k << " lane " << lane;
    }
  }
}

// Sub-version 2: not loaded, reported as sub-version 0, skews decode 0, the section untouched.
TEST(Skew, OnlySubVersionOneIsUnderstood) {
  skew_block s = make_skew(2);
  const reported r = report_of(s.bin, "tq6951");
  EXPECT_NE(
      r.out.find(
          "tq6951 ca skew sub version 0, Not support!!!\nerror: ca skew read out error for tq6951!\n"),
      std::string::npos);
  for (std::size_t n = num("ddr3_skew_freq_mhz"); n < base_info_tag_size; ++n)
    EXPECT_EQ(r.info[n], 0u);
  std::map<std::string, std::string> v;
  for (std::size_t n = num("ddr3_skew_freq_mhz"); n < base_info_tag_size; ++n)
    v[std::string(base_info_tag[n])] = "77";
  for (const char* chip : {"tq6951", "tq6583"}) {
    for (int sub : {1, 2}) {
      if (sub == 1 && std::string(chip) == "tq6951") continue;
      skew_block k = make_skew(sub);
      bytes b = k.bin;
      modify(b, template_with(v), chip);
      EXPECT_TRUE(
          std::equal(b.begin() + k.word(0), b.begin() + k.word(28), k.bin.begin() + k.word(0)))
          << chip << " sub-version " << sub;
    }
  }
}

// A key finds its own parameter, exactly as spelled: case, spaces and a key's prefix or extension
// find none (a prefix of one key is often another key: "lp4_freq" and "lp4x_freq").
TEST(Catalogue, FindKeyIsExact) {
  for (std::size_t n = 0; n < base_info_tag_size; ++n) {
    const std::string key(base_info_tag[n]);
    EXPECT_EQ(find_key(key), std::optional<param>(static_cast<param>(n))) << key;
    for (const std::string& miss :
         {key + " ", " " + key, key.substr(0, key.size() - 1), key + "_",
          std::string(1, static_cast<char>(key[0] ^ 0x20)) + key.substr(1)})
      if (!std::count(base_info_tag.begin(), base_info_tag.end(), miss)) {
        EXPECT_EQ(find_key(miss), std::nullopt) << miss;
      }
  }
}

}  // namespace
}  // namespace tt
