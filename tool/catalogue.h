// The parameter catalogue: every parameter's number, field name and text key, from one list.
//
// Field names equal the keys, except that the seven keys with spaces use an underscore in the
// field name. The key of a parameter names its line in the parameter file and in the report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vexdram {

// clang-format off
// Pattern A: the 31 parameters of a DDR2, DDR3, DDR4, LPDDR2 or LPDDR3 section.
#define VEXDRAM_FREQS(X, t)                                                      \
  X(t##_f1_freq_mhz, #t "_f1_freq_mhz") X(t##_f2_freq_mhz, #t "_f2_freq_mhz")   \
  X(t##_f3_freq_mhz, #t "_f3_freq_mhz") X(t##_f4_freq_mhz, #t "_f4_freq_mhz")   \
  X(t##_f5_freq_mhz, #t "_f5_freq_mhz")
#define VEXDRAM_DRIVES(X, t)                                                        \
  X(phy_##t##_dq_drv_when_odten_ohm, "phy_" #t "_dq_drv_when_odten_ohm")            \
  X(phy_##t##_ca_drv_when_odten_ohm, "phy_" #t "_ca_drv_when_odten_ohm")            \
  X(phy_##t##_clk_drv_when_odten_ohm, "phy_" #t "_clk_drv_when_odten_ohm")          \
  X(t##_dq_drv_when_odten_ohm, #t "_dq_drv_when_odten_ohm")                         \
  X(phy_##t##_dq_drv_when_odtoff_ohm, "phy_" #t "_dq_drv_when_odtoff_ohm")          \
  X(phy_##t##_ca_drv_when_odtoff_ohm, "phy_" #t "_ca_drv_when_odtoff_ohm")          \
  X(phy_##t##_clk_drv_when_odtoff_ohm, "phy_" #t "_clk_drv_when_odtoff_ohm")        \
  X(t##_dq_drv_when_odtoff_ohm, #t "_dq_drv_when_odtoff_ohm")                       \
  X(phy_##t##_odt_ohm, "phy_" #t "_odt_ohm") X(t##_odt_ohm, #t "_odt_ohm")
#define VEXDRAM_SLEWS(X, t)                                               \
  X(phy_##t##_dq_sr_when_odten, "phy_" #t "_dq_sr_when_odten")            \
  X(phy_##t##_ca_sr_when_odten, "phy_" #t "_ca_sr_when_odten")            \
  X(phy_##t##_clk_sr_when_odten, "phy_" #t "_clk_sr_when_odten")          \
  X(phy_##t##_dq_sr_when_odtoff, "phy_" #t "_dq_sr_when_odtoff")          \
  X(phy_##t##_ca_sr_when_odtoff, "phy_" #t "_ca_sr_when_odtoff")          \
  X(phy_##t##_clk_sr_when_odtoff, "phy_" #t "_clk_sr_when_odtoff")
#define VEXDRAM_VREFS(X, t)                                               \
  X(phy_##t##_dq_vref_when_odten, "phy_" #t "_dq_vref_when_odten")        \
  X(t##_dq_vref_when_odten, #t "_dq_vref_when_odten")                     \
  X(t##_ca_vref_when_odten, #t "_ca_vref_when_odten")                     \
  X(phy_##t##_dq_vref_when_odtoff, "phy_" #t "_dq_vref_when_odtoff")      \
  X(t##_dq_vref_when_odtoff, #t "_dq_vref_when_odtoff")                   \
  X(t##_ca_vref_when_odtoff, #t "_ca_vref_when_odtoff")

#define VEXDRAM_PATTERN_A(X, t)                                       \
  VEXDRAM_FREQS(X, t) VEXDRAM_DRIVES(X, t)                            \
  X(phy_##t##_odt_pull_up_en, "phy_" #t "_odt_pull_up_en")            \
  X(phy_##t##_odt_pull_dn_en, "phy_" #t "_odt_pull_dn_en")            \
  X(phy_##t##_odten_freq_mhz, "phy_" #t "_odten_freq_mhz")            \
  X(t##_odten_freq_mhz, #t "_odten_freq_mhz")                         \
  VEXDRAM_SLEWS(X, t) VEXDRAM_VREFS(X, t)

// Patterns B (LPDDR4, LPDDR4X: 40 parameters) and C (LPDDR5: 43) share their head and tail.
#define VEXDRAM_PATTERN_BC_HEAD(X, t)                                       \
  VEXDRAM_FREQS(X, t) VEXDRAM_DRIVES(X, t)                                  \
  X(t##_ca_odt_ohm, #t "_ca_odt_ohm")                                       \
  X(t##_drv_pu_cal_odten, #t "_drv_pu_cal_odten")                           \
  X(t##_drv_pu_cal_odtoff, #t "_drv_pu_cal_odtoff")                         \
  X(phy_##t##_drv_pull_dn_en_odten, "phy_" #t "_drv_pull_dn_en_odten")      \
  X(phy_##t##_drv_pull_dn_en_odtoff, "phy_" #t "_drv_pull_dn_en_odtoff")    \
  X(phy_##t##_odten_freq_mhz, "phy_" #t "_odten_freq_mhz")                  \
  X(t##_dq_odten_freq_mhz, #t "_dq_odten_freq_mhz")                         \
  VEXDRAM_SLEWS(X, t) X(t##_ca_odten_freq_mhz, #t "_ca_odten_freq_mhz")
#define VEXDRAM_PATTERN_BC_MID(X, t)                        \
  X(phy_##t##_cs_drv_odten, "phy_" #t "_cs_drv_odten")      \
  X(phy_##t##_cs_drv_odtoff, "phy_" #t "_cs_drv_odtoff")    \
  X(t##_odte_ck, #t "_odte_ck") X(t##_odte_cs_en, #t "_odte_cs_en") X(t##_odtd_ca_en, #t "_odtd_ca_en")
#define VEXDRAM_PATTERN_B(X, t) \
  VEXDRAM_PATTERN_BC_HEAD(X, t) VEXDRAM_PATTERN_BC_MID(X, t) VEXDRAM_VREFS(X, t)
#define VEXDRAM_PATTERN_C(X, t)                                                           \
  VEXDRAM_PATTERN_BC_HEAD(X, t)                                                           \
  X(t##_wck_odt_en_freq, #t "_wck_odt_en_freq") X(t##_wck_odt, #t "_wck_odt")             \
  VEXDRAM_PATTERN_BC_MID(X, t) X(t##_nt_odt, #t "_nt_odt") VEXDRAM_VREFS(X, t)

#define VEXDRAM_S(X, t, s) X(t##_##s##_skew, #t "_" #s "_skew")
#define VEXDRAM_S2(X, t, a, b) VEXDRAM_S(X, t, a) VEXDRAM_S(X, t, b)
#define VEXDRAM_S4(X, t, a, b, c, d) VEXDRAM_S2(X, t, a, b) VEXDRAM_S2(X, t, c, d)
#define VEXDRAM_S8(X, t, a, b, c, d, e, f, g, h) VEXDRAM_S4(X, t, a, b, c, d) VEXDRAM_S4(X, t, e, f, g, h)
#define VEXDRAM_SKEW_FREQ(X, t) X(t##_skew_freq_mhz, #t "_skew_freq_mhz")
#define VEXDRAM_LP4_CHANNEL(X, c)                                                   \
  VEXDRAM_S8(X, lp4, ca0_##c, ca1_##c, ca2_##c, ca3_##c, ca4_##c, ca5_##c, odt0_##c, odt1_##c) \
  VEXDRAM_S4(X, lp4, cke0_##c, cke1_##c, ckn_##c, ckp_##c) VEXDRAM_S2(X, lp4, cs0_##c, cs1_##c)
#define VEXDRAM_LP5_CHANNEL(X, c)                                                   \
  VEXDRAM_S4(X, lp5, ca0_##c, ca1_##c, ca2_##c, ca3_##c)                            \
  VEXDRAM_S2(X, lp5, ca4_##c, ca5_##c) VEXDRAM_S(X, lp5, ca6_##c)                   \
  VEXDRAM_S4(X, lp5, ckn_##c, ckp_##c, cs0_##c, cs1_##c)

// The whole catalogue, in number order.
#define VEXDRAM_CATALOGUE(X)                                                                   \
  X(start_tag, "start tag") X(ddr2_freq, "ddr2_freq") X(lp2_freq, "lp2_freq")                  \
  X(ddr3_freq, "ddr3_freq") X(lp3_freq, "lp3_freq") X(ddr4_freq, "ddr4_freq")                  \
  X(lp4_freq, "lp4_freq") X(lp4x_freq, "lp4x_freq") X(lp5_freq, "lp5_freq")                    \
  X(uart_id, "uart id") X(uart_iomux, "uart iomux") X(uart_baudrate, "uart baudrate")          \
  X(sr_idle, "sr_idle") X(pd_idle, "pd_idle") X(first_scan_channel, "first scan channel")      \
  X(channel_mask, "channel mask") X(stride_type, "stride type") X(standby_idle, "standby_idle") \
  X(ext_temp_ref, "ext_temp_ref") X(link_ecc_en, "link_ecc_en")                                \
  X(per_bank_ref_en, "per_bank_ref_en") X(derate_en, "derate_en")                              \
  X(auto_precharge_en, "auto_precharge_en") X(res_space_remap_all, "res_space_remap_all")      \
  X(res_space_remap_portion, "res_space_remap_portion") X(rd_vref_scan_en, "rd_vref_scan_en")  \
  X(wr_vref_scan_en, "wr_vref_scan_en") X(eye_2d_scan_en, "eye_2d_scan_en")                    \
  X(dis_train_print, "dis_train_print") X(ssmod_downspread, "ssmod_downspread")                \
  X(ssmod_div, "ssmod_div") X(ssmod_spread, "ssmod_spread") X(ddr_2t, "ddr_2t")                \
  X(pstore_base_addr, "pstore_base_addr") X(pstore_buf_size, "pstore_buf_size")                \
  X(uboot_log_en, "uboot_log_en") X(atf_log_en, "atf_log_en") X(optee_log_en, "optee_log_en")  \
  X(spl_log_en, "spl_log_en") X(tpl_log_en, "tpl_log_en")                                      \
  X(first_init_dram_type, "first_init_dram_type") X(dfs_disable, "dfs_disable")                \
  X(pageclose, "pageclose") X(boot_fsp, "boot_fsp")                                            \
  VEXDRAM_PATTERN_A(X, ddr2) VEXDRAM_PATTERN_A(X, ddr3) VEXDRAM_PATTERN_A(X, ddr4)            \
  VEXDRAM_PATTERN_A(X, lp2) VEXDRAM_PATTERN_A(X, lp3) VEXDRAM_PATTERN_B(X, lp4)               \
  X(ddr2_bytes_map, "ddr2_bytes_map") X(ddr3_bytes_map, "ddr3_bytes_map")                      \
  X(ddr4_bytes_map, "ddr4_bytes_map") X(lp2_bytes_map, "lp2_bytes_map")                        \
  X(lp3_bytes_map, "lp3_bytes_map") X(lp4_bytes_map, "lp4_bytes_map")                          \
  X(lp3_dq0_7_map, "lp3_dq0_7_map") X(lp2_dq0_7_map, "lp2_dq0_7_map")                          \
  X(ddr4_cs0_dq0_dq15_map, "ddr4_cs0_dq0_dq15_map") X(ddr4_cs0_dq16_dq31_map, "ddr4_cs0_dq16_dq31_map") \
  X(ddr4_cs1_dq0_dq15_map, "ddr4_cs1_dq0_dq15_map") X(ddr4_cs1_dq16_dq31_map, "ddr4_cs1_dq16_dq31_map") \
  VEXDRAM_PATTERN_B(X, lp4x) VEXDRAM_PATTERN_C(X, lp5)                                         \
  X(ch_mask0, "ch_mask0") X(ch_mask1, "ch_mask1") X(bank_mask0, "bank_mask0")                  \
  X(bank_mask1, "bank_mask1") X(bank_mask2, "bank_mask2") X(bank_mask3, "bank_mask3")          \
  X(rank_mask0, "rank_mask0") X(rank_mask1, "rank_mask1")                                      \
  VEXDRAM_SKEW_FREQ(X, ddr3)                                                                   \
  VEXDRAM_S8(X, ddr3, ca0, ca1, ca2, ca3, ca4, ca5, ca6, ca7)                                  \
  VEXDRAM_S8(X, ddr3, ca8, ca9, ca10, ca11, ca12, ca13, ca14, ca15)                            \
  VEXDRAM_S8(X, ddr3, ras, cas, ba0, ba1, ba2, we, cke0, cke1)                                 \
  VEXDRAM_S4(X, ddr3, ckn, ckp, odt0, odt1) VEXDRAM_S2(X, ddr3, cs0, cs1) VEXDRAM_S(X, ddr3, resetn) \
  VEXDRAM_SKEW_FREQ(X, ddr4)                                                                   \
  VEXDRAM_S8(X, ddr4, ca0, ca1, ca2, ca3, ca4, ca5, ca6, ca7)                                  \
  VEXDRAM_S8(X, ddr4, ca8, ca9, ca10, ca11, ca12, ca13, ca14, ca15)                            \
  VEXDRAM_S2(X, ddr4, ca16, ca17) VEXDRAM_S4(X, ddr4, ba0, ba1, bg0, bg1)                      \
  VEXDRAM_S8(X, ddr4, cke0, cke1, ckn, ckp, odt0, odt1, cs0, cs1) VEXDRAM_S2(X, ddr4, resetn, actn) \
  VEXDRAM_SKEW_FREQ(X, lp3)                                                                    \
  VEXDRAM_S8(X, lp3, ca0, ca1, ca2, ca3, ca4, ca5, ca6, ca7) VEXDRAM_S2(X, lp3, ca8, ca9)      \
  VEXDRAM_S4(X, lp3, cke0, cke1, ckn, ckp) VEXDRAM_S4(X, lp3, odt0, odt1, odt2, odt3)          \
  VEXDRAM_S4(X, lp3, cs0, cs1, cs2, cs3)                                                       \
  VEXDRAM_SKEW_FREQ(X, lp4) VEXDRAM_LP4_CHANNEL(X, a) VEXDRAM_LP4_CHANNEL(X, b)                \
  VEXDRAM_S(X, lp4, resetn)                                                                    \
  VEXDRAM_SKEW_FREQ(X, lp5) VEXDRAM_LP5_CHANNEL(X, a) VEXDRAM_LP5_CHANNEL(X, b)                \
  VEXDRAM_S(X, lp5, resetn)

// clang-format on

// Parameter numbers: p::ddr3_freq is 3, p::lp5_resetn_skew is 483.
namespace p {
enum param : std::uint16_t {
#define VEXDRAM_ENUM(field, key) field,
  VEXDRAM_CATALOGUE(VEXDRAM_ENUM)
#undef VEXDRAM_ENUM
};
}  // namespace p
using param = p::param;

inline constexpr std::size_t base_info_tag_size = 484;

// The keys, index-aligned with base_info.
inline constexpr std::array<std::string_view, base_info_tag_size> base_info_tag = {
#define VEXDRAM_KEY(field, key) std::string_view{key},
    VEXDRAM_CATALOGUE(VEXDRAM_KEY)
#undef VEXDRAM_KEY
};

// The parameter whose key is exactly this text (case and spaces count), or none.
std::optional<param> find_key(std::string_view key);

// One parameter set, every parameter as a full 32-bit value (bit widths belong to the layouts).
struct base_info {
  std::array<std::uint32_t, base_info_tag_size> v{};
  std::uint32_t& operator[](std::size_t n) { return v[n]; }
  std::uint32_t operator[](std::size_t n) const { return v[n]; }
};

static_assert(p::lp5_resetn_skew + 1 == base_info_tag_size, "the catalogue holds 484 parameters");
static_assert(p::phy_ddr2_odt_ohm == 57 && p::lp4_ca_odt_ohm == 214 && p::lp4x_odte_ck == 282 &&
                  p::lp5_ca_odten_freq_mhz == 319 && p::lp5_nt_odt == 327 &&
                  p::lp5_ca_vref_when_odtoff == 333 && p::ddr3_skew_freq_mhz == 342 &&
                  p::ddr4_skew_freq_mhz == 374 && p::lp3_skew_freq_mhz == 407 &&
                  p::lp4_skew_freq_mhz == 430 && p::lp5_skew_freq_mhz == 460,
              "catalogue numbers");
}  // namespace vexdram
