// The block layouts, walked field by field through the whole read and write path of the core.
#include <gtest/gtest.h>

#include "tests/tool/support.h"

namespace tt {
namespace {

// Every parameter but the start tag and the skew parameters (which the skew section maps) has
// exactly one field in the tables of version 5, where every section has its full record.
TEST(Layout, TablesPlaceEachParameterOnce) {
  std::vector<int> uses(base_info_tag_size, 0);
  for (index_entry e : image_sections())
    for (const sfield& f : fields_of(e, 5)) ++uses[num(f.key)];
  for (std::size_t n = 0; n < base_info_tag_size; ++n)
    EXPECT_EQ(uses[n], n != p::start_tag && n < p::ddr3_skew_freq_mhz ? 1 : 0) << base_info_tag[n];
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

// Reserved bits are exactly the bits no field claims, less those not carried (LPDDR4/4X/5 word 5
// bit 30): an all-ones block written with every parameter 0 keeps exactly them.
TEST_P(FieldWalk, ReservedBitsAreTheUnclaimedOnes) {
  const auto [version, entry] = GetParam();
  const std::vector<std::uint32_t> reserved = reserved_of(entry, version);
  synth::ddr_spec s;
  const bytes ones = block_of(version, 0xFFFFFFFFu, &s);
  bytes b = ones;
  modify(b, "start tag=0x12345678\n");
  for (std::size_t w = 0; w < reserved.size(); ++w)
    EXPECT_EQ(word_at(b, word_pos(s, entry, w)), reserved[w]) << "word " << w;
  // The same reserved bits survive when every parameter of their word changes to all ones.
  std::string text = "start tag=0x12345678\n";
  for (const sfield& f : fields_of(entry, version))
    text += f.key + "=" + std::to_string(f.max()) + "\n";
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
