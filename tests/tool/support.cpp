#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

namespace tt {
namespace {

// The block format tables as "word.lo.width.key" (T: the type token, '~': a space in the key).
const char* global_tab =
    "0.0.24.uart~baudrate 0.24.4.uart~iomux 0.28.4.uart~id 1.0.16.pd_idle 1.16.16.sr_idle "
    "2.0.16.standby_idle 2.16.8.stride~type 2.24.4.channel~mask 2.28.4.first~scan~channel "
    "3.0.1.ddr_2t 3.1.8.ssmod_spread 3.9.8.ssmod_div 3.17.2.ssmod_downspread 3.19.1.dis_train_print "
    "3.20.1.res_space_remap_portion 3.21.1.rd_vref_scan_en 3.22.1.wr_vref_scan_en "
    "3.23.1.eye_2d_scan_en 3.24.1.res_space_remap_all 3.25.1.auto_precharge_en 3.26.1.derate_en "
    "3.27.1.per_bank_ref_en 3.28.1.link_ecc_en 3.29.2.ext_temp_ref 4.0.1.tpl_log_en 4.1.1.spl_log_en "
    "4.2.1.optee_log_en 4.3.1.atf_log_en 4.4.1.uboot_log_en 4.12.4.pstore_buf_size "
    "4.16.16.pstore_base_addr 5.0.3.boot_fsp 5.3.1.pageclose 5.4.1.dfs_disable 5.5.4.first_init_dram_type";
const char* freq_drv_tab =
    "0.0.12.T_freq 0.12.12.T_f1_freq_mhz 1.0.12.T_f2_freq_mhz 1.12.12.T_f3_freq_mhz "
    "2.0.12.T_f4_freq_mhz 2.12.12.T_f5_freq_mhz 3.0.8.phy_T_dq_drv_when_odten_ohm "
    "3.8.8.phy_T_ca_drv_when_odten_ohm 3.16.8.phy_T_clk_drv_when_odten_ohm "
    "3.24.8.T_dq_drv_when_odten_ohm 4.0.8.phy_T_dq_drv_when_odtoff_ohm "
    "4.8.8.phy_T_ca_drv_when_odtoff_ohm 4.16.8.phy_T_clk_drv_when_odtoff_ohm "
    "4.24.8.T_dq_drv_when_odtoff_ohm 5.0.8.T_odt_ohm 5.8.10.phy_T_odt_ohm "
    "7.0.8.phy_T_dq_sr_when_odten 7.8.8.phy_T_ca_sr_when_odten 7.16.8.phy_T_clk_sr_when_odten "
    "8.0.8.phy_T_dq_sr_when_odtoff 8.8.8.phy_T_ca_sr_when_odtoff 8.16.8.phy_T_clk_sr_when_odtoff";
const char* per_type_tab =
    "5.18.1.phy_T_odt_pull_up_en 5.19.1.phy_T_odt_pull_dn_en 6.0.12.T_odten_freq_mhz "
    "6.12.12.phy_T_odten_freq_mhz";
const char* vref_tab =  // word numbers relative to the first vref word
    "0.0.10.phy_T_dq_vref_when_odten 0.10.10.T_dq_vref_when_odten 0.20.10.T_ca_vref_when_odten "
    "1.0.10.phy_T_dq_vref_when_odtoff 1.10.10.T_dq_vref_when_odtoff 1.20.10.T_ca_vref_when_odtoff";
const char* lp4_tab =
    "5.18.8.T_ca_odt_ohm 5.26.1.T_drv_pu_cal_odten 5.27.1.T_drv_pu_cal_odtoff "
    "5.28.1.phy_T_drv_pull_dn_en_odten 5.29.1.phy_T_drv_pull_dn_en_odtoff "
    "6.0.12.T_dq_odten_freq_mhz 6.12.12.phy_T_odten_freq_mhz 9.0.12.T_ca_odten_freq_mhz "
    "10.0.8.phy_T_cs_drv_odten 10.8.8.phy_T_cs_drv_odtoff 10.16.1.T_odte_ck "
    "10.17.1.T_odte_cs_en 10.18.1.T_odtd_ca_en";
const char* lp5_tab = "9.12.12.lp5_wck_odt_en_freq 9.24.8.lp5_wck_odt 10.24.8.lp5_nt_odt";
const char* dq_map_tab =
    "0.0.8.ddr4_bytes_map 0.16.8.ddr2_bytes_map 0.24.8.ddr3_bytes_map 1.8.8.lp2_bytes_map "
    "1.16.8.lp3_bytes_map 1.24.8.lp4_bytes_map 2.0.32.lp3_dq0_7_map 3.0.32.lp2_dq0_7_map "
    "4.0.32.ddr4_cs0_dq0_dq15_map 5.0.32.ddr4_cs0_dq16_dq31_map 6.0.32.ddr4_cs1_dq0_dq15_map "
    "7.0.32.ddr4_cs1_dq16_dq31_map";
const char* hash_tab =
    "0.0.32.ch_mask0 1.0.32.ch_mask1 2.0.32.bank_mask0 3.0.32.bank_mask1 4.0.32.bank_mask2 "
    "5.0.32.bank_mask3 6.0.32.rank_mask0 7.0.32.rank_mask1";
const char* v1_tab =
    "0.0.16.lp2_freq 0.16.16.ddr2_freq 1.0.16.lp3_freq 1.16.16.ddr3_freq 2.0.16.lp4_freq "
    "2.16.16.ddr4_freq 3.0.24.uart~baudrate 3.24.4.uart~iomux 3.28.4.uart~id 4.0.16.pd_idle "
    "4.16.16.sr_idle 5.0.16.standby_idle 5.16.8.stride~type 5.24.4.channel~mask "
    "5.28.4.first~scan~channel 6.0.1.ddr_2t 6.1.8.ssmod_spread 6.9.8.ssmod_div "
    "6.17.2.ssmod_downspread 6.19.1.dis_train_print! 6.20.1.res_space_remap_portion! "
    "6.26.1.derate_en 6.29.2.ext_temp_ref";

void parse(std::vector<sfield>& out, const char* tab, const std::string& t, int word_base = 0) {
  std::istringstream in(tab);
  std::string item;
  while (in >> item) {
    sfield f;
    char key[64];
    std::sscanf(item.c_str(), "%d.%d.%d.%63s", &f.word, &f.lo, &f.width, key);
    f.word += word_base;
    std::string k = key;
    if (!k.empty() && k.back() == '!') k.pop_back(), f.decoded = false;
    for (std::size_t i = 0; i < k.size(); ++i) {
      if (k[i] == '~') k[i] = ' ';
      if (k[i] == 'T') k.replace(i, 1, t), i += t.size() - 1;
    }
    f.key = k;
    out.push_back(f);
  }
}

const char* token(index_entry e) {
  switch (e) {
    case ddr2_index: return "ddr2";
    case ddr3_index: return "ddr3";
    case ddr4_index: return "ddr4";
    case lp2_index: return "lp2";
    case lp3_index: return "lp3";
    case lp4_index: return "lp4";
    case lp4x_index: return "lp4x";
    case lp5_index: return "lp5";
    default: return "";
  }
}
bool per_type(index_entry e) {
  return e == ddr2_index || e == ddr3_index || e == ddr4_index || e == lp2_index || e == lp3_index;
}
bool lp4_like(index_entry e) { return e == lp4_index || e == lp4x_index || e == lp5_index; }

}  // namespace

std::size_t num(const std::string& key) {
  for (std::size_t n = 0; n < base_info_tag_size; ++n)
    if (base_info_tag[n] == key) return n;
  ADD_FAILURE() << "no key " << key;
  return 0;
}

std::vector<sfield> fields_of(index_entry e, std::uint32_t version) {
  std::vector<sfield> f;
  if (version <= 1) parse(f, v1_tab, "");
  else if (e == global_index) parse(f, global_tab, "");
  else if (e == dq_map_index) parse(f, dq_map_tab, "");
  else if (e == hash_index) parse(f, hash_tab, "");
  else if (per_type(e)) {
    parse(f, freq_drv_tab, token(e));
    parse(f, per_type_tab, token(e));
    if (version == 5) parse(f, vref_tab, token(e), 9);
  } else if (lp4_like(e)) {
    parse(f, freq_drv_tab, token(e));
    parse(f, lp4_tab, token(e));
    parse(f, vref_tab, token(e), 11);
    if (e == lp5_index) parse(f, lp5_tab, "");
  }
  return f;
}

std::vector<std::uint32_t> reserved_of(index_entry e, std::uint32_t version) {
  const std::uint32_t hi8 = 0xFF000000u, hi2 = 0xC0000000u;
  if (version <= 1) return std::vector<std::uint32_t>(10, 0);
  if (e == global_index) return {0, 0, 0, 0x80000000u, 0xFE0u, 0xFFFFFE00u, 0xFFFFFFFFu, 0xFFFFFFFFu};
  if (e == dq_map_index) return {0xFF00u, 0xFFu, 0, 0, 0, 0, 0, 0};
  if (e == hash_index) return std::vector<std::uint32_t>(8, 0);
  if (per_type(e)) {
    std::vector<std::uint32_t> r = {hi8, hi8, hi8, 0, 0, 0xFFF00000u, hi8, hi8, hi8};
    if (version == 5) r.insert(r.end(), {hi2, hi2});
    return r;
  }
  // LPDDR4/4X/5 word 5: bit 31 reserved, bit 30 not carried.
  if (e == lp5_index) return {hi8, hi8, hi8, 0, 0, 0x80000000u, hi8, hi8, hi8, 0, 0x00F80000u, hi2, hi2};
  return {hi8, hi8, hi8, 0, 0, 0x80000000u, hi8, hi8, hi8, 0xFFFFF000u, 0xFFF80000u, hi2, hi2};
}

std::uint32_t room_of(index_entry e, std::uint32_t version) {
  if (per_type(e)) return version == 5 ? 11 : 9;
  if (lp4_like(e)) return 13;
  if (e == skew_index) return 28;
  return 8;
}

const std::vector<index_entry>& image_sections() {
  static const std::vector<index_entry> s = {global_index, ddr2_index, ddr3_index, ddr4_index,
                                             lp2_index, lp3_index, lp4_index, dq_map_index,
                                             lp4x_index, lp5_index, hash_index};
  return s;
}

std::vector<std::string> skew_lanes(int type) {
  std::vector<std::string> lanes(32);
  const char* d3 = "ca9 ca14 ca13 ca1 ca2 ca4 ca3 ca6 ca5 ca11 ca0 ca7 ca10 ca8 odt0 ba1 cke0 - ba2 "
                   "ca12 ba0 ca15 ras cke1 ckn ckp we odt1 cas cs1 resetn cs0";
  const char* lp3 = "odt2 - odt3 - ca5 - cs2 - ca6 ca2 - ca7 ca4 ca3 cs3 ca0 - - cke0 ca1 ca8 - - "
                    "cke1 ckn ckp odt0 odt1 cs1 cs0 - ca9";
  if (type == 1) {
    for (int n = 0; n < 32; ++n) lanes[n] = std::string(base_info_tag[num("ddr4_ca0_skew") + n]);
    return lanes;
  }
  std::istringstream in(type == 0 ? d3 : lp3);
  std::string s;
  for (int n = 0; in >> s; ++n)
    lanes[n] = s == "-" ? "" : std::string(skew_type_token(type)) + "_" + s + "_skew";
  return lanes;
}

std::uint32_t word_at(const bytes& b, std::size_t pos) {
  return b[pos] | b[pos + 1] << 8 | b[pos + 2] << 16 | static_cast<std::uint32_t>(b[pos + 3]) << 24;
}
void set_word(bytes& b, std::size_t pos, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[pos + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

reported report_of(const bytes& bin, const std::string& chip) {
  bytes copy = bin;
  memory_ddr_file f(copy);
  run_context ctx;
  ctx.chip_info = chip;
  capture out;
  ctx.out = out.f;
  std::FILE* rep = std::tmpfile();
  run_report(ctx, f, rep);
  reported r;
  r.out = out.done();
  std::rewind(rep);
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, rep)) > 0;) r.report.append(buf, n);
  std::fclose(rep);
  EXPECT_EQ(f.writes(), 0u);
  EXPECT_TRUE(copy == bin);
  for (const std::string& l : lines(r.report)) {
    const auto eq = l.find('=');
    if (eq == std::string::npos || l.rfind("start tag=", 0) == 0) continue;
    const std::string v = l.substr(eq + 1);
    r.info[num(l.substr(0, eq))] = v.rfind("0x", 0) == 0
                                       ? static_cast<std::uint32_t>(std::strtoul(v.c_str(), nullptr, 16))
                                       : static_cast<std::uint32_t>(std::strtol(v.c_str(), nullptr, 10));
  }
  return r;
}

