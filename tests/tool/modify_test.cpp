// Modify mode in the core: merge, echo, warnings, round trips, a model of every written byte
// over many generated binaries, write order and failures, and the read failures of a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "tests/tool/support.h"

namespace tt {
namespace {

TEST(Modify, MergeEchoAndWarnings) {
  synth::ddr_spec s = synth::plan(2, {global_index, ddr3_index}, 4);
  s.index.entry[ddr3_index].size = 6;  // words 6-8 of the record are not in the file's section
  const bytes orig = synth::build(s);
  const base_info before = report_of(orig).info;
  bytes b = orig;
  const std::string out =
      modify(b,
             "start tag=0x12345678\nddr3_freq=\nddr3_f1_freq_mhz=10\nuart id=17\n"
             "ddr3_odt_ohm=300\nphy_ddr3_odten_freq_mhz=5000\nddr4_freq=5000\n"
             "ddr3_ca0_skew=0x1FF\nddr3_skew_freq_mhz=300\n");
  std::string want = "version 2\n\nnew bin config:\n";
  const std::map<std::string, std::uint32_t> given = {
      {"ddr3_f1_freq_mhz", 10},          {"uart id", 17},     {"ddr3_odt_ohm", 300},
      {"phy_ddr3_odten_freq_mhz", 5000}, {"ddr4_freq", 5000}, {"ddr3_ca0_skew", 0x1FF},
      {"ddr3_skew_freq_mhz", 300}};
  for (std::size_t n = 1; n < base_info_tag_size; ++n) {
    const std::string k(base_info_tag[n]);
    if (k == "ddr3_freq") continue;
    const std::uint32_t v = given.count(k) ? given.at(k) : 0;
    char line[128];
    std::snprintf(line, sizeof line,
                  k.find("_skew") != std::string::npos ? "%s: 0x%x\n" : "%s: %u\n", k.c_str(), v);
    want += line;
  }
  // only values that reach a written word of a present section are checked
  EXPECT_EQ(out, want +
                     "warning: uart id=17 does not fit its 4-bit field, stored as 1\n"
                     "warning: ddr3_odt_ohm=300 does not fit its 8-bit field, stored as 44\n"
                     "modify end\n");
  const base_info after = report_of(b).info;
  EXPECT_EQ(after[num("ddr3_freq")], before[num("ddr3_freq")]);
  EXPECT_EQ(after[num("ddr3_f1_freq_mhz")], 10u);
  EXPECT_EQ(after[num("uart id")], 1u);
  EXPECT_EQ(after[num("ddr3_odt_ohm")], 44u);
  EXPECT_EQ(after[num("pd_idle")], 0u);
}

TEST(Modify, RefusedParameterFiles) {
  const bytes orig = synth::build(synth::plan(3, {global_index}, 1));
  const std::pair<std::string, std::string> cases[] = {
      {"", "read param file fail\n"},
      {"end\n/* ddr3_freq=1\n", "read param file fail\n"},
      {"ddr3_freq=5\n", "no start tag in param file\n"},
      {"start tag=\nddr3_freq=5\n", "no start tag in param file\n"},
      {"start tag\nddr3_freq=5\n", "start tag have no '=' value!!!\nno start tag in param file\n"}};
  for (const auto& [text, msg] : cases) {
    bytes b = orig;
    EXPECT_EQ(modify(b, text), msg) << text;
    EXPECT_TRUE(b == orig);
  }
}

// A full block of a version: every section (tq6951 skew record included) or the version-1 record.
synth::ddr_spec full_spec(std::uint32_t version, std::uint64_t seed) {
  synth::ddr_spec s;
  if (version <= 1) {
    s.version = version;
    s.seed = seed;
    return s;
  }
  std::vector<index_entry> all = synth::all_sections();
  std::shuffle(all.begin(), all.end(), std::mt19937(seed));
  s = synth::plan(version, all, seed);
  s.skew_sub_version = 1;
  return s;
}

class RoundTrip : public testing::TestWithParam<std::uint32_t> {};

// The report, or a blank template, used as the parameter file changes nothing but LPDDR4/4X/5
// word 5 bit 30; in the version-1 record, the bits it does not decode, and words 7-9.
TEST_P(RoundTrip, ReportAndBlankTemplateKeepTheBinary) {
  const std::uint32_t version = GetParam();
  for (std::uint64_t seed = 1; seed <= 3; ++seed) {
    const synth::ddr_spec s = full_spec(version, seed);
    const bytes orig = synth::build(s);
    bytes want = orig;
    const std::size_t P = synth::tag_pos(s);
    if (version <= 1) {
      set_word(want, P + 36, word_at(orig, P + 36) & 0x6407FFFFu);
      for (int w = 10; w < 13; ++w) set_word(want, P + 4 * w, 0);
    }
    for (index_entry e : {lp4_index, lp4x_index, lp5_index})
      if (version > 1) {
        const std::size_t pos = P + 4 * (s.index.entry[e].offset + 5);
        set_word(want, pos, word_at(orig, pos) & ~(1u << 30));
      }
    const reported r = report_of(orig, "tq6951");
    for (const std::string& text : {r.report, template_with({})}) {
      bytes b = orig;
      const std::string out = modify(b, text, "tq6951");
      EXPECT_EQ(out.find("warning"), std::string::npos);
      EXPECT_TRUE(b == want) << "seed " << seed;
      EXPECT_EQ(report_of(b, "tq6951").info.v, r.info.v);
    }
  }
}
INSTANTIATE_TEST_SUITE_P(Versions, RoundTrip, testing::Range(0u, 6u));

// Over many generated binaries: every byte of the file after modify mode is what the block
// format says (reserved bits from the file, fields from the merged values, skew lanes kept for 0,
// nothing outside the present sections), and the values read back modulo their field widths.
TEST(ModifyProperty, EveryByteFollowsTheFormat) {
  for (std::uint32_t seed = 0; seed < 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::uint32_t version = rng() % 6;
    const std::string chip = rng() % 2 ? "tq6951" : "tq6583";
    const bool older = rng() % 2;
    synth::ddr_spec s;
    if (version <= 1) {
      s.version = version;
      s.v1_record.resize(10);
      for (auto& w : s.v1_record) w = rng();
    } else {
      std::vector<index_entry> chosen;
      for (index_entry e : synth::all_sections())
        if (rng() % 10 < 6) chosen.push_back(e);
      std::shuffle(chosen.begin(), chosen.end(), rng);
      s = synth::plan(version, chosen, seed);
      for (index_entry e : chosen) {
        std::uint8_t& size = s.index.entry[e].size;
        const int r = rng() % 10, room = size;
        if (r < 3) size = 1 + rng() % room;
        else if (r < 5) size = room + 1 + rng() % 30;
        if ((e == lp4x_index || e == hash_index) && rng() % 4 == 0) size = 227 + rng() % 29;
      }
      if (s.index.entry[skew_index].offset) s.skew_sub_version = rng() % 4 ? 1 : rng() % 256;
    }
    s.seed = seed;
    s.lead = 4 * (rng() % 40);
    s.tail = rng() % 24;
    bytes orig = synth::build(s);
    const std::size_t P = s.lead;
    if (version <= 1) orig.resize(std::min(orig.size(), P + 40 + rng() % 20));  // cuts words 10-12

    enum { blank, absent, given };
    std::vector<int> kind(base_info_tag_size);
    std::vector<std::uint32_t> val(base_info_tag_size);
    std::string text = "start tag=0x12345678\n";
    for (std::size_t n = 1; n < base_info_tag_size; ++n) {
      const int r = rng() % 20;
      kind[n] = r < 6 ? blank : r < 8 ? absent : given;
      val[n] = r < 10 ? 0 : r < 14 ? rng() : rng() % 300;
      if (kind[n] != absent)
        text += std::string(base_info_tag[n]) + "=" +
                (kind[n] == blank ? "" : std::to_string(val[n])) + "\n";
    }
    const reported pre = report_of(orig, chip);
    ASSERT_NE(pre.out.find("generate info from bin file ok."), std::string::npos) << pre.out;
    const base_info& before = pre.info;
    auto merged = [&](std::size_t n) {
      return kind[n] == blank ? before[n] : kind[n] == absent ? 0u : val[n];
    };

    bytes want = orig;
    base_info expect = before;
    std::multiset<std::string> warnings;
    auto put = [&](std::size_t pos, std::uint32_t w) {
      for (int i = 0; i < 4; ++i)
        if (pos + i < want.size()) want[pos + i] = static_cast<std::uint8_t>(w >> (8 * i));
    };
    auto store = [&](std::size_t n, std::uint32_t max, int width, bool decoded) {
      if (kind[n] == given && val[n] > max)
        warnings.insert("warning: " + std::string(base_info_tag[n]) + "=" + std::to_string(val[n]) +
                        " does not fit its " + std::to_string(width) + "-bit field, stored as " +
                        std::to_string(val[n] & max));
      if (decoded) expect[n] = merged(n) & max;
      return (merged(n) & max);
    };
    if (version <= 1) {
      const int first = older ? 3 : 0;
      for (int w = first; w < 10; ++w) {
        std::uint32_t word = 0;
        for (const sfield& f : fields_of(global_index, version))
          if (f.word == w) word |= store(num(f.key), f.max(), f.width, f.decoded) << f.lo;
        put(P + 12 + 4 * w, word);
      }
    } else {
      for (index_entry e : image_sections()) {
        const index_info ix = s.index.entry[e];
        if (ix.offset == 0 || ((e == lp4x_index || e == hash_index) && ix.size > 226)) continue;
        const std::vector<std::uint32_t> reserved = reserved_of(e, version);
        const std::size_t words = std::min<std::size_t>(ix.size, room_of(e, version));
        for (std::size_t w = 0; w < words; ++w) {
          const std::size_t pos = P + 4 * (ix.offset + w);
          std::uint32_t word = word_at(orig, pos) & reserved[w];
          for (const sfield& f : fields_of(e, version))
            if (f.word == static_cast<int>(w))
              word |= store(num(f.key), f.max(), f.width, true) << f.lo;
          put(pos, word);
        }
      }
      const index_info sk = s.index.entry[skew_index];
      if (sk.offset && chip == "tq6951" && orig[P + 4 * sk.offset] == 1) {
        const std::size_t words = std::min<std::size_t>(sk.size, 28), base = P + 4 * sk.offset;
        for (int t = 0; t < 3; ++t) {
          if (1u + 9 * t < words) {
            const std::size_t pos = base + 4 * (1 + 9 * t);
            put(pos, (word_at(orig, pos) & 0xFFFFF000u) |
                         store(num(std::string(skew_type_token(t)) + "_skew_freq_mhz"), 0xFFF, 12,
                               true));
          }
          const std::vector<std::string> lanes = skew_lanes(t);
          for (int lane = 0; lane < 32; ++lane) {
            const std::size_t w = 2 + 9 * t + lane / 4;
            if (lanes[lane].empty() || w >= words || merged(num(lanes[lane])) == 0) continue;
            want[base + 4 * w + 3 - lane % 4] = store(num(lanes[lane]), 0xFF, 8, true);
          }
        }
      }
    }

    bytes b = orig;
    const std::string out = modify(b, text, chip, older);
    ASSERT_EQ(b.size(), orig.size());
    std::size_t bad = 0;
    for (std::size_t i = 0; i < b.size() && bad < 5; ++i)
      if (b[i] != want[i])
        ++bad, ADD_FAILURE() << "byte " << i - P << " from the tag: " << int(b[i]) << " want "
                             << int(want[i]);
    const base_info after = report_of(b, chip).info;
    for (std::size_t n = 1; n < base_info_tag_size; ++n)
      EXPECT_EQ(after[n], expect[n]) << base_info_tag[n];
    std::multiset<std::string> printed;
    for (const std::string& l : lines(out))
      if (l.rfind("warning", 0) == 0) printed.insert(l);
    EXPECT_EQ(printed, warnings);
    EXPECT_EQ(out.substr(out.size() - 11), "modify end\n");
  }
}

// A DDR binary whose writes at one position fail; records every write's position. Its sync
// gives sync_ok and calls on_sync first.
class failing_file final : public ddr_file {
 public:
  failing_file(bytes& b, std::uint64_t fail_at) : inner_(b), fail_at_(fail_at) {}
  std::size_t read_at(std::uint64_t pos, void* buf, std::size_t n) override {
    return inner_.read_at(pos, buf, n);
  }
  std::size_t write_at(std::uint64_t pos, const void* buf, std::size_t n) override {
    writes.push_back(pos);
    return pos == fail_at_ ? n - 1 : inner_.write_at(pos, buf, n);
  }
  std::uint64_t size() const override { return inner_.size(); }
  bool sync() override {
    if (on_sync) on_sync();
    return sync_ok;
  }
  std::vector<std::uint64_t> writes;
  bool sync_ok = true;
  std::function<void()> on_sync;

