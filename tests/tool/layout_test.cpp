// The catalogue and the block layouts, walked field by field through the whole read and write
// path of the core.
#include <gtest/gtest.h>

#include <set>

#include "support.h"

namespace tt {
namespace {

TEST(Catalogue, NumbersAndKeys) {
  ASSERT_EQ(base_info_tag_size, 484u);
  const std::map<std::size_t, std::string> spot = {
      {0, "start tag"}, {9, "uart id"}, {10, "uart iomux"}, {11, "uart baudrate"},
      {14, "first scan channel"}, {15, "channel mask"}, {16, "stride type"}, {43, "boot_fsp"},
      {44, "ddr2_f1_freq_mhz"}, {57, "phy_ddr2_odt_ohm"}, {58, "ddr2_odt_ohm"},
      {75, "ddr3_f1_freq_mhz"}, {198, "lp3_ca_vref_when_odtoff"}, {214, "lp4_ca_odt_ohm"},
      {239, "ddr2_bytes_map"}, {250, "ddr4_cs1_dq16_dq31_map"}, {282, "lp4x_odte_ck"},
      {319, "lp5_ca_odten_freq_mhz"}, {320, "lp5_wck_odt_en_freq"}, {321, "lp5_wck_odt"},
      {322, "phy_lp5_cs_drv_odten"}, {326, "lp5_odtd_ca_en"}, {327, "lp5_nt_odt"},
      {328, "phy_lp5_dq_vref_when_odten"}, {333, "lp5_ca_vref_when_odtoff"}, {334, "ch_mask0"},
      {341, "rank_mask1"}, {342, "ddr3_skew_freq_mhz"}, {343, "ddr3_ca0_skew"},
      {373, "ddr3_resetn_skew"}, {374, "ddr4_skew_freq_mhz"}, {406, "ddr4_actn_skew"},
      {407, "lp3_skew_freq_mhz"}, {429, "lp3_cs3_skew"}, {430, "lp4_skew_freq_mhz"},
      {444, "lp4_cs1_a_skew"}, {445, "lp4_ca0_b_skew"}, {459, "lp4_resetn_skew"},
      {460, "lp5_skew_freq_mhz"}, {461, "lp5_ca0_a_skew"}, {483, "lp5_resetn_skew"}};
  for (const auto& [n, key] : spot) EXPECT_EQ(base_info_tag[n], key) << n;
  // A key inside another key comes after it: 46 such pairs.
  int nested = 0;
  for (std::size_t i = 0; i < base_info_tag_size; ++i)
    for (std::size_t j = 0; j < base_info_tag_size; ++j)
      if (i != j && base_info_tag[j].find(base_info_tag[i]) != std::string_view::npos) {
        ++nested;
        EXPECT_GT(i, j) << base_info_tag[i] << " in " << base_info_tag[j];
      }
  EXPECT_EQ(nested, 46);
}

// Every parameter belongs to at most one field of the tables, and the tables name real keys.
TEST(Layout, TablesCoverEachParameterOnce) {
  std::map<std::size_t, int> uses;
  for (index_entry e : image_sections())
    for (const sfield& f : fields_of(e, 5)) ++uses[num(f.key)];
  for (const auto& [n, count] : uses) EXPECT_EQ(count, 1) << base_info_tag[n];
  EXPECT_EQ(uses.size(), 35u + 5 * 32 + 41 + 41 + 44 + 12 + 8);
}

struct walk_case {
  std::uint32_t version;
  index_entry entry;
};
std::string walk_name(const testing::TestParamInfo<walk_case>& i) {
  return "v" + std::to_string(i.param.version) + "_entry" + std::to_string(i.param.entry);
}

// A binary holding every section with all section words set to fill (the rest random).
bytes block_of(std::uint32_t version, std::uint32_t fill, synth::ddr_spec* out = nullptr) {
  synth::ddr_spec s;
  if (version <= 1) {
    s.version = version;
    s.v1_record.assign(10, fill);
  } else {
    std::vector<index_entry> all = image_sections();
    std::reverse(all.begin(), all.end());  // file order differs from image order
    s = synth::plan(version, all, 7 + version);
    for (index_entry e : all) s.words[e].assign(room_of(e, version), fill);
  }
  if (out) *out = s;
  return synth::build(s);
}
std::size_t word_pos(const synth::ddr_spec& s, index_entry e, int w) {
  const std::size_t first = s.version <= 1 ? 3 : s.index.entry[e].offset;
  return synth::tag_pos(s) + 4 * (first + w);
}

class FieldWalk : public testing::TestWithParam<walk_case> {};

// One field all ones in an all-zero block: decoding gives exactly that parameter its full width;
// writing that value alone back into the all-zero block sets exactly the field's bits.
TEST_P(FieldWalk, EachFieldAlone) {
  const auto [version, entry] = GetParam();
  synth::ddr_spec s;
  const bytes zero = block_of(version, 0, &s);
  ASSERT_EQ(report_of(zero).info.v, base_info{}.v);
  for (const sfield& f : fields_of(entry, version)) {
    SCOPED_TRACE(f.key);
    bytes one = zero;
    set_word(one, word_pos(s, entry, f.word), f.mask());
    base_info expect;
    if (f.decoded) expect[num(f.key)] = f.max();
    EXPECT_EQ(report_of(one).info.v, expect.v);

    bytes written = zero;
    modify(written, "start tag=0x12345678\n" + f.key + "=" + std::to_string(f.max()) + "\n");
    EXPECT_TRUE(written == one);
  }
}

// Reserved bits are exactly the bits no field claims (LPDDR4/4X/5 word 5 bit 30 is not
// carried): an all-ones block written with every parameter 0 keeps exactly the reserved list.
TEST_P(FieldWalk, ReservedBitsAreTheUnclaimedOnes) {
  const auto [version, entry] = GetParam();
  const std::vector<std::uint32_t> reserved = reserved_of(entry, version);
  std::vector<std::uint32_t> claimed(reserved.size(), 0);
  for (const sfield& f : fields_of(entry, version)) claimed[f.word] |= f.mask();
  for (std::size_t w = 0; w < reserved.size() && version > 1; ++w) {
    const std::uint32_t not_carried = (entry == lp4_index || entry == lp4x_index || entry == lp5_index) && w == 5
                                          ? 1u << 30 : 0;
    EXPECT_EQ(reserved[w], ~claimed[w] & ~not_carried) << "word " << w;
  }
  synth::ddr_spec s;
  const bytes ones = block_of(version, 0xFFFFFFFFu, &s);
  bytes b = ones;
  modify(b, "start tag=0x12345678\n");
  for (std::size_t w = 0; w < reserved.size(); ++w)
    EXPECT_EQ(word_at(b, word_pos(s, entry, w)), reserved[w]) << "word " << w;
  // The same reserved bits survive when every parameter of their word changes to all ones.
  std::string text = "start tag=0x12345678\n";
  for (const sfield& f : fields_of(entry, version)) text += f.key + "=" + std::to_string(f.max()) + "\n";
  bytes back = b;
  modify(back, text);
  for (std::size_t w = 0; w < reserved.size(); ++w) {
    std::uint32_t fields = 0;
    for (const sfield& f : fields_of(entry, version))
      if (f.word == static_cast<int>(w)) fields |= f.mask();
    EXPECT_EQ(word_at(back, word_pos(s, entry, w)), reserved[w] | fields) << "word " << w;
  }
}

std::vector<walk_case> walk_cases() {
  std::vector<walk_case> c{{0, global_index}, {1, global_index}};
  for (std::uint32_t v : {2u, 5u})
    for (index_entry e : image_sections()) c.push_back({v, e});
  return c;
}
INSTANTIATE_TEST_SUITE_P(Sections, FieldWalk, testing::ValuesIn(walk_cases()), walk_name);

}  // namespace
}  // namespace tt