std::string modify(ddr_file& bin, const std::string& text, const std::string& chip) {
  run_context ctx;
  ctx.chip_info = chip;
  capture out;
  ctx.out = out.f;
  memory_text_source src(text.data(), text.size());
  run_modify(ctx, src, bin);
  return out.done();
}

std::string modify(bytes& bin, const std::string& text, const std::string& chip, bool older) {
  memory_ddr_file f(bin);
  run_context ctx;
  ctx.chip_info = chip;
  ctx.tq637y_en = older;
  capture out;
  ctx.out = out.f;
  memory_text_source src(text.data(), text.size());
  run_modify(ctx, src, f);
  return out.done();
}

std::string template_with(const std::map<std::string, std::string>& values) {
  std::string t = "start tag=0x12345678\n";
  for (std::size_t n = 1; n < base_info_tag_size; ++n) {
    const std::string k(base_info_tag[n]);
    const auto it = values.find(k);
    t += k + "=" + (it == values.end() ? "" : it->second) + "\n";
  }
  return t + "end\n";
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

scratch::scratch() {
  namespace fs = std::filesystem;
  std::random_device seed;
  for (;;) {
    const fs::path p = fs::temp_directory_path() / ("vxtool." + std::to_string(seed()));
    if (fs::create_directory(p)) {
      dir = p.generic_string();
      return;
    }
  }
}
scratch::~scratch() {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

void write_file(const std::string& path, const bytes& b) {
  std::ofstream(std::filesystem::u8path(path), std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}
bytes read_file(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), {});
}
bool exists(const std::string& path) { return std::filesystem::exists(std::filesystem::u8path(path)); }

}  // namespace tt