 private:
  memory_ddr_file inner_;
  std::uint64_t fail_at_;
};

const std::vector<std::pair<index_entry, const char*>> write_order = {
    {global_index, "write global info to bin file fail"},
    {ddr2_index, "write ddr2 info to bin file fail"},
    {ddr3_index, "write ddr3 info to bin file fail"},
    {ddr4_index, "write ddr4 info to bin file fail"},
    {lp2_index, "write lpddr2 info to bin file fail"},
    {lp3_index, "write lpddr3 info to bin file fail"},
    {lp4_index, "write bin lpddr4 info to file fail"},
    {dq_map_index, "write dq map to bin file fail"},
    {lp4x_index, "write bin lpddr4x info to file fail"},
    {lp5_index, "write bin lpddr5 info to file fail"},
    {skew_index, "write bin skew info to file fail"},
    {hash_index, "write bin hash info to file fail"}};

class WriteFailure : public testing::TestWithParam<int> {};

// The sections are written in their order whatever their file order; a failed write prints its
// message and stops the writing, except for the DQ map.
TEST_P(WriteFailure, StopsAtTheFailedSection) {
  const synth::ddr_spec s = full_spec(5, 9);
  const int failing = GetParam();
  auto pos_of = [&](index_entry e) { return synth::tag_pos(s) + 4 * s.index.entry[e].offset; };
  bytes b = synth::build(s);
  failing_file f(b, failing < 0 ? 0 : pos_of(write_order[failing].first));
  const std::string out = modify(f, template_with({}), "tq6951");
  std::vector<std::uint64_t> want;
  for (int i = 0; i < static_cast<int>(write_order.size()); ++i) {
    want.push_back(pos_of(write_order[i].first));
    if (i == failing && write_order[i].first != dq_map_index) break;
  }
  EXPECT_EQ(f.writes, want);
  const std::string tail = failing < 0 ? "" : std::string(write_order[failing].second) + "\n";
  EXPECT_EQ(out.substr(out.size() - tail.size() - 11), tail + "modify end\n");
}
INSTANTIATE_TEST_SUITE_P(Sections, WriteFailure, testing::Range(-1, 12));

// The binary is synced once, after its last write and before "modify end"; a failed sync is a
// failed write: "write bin file fail" instead of "modify end".
TEST(WriteFailure, SyncBeforeModifyEnd) {
  for (const std::uint32_t version : {1u, 5u})
    for (const bool sync_ok : {true, false}) {
      bytes b = synth::build(full_spec(version, 7));
      failing_file f(b, 0);
      f.sync_ok = sync_ok;
      run_context ctx;
      ctx.chip_info = "tq6951";
      capture out;
      ctx.out = out.f;
      std::size_t syncs = 0, writes_at_sync = 0;
      f.on_sync = [&] {
        ++syncs;
        writes_at_sync = f.writes.size();
        std::fputs("<sync>", ctx.out);
      };
      const std::string text = template_with({{"ddr3_freq", "933"}});
      memory_text_source src(text.data(), text.size());
      run_modify(ctx, src, f);
      const std::string printed = out.done();
      EXPECT_EQ(syncs, 1u);
      EXPECT_GT(writes_at_sync, 0u);
      EXPECT_EQ(writes_at_sync, f.writes.size());
      const std::string tail = sync_ok ? "<sync>modify end\n" : "<sync>write bin file fail\n";
      ASSERT_GE(printed.size(), tail.size());
      EXPECT_EQ(printed.substr(printed.size() - tail.size()), tail) << version;
    }
}

TEST(WriteFailure, DdrFiveEntryIsSkipped) {
  synth::ddr_spec s = synth::plan(4, {global_index, ddr5_index, hash_index}, 2);
  bytes b = synth::build(s);
  memory_ddr_file f(b);
  run_context ctx;
  ctx.version = 4;
  block_image img{};
  EXPECT_TRUE(write_sections(ctx, f, synth::tag_pos(s) + 4, img, s.index).ok());
  EXPECT_EQ(f.writes(), 2u);
}

// Runs that end before decoding: their one message, nothing written, no report line.
struct read_case {
  const char* name;
  std::function<bytes()> make;
  const char* chip;
  const char* last;
};
synth::ddr_spec last_section(index_entry e, std::uint32_t version = 5) {
  synth::ddr_spec s = synth::plan(version, {global_index, e}, 5);
  s.tail = 0;
  if (e == skew_index) s.skew_sub_version = 1;
  return s;
}
bytes cut(const synth::ddr_spec& s, std::size_t drop) {
  bytes b = synth::build(s);
  b.resize(b.size() - drop);
  return b;
}
class ReadFailure : public testing::TestWithParam<read_case> {};
TEST_P(ReadFailure, EndsWithItsMessage) {
  const bytes bin = GetParam().make();
  for (bool report : {true, false}) {
    std::string out;
    if (report) {
      out = report_of(bin, GetParam().chip).out;
    } else {
      bytes b = bin;
      out = modify(b, template_with({{"ddr3_freq", "5"}}), GetParam().chip);
      EXPECT_TRUE(b == bin);
    }
    const std::string last = std::string(GetParam().last) + "\n";
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last) << out;
  }
}
std::vector<read_case> read_cases() {
  std::vector<read_case> c;
  const std::pair<index_entry, const char*> sections[] = {
      {global_index, "read global info from bin file fail"},
      {ddr2_index, "read ddr2 info from bin file fail"},
      {ddr3_index, "read ddr3 info from bin file fail"},
      {ddr4_index, "read ddr4 info from bin file fail"},
      {lp2_index, "read lp2 info from bin file fail"},
      {lp3_index, "read lp3 info from bin file fail"},
      {lp4_index, "read lp4 info from bin file fail"},
      {lp5_index, "read lpddr5 info from bin file fail"},
      {dq_map_index, "read dq map info from bin file fail"},
      {lp4x_index, "read lp4x info from bin file fail"},
      {hash_index, "read ddr hash info from bin file fail"}};
  for (const auto& [e, msg] : sections) {
    c.push_back({msg, [e = e] { return cut(last_section(e), 4); }, "tq6583", msg});
    c.push_back({msg,
                 [e = e] {  // a size of 0 fails too
                   synth::ddr_spec s = last_section(e);
                   s.index.entry[e].size = 0;
                   return synth::build(s);
                 },
                 "tq6583", msg});
  }
  const std::size_t skew = 4 * 28;
  c.push_back({"skew version", [=] { return cut(last_section(skew_index), skew); }, "tq6583",
               "read skew verison from bin file fail"});
  c.push_back({"skew record", [=] { return cut(last_section(skew_index), skew - 4); }, "tq6951",
               "read tq6951_skew from bin file fail"});
  c.push_back({"ddr5",
               [] {
                 return synth::build(synth::plan(5, {global_index, ddr5_index, ddr3_index}, 3));
               },
               "tq6583", "not support ddr5"});
  c.push_back({"no tag", [] { return bytes(400, 0x11); }, "tq6583", "get version fail"});
  c.push_back({"unaligned tag",
               [] {
                 synth::ddr_spec s = synth::plan(5, {global_index}, 1);
                 s.lead = 66;
                 return synth::build(s);
               },
               "tq6583", "get version fail"});
  c.push_back({"unaligned tag in a small file",
               [] {
                 bytes b(40, 0);
                 set_word(b, 2, start_tag_value);
                 set_word(b, 6, 5);
                 return b;
               },
               "tq6583", "get version fail"});
  c.push_back({"tag at the end", [] { return cut(synth::plan(5, {}, 1), 32 + 4 * 8); }, "tq6583",
               "get version fail"});
  for (std::uint32_t v : {6u, 0xFFFFFFFFu})
    c.push_back({"version",
                 [v] {
                   synth::ddr_spec s = synth::plan(v, {}, 1);
                   return synth::build(s);
                 },
                 "tq6583",
                 v == 6 ? "version 6\nversion not support" : "version -1\nversion not support"});
  c.push_back({"short index",
               [] {
                 synth::ddr_spec s = synth::plan(3, {}, 1);
                 s.tail = 0;
                 return cut(s, 1);
               },
               "tq6583", "version 3\nreadout index fail"});
  c.push_back({"short v1 record",
               [] {
                 synth::ddr_spec s;
                 s.version = 1;
                 return cut(s, 4 * 3 + 32 + 1);
               },
               "tq6583", "read bin file fail"});
  return c;
}
INSTANTIATE_TEST_SUITE_P(Cases, ReadFailure, testing::ValuesIn(read_cases()),
                         [](const testing::TestParamInfo<read_case>& i) {
                           return "c" + std::to_string(i.index);
                         });

// Sections are read in a fixed order; the first one past the end of the file names the failure.
// LPDDR4X and hash entries above 226 words are absent and never read.
TEST(Read, OrderOfReading) {
  const std::pair<index_entry, const char*> order[] = {
      {global_index, "read global info from bin file fail"},
      {ddr2_index, "read ddr2 info from bin file fail"},
      {ddr3_index, "read ddr3 info from bin file fail"},
      {ddr4_index, "read ddr4 info from bin file fail"},
      {ddr5_index, "not support ddr5"},
      {lp2_index, "read lp2 info from bin file fail"},
      {lp3_index, "read lp3 info from bin file fail"},
      {lp4_index, "read lp4 info from bin file fail"},
      {lp5_index, "read lpddr5 info from bin file fail"},
      {skew_index, "read skew verison from bin file fail"},
      {dq_map_index, "read dq map info from bin file fail"},
      {lp4x_index, "read lp4x info from bin file fail"},
      {hash_index, "read ddr hash info from bin file fail"}};
  for (std::size_t k = 0; k <= std::size(order); ++k) {
    synth::ddr_spec s = synth::plan(4, {}, 1);
    for (std::size_t i = k; i < std::size(order); ++i) s.index.entry[order[i].first] = {200, 8};
    s.index.entry[lp4x_index].size = k >= 12 ? 227 : 8;
    s.index.entry[hash_index].size = k >= 12 ? 255 : 8;
    bytes b = synth::build(s);
    b.resize(synth::tag_pos(s) + 4 * 9);  // the index is the end of the file
    const std::string out = report_of(b, "tq6951").out;
    EXPECT_EQ(out, "version 4\n" + (k < 12 ? std::string(order[k].second) + "\n"
                                           : "generate info from bin file ok.\n"));
  }
}

// The tag is found at any position that is a multiple of 4, the first one wins.
TEST(Read, TagAtAnyAlignedPosition) {
  for (std::size_t lead : {0, 4, 60, 64, 124, 131068, 131072, 131076, 262152}) {
    synth::ddr_spec s = synth::plan(5, {global_index}, lead);
    s.lead = lead;
    s.words[global_index] = {0x12345678, 1, 2, 3, 4, 5, 6, 7};
    bytes b = synth::build(s);
    const reported r = report_of(b);
    EXPECT_EQ(r.out, "version 5\ngenerate info from bin file ok.\n") << lead;
    EXPECT_EQ(r.info[num("pd_idle")], 1u) << lead;
    if (lead < 8) continue;
    set_word(b, lead - 8, start_tag_value);
    set_word(b, lead - 4, 7);
    EXPECT_EQ(report_of(b).out, "version 7\nversion not support\n") << lead;
  }
}

// Version 0 is version 1.
TEST(Read, VersionZeroIsVersionOne) {
  synth::ddr_spec s;
  s.version = 1;
  const bytes one = synth::build(s);
  s.version = 0;
  const reported zero = report_of(synth::build(s));
  EXPECT_EQ(zero.info.v, report_of(one).info.v);
  EXPECT_EQ(zero.out, "version 0\ngenerate info from bin file ok.\n");
}

}  // namespace
}  // namespace tt
