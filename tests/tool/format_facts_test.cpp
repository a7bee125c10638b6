// Facts of the block format written out by hand from its description (word, lowest bit, width of
// a few parameters in every section of every version), checked on binaries laid out here byte by
// byte. Nothing below comes from the core's layout tables, so a wrong row in them fails here even
// when every walk of the tables agrees with itself.
#include <gtest/gtest.h>

#include "tests/tool/support.h"

namespace tt {
namespace {

// Index entries, as the format numbers them.
enum : int {
  global = 1,
  ddr2 = 2,
  ddr3 = 3,
  ddr4 = 4,
  lp2 = 6,
  lp3 = 7,
  lp4 = 8,
  lp5 = 9,
  skew = 10,
  dq_map = 11,
  lp4x = 12,
  hash = 13,
  record = -1
};

struct fact {
  int entry;  // record: the version-1 record, which has no index
  int word, lo, width;
  const char* key;
  int versions = 0;  // 0: every version the entry has; 5: version 5 only
};

// clang-format off
const fact facts[] = {
  {global, 0,  0, 24, "uart baudrate"},      {global, 0, 24, 4, "uart iomux"},
  {global, 0, 28,  4, "uart id"},            {global, 1, 16, 16, "sr_idle"},
  {global, 2, 24,  4, "channel mask"},       {global, 2, 16, 8, "stride type"},
  {global, 3,  9,  8, "ssmod_div"},          {global, 3, 29, 2, "ext_temp_ref"},
  {global, 4, 16, 16, "pstore_base_addr"},   {global, 5, 5, 4, "first_init_dram_type"},
  {ddr2, 0, 0, 12, "ddr2_freq"},             {ddr2, 1, 12, 12, "ddr2_f3_freq_mhz"},
  {ddr2, 10, 20, 10, "ddr2_ca_vref_when_odtoff", 5},
  {ddr3, 5, 0, 8, "ddr3_odt_ohm"},           {ddr3, 5, 8, 10, "phy_ddr3_odt_ohm"},
  {ddr3, 6, 0, 12, "ddr3_odten_freq_mhz"},   {ddr3, 6, 12, 12, "phy_ddr3_odten_freq_mhz"},
  {ddr3, 9, 10, 10, "ddr3_dq_vref_when_odten", 5},
  {ddr4, 3, 24, 8, "ddr4_dq_drv_when_odten_ohm"}, {ddr4, 5, 19, 1, "phy_ddr4_odt_pull_dn_en"},
  {lp2, 2, 12, 12, "lp2_f5_freq_mhz"},       {lp2, 8, 16, 8, "phy_lp2_clk_sr_when_odtoff"},
  {lp3, 4, 0, 8, "phy_lp3_dq_drv_when_odtoff_ohm"},
  {lp3, 10, 0, 10, "phy_lp3_dq_vref_when_odtoff", 5},
  {lp4, 0, 0, 12, "lp4_freq"},               {lp4, 5, 18, 8, "lp4_ca_odt_ohm"},
  {lp4, 5, 8, 10, "phy_lp4_odt_ohm"},
  {lp4, 5, 29, 1, "phy_lp4_drv_pull_dn_en_odtoff"}, {lp4, 6, 0, 12, "lp4_dq_odten_freq_mhz"},
  {lp4, 10, 18, 1, "lp4_odtd_ca_en"},        {lp4, 12, 20, 10, "lp4_ca_vref_when_odtoff"},
  {lp4x, 0, 12, 12, "lp4x_f1_freq_mhz"},     {lp4x, 11, 0, 10, "phy_lp4x_dq_vref_when_odten"},
  {lp5, 9, 12, 12, "lp5_wck_odt_en_freq"},   {lp5, 9, 24, 8, "lp5_wck_odt"},
  {lp5, 10, 24, 8, "lp5_nt_odt"},            {lp5, 10, 8, 8, "phy_lp5_cs_drv_odtoff"},
  {dq_map, 0, 24, 8, "ddr3_bytes_map"},      {dq_map, 1, 24, 8, "lp4_bytes_map"},
  {dq_map, 2, 0, 32, "lp3_dq0_7_map"},       {dq_map, 7, 0, 32, "ddr4_cs1_dq16_dq31_map"},
  {hash, 1, 0, 32, "ch_mask1"},              {hash, 4, 0, 32, "bank_mask2"},
  {hash, 6, 0, 32, "rank_mask0"},
  // tq6951 skew record, sub-version 1 in word 0: per type a frequency word, then 32 byte lanes,
  // the first lane of each word in its top byte
  {skew, 1, 0, 12, "ddr3_skew_freq_mhz"},    {skew, 2, 24, 8, "ddr3_ca9_skew"},
  {skew, 2, 0, 8, "ddr3_ca1_skew"},          {skew, 18, 0, 8, "ddr4_actn_skew"},
  {skew, 19, 0, 12, "lp3_skew_freq_mhz"},
  // versions 0 and 1: the record from block word 3, frequencies 16 bits, two a word
  {record, 0, 16, 16, "ddr2_freq"},          {record, 1, 0, 16, "lp3_freq"},
  {record, 2, 16, 16, "ddr4_freq"},          {record, 3, 28, 4, "uart id"},
  {record, 5, 0, 16, "standby_idle"},        {record, 6, 26, 1, "derate_en"},
  {record, 6, 29, 2, "ext_temp_ref"},
};
// clang-format on

// A section's length in words: its whole record.
int room(int entry, std::uint32_t version) {
  switch (entry) {
    case global:
    case dq_map:
    case hash: return 8;
    case lp4:
    case lp4x:
    case lp5: return 13;
    case skew: return 28;
    case record: return 10;
    default: return version == 5 ? 11 : 9;
  }
}

constexpr std::size_t lead = 24;  // bytes before the start tag
constexpr std::uint32_t at = 9;   // block word of the one section present

// A block of the given version whose one section (or record) holds `words`; everything else 0.
bytes block(const fact& f, std::uint32_t version, const std::vector<std::uint32_t>& words) {
  bytes b(lead + 4 * (at + words.size()) + 16, 0);
  set_word(b, lead, 0x12345678);
  set_word(b, lead + 4, version);
  std::size_t first = lead + 4 * 3;  // versions 0 and 1: no index
  if (f.entry != record) {
    // 14 entries of a byte offset (block words) and a byte size (words), from block word 2
    b[lead + 8 + 2 * f.entry] = at;
    b[lead + 8 + 2 * f.entry + 1] = static_cast<std::uint8_t>(words.size());
    first = lead + 4 * at;
  }
  for (std::size_t i = 0; i < words.size(); ++i) set_word(b, first + 4 * i, words[i]);
  return b;
}

std::uint32_t ones(int width) { return width == 32 ? 0xFFFFFFFFu : (1u << width) - 1; }

TEST(FormatFacts, WordBitAndWidthOfEachSection) {
  for (const fact& f : facts) {
    for (std::uint32_t version : {0u, 1u, 2u, 3u, 4u, 5u}) {
      if ((f.entry == record) != (version <= 1) || (f.versions && f.versions != int(version)))
        continue;
      SCOPED_TRACE(std::string(f.key) + " v" + std::to_string(version));
      const std::string chip = f.entry == skew ? "tq6951" : "tq6583";
      const std::uint32_t mask = ones(f.width) << f.lo;
      std::vector<std::uint32_t> words(room(f.entry, version), 0);
      const std::uint32_t sub_version = f.entry == skew ? 1 : 0;
      if (f.entry == skew) words[0] = sub_version;
      const std::size_t n = num(f.key);

      // Its bits alone read as its largest value, and nothing else reads as anything.
      words[f.word] |= mask;
      const reported alone = report_of(block(f, version, words), chip);
      for (std::size_t k = 1; k < base_info_tag_size; ++k)
        EXPECT_EQ(alone.info[k], k == n ? ones(f.width) : 0) << base_info_tag[k];

      // Every other bit of its word set: it reads as 0.
      words[f.word] = ~mask | (f.word == 0 ? sub_version : 0);
      EXPECT_EQ(report_of(block(f, version, words), chip).info[n], 0u);

      // Written, it sets exactly its bits.
      std::fill(words.begin(), words.end(), 0);
      words[0] = sub_version;
      bytes b = block(f, version, words);
      modify(b, template_with({{f.key, std::to_string(ones(f.width))}}), chip);
      words[f.word] |= mask;
      EXPECT_TRUE(b == block(f, version, words));
    }
  }
}

}  // namespace
}  // namespace tt
