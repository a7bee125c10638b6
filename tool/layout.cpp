#include "tool/layout.h"

#include "tool/messages.h"

namespace vexdram {
namespace {

template <std::size_t N>
constexpr field_span span_of(const std::array<field, N>& a) {
  return field_span{a.data(), N};
}

// clang-format off
// global_info, 8 words.
constexpr std::array<field, 35> global_layout = {{
    {0, 0, 24, p::uart_baudrate}, {0, 24, 4, p::uart_iomux}, {0, 28, 4, p::uart_id},
    {1, 0, 16, p::pd_idle}, {1, 16, 16, p::sr_idle},
    {2, 0, 16, p::standby_idle}, {2, 16, 8, p::stride_type}, {2, 24, 4, p::channel_mask},
    {2, 28, 4, p::first_scan_channel},
    {3, 0, 1, p::ddr_2t}, {3, 1, 8, p::ssmod_spread}, {3, 9, 8, p::ssmod_div},
    {3, 17, 2, p::ssmod_downspread}, {3, 19, 1, p::dis_train_print},
    {3, 20, 1, p::res_space_remap_portion}, {3, 21, 1, p::rd_vref_scan_en},
    {3, 22, 1, p::wr_vref_scan_en}, {3, 23, 1, p::eye_2d_scan_en},
    {3, 24, 1, p::res_space_remap_all}, {3, 25, 1, p::auto_precharge_en},
    {3, 26, 1, p::derate_en}, {3, 27, 1, p::per_bank_ref_en}, {3, 28, 1, p::link_ecc_en},
    {3, 29, 2, p::ext_temp_ref},
    {4, 0, 1, p::tpl_log_en}, {4, 1, 1, p::spl_log_en}, {4, 2, 1, p::optee_log_en},
    {4, 3, 1, p::atf_log_en}, {4, 4, 1, p::uboot_log_en},
    {4, 12, 4, p::pstore_buf_size}, {4, 16, 16, p::pstore_base_addr},
    {5, 0, 3, p::boot_fsp}, {5, 3, 1, p::pageclose}, {5, 4, 1, p::dfs_disable}, {5, 5, 4, p::first_init_dram_type},
}};

// Words every DRAM type's record shares: the six frequencies and eight drive strengths (words
// 0-4), the six slew rates (words 7-8) and the six vrefs (two words).
#define VEXDRAM_FREQ_DRIVE_WORDS(t)                                                           \
    {0, 0, 12, p::t##_freq}, {0, 12, 12, p::t##_f1_freq_mhz},                                 \
    {1, 0, 12, p::t##_f2_freq_mhz}, {1, 12, 12, p::t##_f3_freq_mhz},                          \
    {2, 0, 12, p::t##_f4_freq_mhz}, {2, 12, 12, p::t##_f5_freq_mhz},                          \
    {3, 0, 8, p::phy_##t##_dq_drv_when_odten_ohm}, {3, 8, 8, p::phy_##t##_ca_drv_when_odten_ohm}, \
    {3, 16, 8, p::phy_##t##_clk_drv_when_odten_ohm}, {3, 24, 8, p::t##_dq_drv_when_odten_ohm},   \
    {4, 0, 8, p::phy_##t##_dq_drv_when_odtoff_ohm}, {4, 8, 8, p::phy_##t##_ca_drv_when_odtoff_ohm}, \
    {4, 16, 8, p::phy_##t##_clk_drv_when_odtoff_ohm}, {4, 24, 8, p::t##_dq_drv_when_odtoff_ohm},
#define VEXDRAM_SLEW_WORDS(t)                                                                 \
    {7, 0, 8, p::phy_##t##_dq_sr_when_odten}, {7, 8, 8, p::phy_##t##_ca_sr_when_odten},       \
    {7, 16, 8, p::phy_##t##_clk_sr_when_odten},                                               \
    {8, 0, 8, p::phy_##t##_dq_sr_when_odtoff}, {8, 8, 8, p::phy_##t##_ca_sr_when_odtoff},     \
    {8, 16, 8, p::phy_##t##_clk_sr_when_odtoff},
#define VEXDRAM_VREF_WORDS(t, on, off)                                                        \
    {on, 0, 10, p::phy_##t##_dq_vref_when_odten}, {on, 10, 10, p::t##_dq_vref_when_odten},    \
    {on, 20, 10, p::t##_ca_vref_when_odten},                                                  \
    {off, 0, 10, p::phy_##t##_dq_vref_when_odtoff}, {off, 10, 10, p::t##_dq_vref_when_odtoff}, \
    {off, 20, 10, p::t##_ca_vref_when_odtoff},

// ddr2_3_4_lp2_3_info (9 words) and ddr2_3_4_lp2_3_info_v5 (11 words: the vref words 9 and 10).
// Word 5 holds the memory-side ODT first and word 6 the memory-side ODT frequency first.
#define VEXDRAM_PER_TYPE_LAYOUT(t)                                                            \
  std::array<field, 32> {{                                                                    \
    VEXDRAM_FREQ_DRIVE_WORDS(t)                                                               \
    {5, 0, 8, p::t##_odt_ohm}, {5, 8, 10, p::phy_##t##_odt_ohm},                              \
    {5, 18, 1, p::phy_##t##_odt_pull_up_en}, {5, 19, 1, p::phy_##t##_odt_pull_dn_en},         \
    {6, 0, 12, p::t##_odten_freq_mhz}, {6, 12, 12, p::phy_##t##_odten_freq_mhz},              \
    VEXDRAM_SLEW_WORDS(t)                                                                     \
    VEXDRAM_VREF_WORDS(t, 9, 10)                                                              \
  }}
constexpr auto ddr2_layout = VEXDRAM_PER_TYPE_LAYOUT(ddr2);
constexpr auto ddr3_layout = VEXDRAM_PER_TYPE_LAYOUT(ddr3);
constexpr auto ddr4_layout = VEXDRAM_PER_TYPE_LAYOUT(ddr4);
constexpr auto lp2_layout = VEXDRAM_PER_TYPE_LAYOUT(lp2);
constexpr auto lp3_layout = VEXDRAM_PER_TYPE_LAYOUT(lp3);
#undef VEXDRAM_PER_TYPE_LAYOUT

// lp4_info, 13 words, shared by LPDDR4, LPDDR4X and LPDDR5 except words 9 and 10.
// Word 6 holds the memory-side DQ ODT frequency first.
#define VEXDRAM_LP4_HEAD(t)                                                                   \
    VEXDRAM_FREQ_DRIVE_WORDS(t)                                                               \
    {5, 0, 8, p::t##_odt_ohm}, {5, 8, 10, p::phy_##t##_odt_ohm}, {5, 18, 8, p::t##_ca_odt_ohm}, \
    {5, 26, 1, p::t##_drv_pu_cal_odten}, {5, 27, 1, p::t##_drv_pu_cal_odtoff},                \
    {5, 28, 1, p::phy_##t##_drv_pull_dn_en_odten}, {5, 29, 1, p::phy_##t##_drv_pull_dn_en_odtoff}, \
    {6, 0, 12, p::t##_dq_odten_freq_mhz}, {6, 12, 12, p::phy_##t##_odten_freq_mhz},           \
    VEXDRAM_SLEW_WORDS(t)                                                                     \
    {9, 0, 12, p::t##_ca_odten_freq_mhz},                                                     \
    {10, 0, 8, p::phy_##t##_cs_drv_odten}, {10, 8, 8, p::phy_##t##_cs_drv_odtoff},            \
    {10, 16, 1, p::t##_odte_ck}, {10, 17, 1, p::t##_odte_cs_en}, {10, 18, 1, p::t##_odtd_ca_en}, \
    VEXDRAM_VREF_WORDS(t, 11, 12)
constexpr std::array<field, 41> lp4_layout = {{VEXDRAM_LP4_HEAD(lp4)}};
constexpr std::array<field, 41> lp4x_layout = {{VEXDRAM_LP4_HEAD(lp4x)}};
constexpr std::array<field, 44> lp5_layout = {{
    VEXDRAM_LP4_HEAD(lp5)
    {9, 12, 12, p::lp5_wck_odt_en_freq}, {9, 24, 8, p::lp5_wck_odt}, {10, 24, 8, p::lp5_nt_odt},
}};
#undef VEXDRAM_LP4_HEAD
#undef VEXDRAM_FREQ_DRIVE_WORDS
#undef VEXDRAM_SLEW_WORDS
#undef VEXDRAM_VREF_WORDS

// dq_map_info, 8 words.
constexpr std::array<field, 12> dq_map_layout = {{
    {0, 0, 8, p::ddr4_bytes_map}, {0, 16, 8, p::ddr2_bytes_map}, {0, 24, 8, p::ddr3_bytes_map},
    {1, 8, 8, p::lp2_bytes_map}, {1, 16, 8, p::lp3_bytes_map}, {1, 24, 8, p::lp4_bytes_map},
    {2, 0, 32, p::lp3_dq0_7_map}, {3, 0, 32, p::lp2_dq0_7_map},
    {4, 0, 32, p::ddr4_cs0_dq0_dq15_map}, {5, 0, 32, p::ddr4_cs0_dq16_dq31_map},
    {6, 0, 32, p::ddr4_cs1_dq0_dq15_map}, {7, 0, 32, p::ddr4_cs1_dq16_dq31_map},
}};

// hash_info, 8 words, one mask a word.
constexpr std::array<field, 8> hash_layout = {{
    {0, 0, 32, p::ch_mask0}, {1, 0, 32, p::ch_mask1},
    {2, 0, 32, p::bank_mask0}, {3, 0, 32, p::bank_mask1},
    {4, 0, 32, p::bank_mask2}, {5, 0, 32, p::bank_mask3},
    {6, 0, 32, p::rank_mask0}, {7, 0, 32, p::rank_mask1},
}};

// The version-1 record: frequencies 16 bits wide, two a word.
constexpr std::array<field, 23> v1_layout = {{
    {0, 0, 16, p::lp2_freq}, {0, 16, 16, p::ddr2_freq},
    {1, 0, 16, p::lp3_freq}, {1, 16, 16, p::ddr3_freq},
    {2, 0, 16, p::lp4_freq}, {2, 16, 16, p::ddr4_freq},
    {3, 0, 24, p::uart_baudrate}, {3, 24, 4, p::uart_iomux}, {3, 28, 4, p::uart_id},
    {4, 0, 16, p::pd_idle}, {4, 16, 16, p::sr_idle},
    {5, 0, 16, p::standby_idle}, {5, 16, 8, p::stride_type}, {5, 24, 4, p::channel_mask},
    {5, 28, 4, p::first_scan_channel},
    {6, 0, 1, p::ddr_2t}, {6, 1, 8, p::ssmod_spread}, {6, 9, 8, p::ssmod_div},
    {6, 17, 2, p::ssmod_downspread},
    {6, 19, 1, p::dis_train_print, false}, {6, 20, 1, p::res_space_remap_portion, false},
    {6, 26, 1, p::derate_en}, {6, 29, 2, p::ext_temp_ref},
}};
// clang-format on

// Every field lies inside its word, has a width, and no two fields of a word share a bit.
template <std::size_t N>
constexpr bool well_formed(const std::array<field, N>& a, std::size_t words) {
  for (std::size_t i = 0; i < N; ++i) {
    const field& f = a[i];
    if (f.width == 0 || f.lo + f.width > 32 || f.word >= words) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (a[j].word == f.word && (field_mask(a[j]) & field_mask(f)) != 0) return false;
  }
  return true;
}
static_assert(well_formed(global_layout, 8) && well_formed(ddr2_layout, 11) &&
                  well_formed(ddr3_layout, 11) && well_formed(ddr4_layout, 11) &&
                  well_formed(lp2_layout, 11) && well_formed(lp3_layout, 11) &&
                  well_formed(lp4_layout, 13) && well_formed(lp4x_layout, 13) &&
                  well_formed(lp5_layout, 13) && well_formed(dq_map_layout, 8) &&
                  well_formed(hash_layout, 8) && well_formed(v1_layout, v1_decoded_words),
              "layout tables");

// clang-format off
// LPDDR4, LPDDR4X and LPDDR5 word 5 bit 30 is not carried: written as 0.
constexpr word_masks lp4_not_carried = {0, 0, 0, 0, 0, 1u << 30};

#define VEXDRAM_PER_TYPE(s, title, v2, v5, rd, wr) \
  {section::s, s##_index, title, span_of(s##_layout), 9, 11, v2, v5, {}, false, rd, wr}
const std::array<section_desc, section_count> sections = {{
    {section::global, global_index, "global", span_of(global_layout), 8, 8, 7, 7, {}, false,
     msg::read_global_fail, msg::write_global_fail},
    VEXDRAM_PER_TYPE(ddr2, "DDR2", 15, 15, msg::read_ddr2_fail, msg::write_ddr2_fail),
    VEXDRAM_PER_TYPE(ddr3, "DDR3", 24, 26, msg::read_ddr3_fail, msg::write_ddr3_fail),
    VEXDRAM_PER_TYPE(ddr4, "DDR4", 33, 37, msg::read_ddr4_fail, msg::write_ddr4_fail),
    VEXDRAM_PER_TYPE(lp2, "LPDDR2", 51, 59, msg::read_lp2_fail, msg::write_lp2_fail),
    VEXDRAM_PER_TYPE(lp3, "LPDDR3", 60, 70, msg::read_lp3_fail, msg::write_lp3_fail),
    {section::lp4, lp4_index, "LPDDR4", span_of(lp4_layout), 13, 13, 69, 81, lp4_not_carried, false,
     msg::read_lp4_fail, msg::write_lp4_fail},
    {section::dq_map, dq_map_index, "DQ map", span_of(dq_map_layout), 8, 8, 82, 94, {}, false,
     msg::read_dq_map_fail, msg::write_dq_map_fail},
    {section::lp4x, lp4x_index, "LPDDR4X", span_of(lp4x_layout), 13, 13, 90, 102, lp4_not_carried,
     true, msg::read_lp4x_fail, msg::write_lp4x_fail},
    {section::lp5, lp5_index, "LPDDR5", span_of(lp5_layout), 13, 13, 103, 115, lp4_not_carried, false,
     msg::read_lp5_fail, msg::write_lp5_fail},
    {section::hash, hash_index, "hash", span_of(hash_layout), 8, 8, 116, 128, {}, true,
     msg::read_hash_fail, msg::write_hash_fail},
}};
#undef VEXDRAM_PER_TYPE
// clang-format on

}  // namespace

const section_desc& section_info(section s) { return sections[static_cast<std::size_t>(s)]; }

bool section_present(const section_desc& d, const sdram_head_info_index_v2& index) {
  const index_info& e = index[d.entry];
  if (e.offset == 0) return false;
  return !(d.size_bound && e.size > max_bounded_size);
}

std::uint8_t section_words(const section_desc& d, const sdram_head_info_index_v2& index,
                           std::uint32_t version) {
  const std::uint8_t size = index[d.entry].size;
  const std::uint8_t room = section_room(d, version);
  return size < room ? size : room;
}

std::uint32_t claimed_mask(field_span fields, std::size_t w) {
  std::uint32_t m = 0;
  for (const field& f : fields)
    if (f.word == w) m |= field_mask(f);
  return m;
}

std::uint32_t reserved_mask(const section_desc& d, std::size_t w) {
  // Worked out once for every word of every section: each decode and encode asks for them all.
  static const std::array<word_masks, section_count> reserved = [] {
    std::array<word_masks, section_count> r{};
    for (std::size_t s = 0; s < section_count; ++s)
      for (std::size_t word = 0; word < max_section_words; ++word)
        r[s][word] = ~claimed_mask(sections[s].fields, word) & ~sections[s].not_carried[word];
    return r;
  }();
  return reserved[static_cast<std::size_t>(d.id)][w];
}

field_span v1_fields() { return span_of(v1_layout); }

}  // namespace vexdram
