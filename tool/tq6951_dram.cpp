#include "tool/tq6951_dram.h"

#include "tool/messages.h"
#include "tool/warnings.h"

namespace vexdram {
namespace {

// DDR3 lane 17 carries nothing.
constexpr ca_map_row d3_ca_map[31] = {
    {0, 9},   {1, 14},  {2, 13},  {3, 1},   {4, 2},   {5, 4},   {6, 3},   {7, 6},
    {8, 5},   {9, 11},  {10, 0},  {11, 7},  {12, 10}, {13, 8},  {14, 26}, {15, 19},
    {16, 22}, {18, 20}, {19, 12}, {20, 18}, {21, 15}, {22, 16}, {23, 23}, {24, 24},
    {25, 25}, {26, 21}, {27, 27}, {28, 17}, {29, 29}, {30, 30}, {31, 28},
};
// DDR4 lane n carries the n-th DDR4 skew parameter.
constexpr ca_map_row d4_ca_map[32] = {
    {0, 0},   {1, 1},   {2, 2},   {3, 3},   {4, 4},   {5, 5},   {6, 6},   {7, 7},
    {8, 8},   {9, 9},   {10, 10}, {11, 11}, {12, 12}, {13, 13}, {14, 14}, {15, 15},
    {16, 16}, {17, 17}, {18, 18}, {19, 19}, {20, 20}, {21, 21}, {22, 22}, {23, 23},
    {24, 24}, {25, 25}, {26, 26}, {27, 27}, {28, 28}, {29, 29}, {30, 30}, {31, 31},
};
// LPDDR3 lanes 1, 3, 5, 7, 10, 16, 17, 21, 22 and 30 carry nothing.
constexpr ca_map_row lp3_ca_map[22] = {
    {0, 16},  {2, 17},  {4, 5},   {6, 20},  {8, 6},   {9, 2},  {11, 7},  {12, 4},
    {13, 3},  {14, 21}, {15, 0},  {18, 10}, {19, 1},  {20, 8}, {23, 11}, {24, 12},
    {25, 13}, {26, 14}, {27, 15}, {28, 19}, {29, 18}, {31, 9},
};

const std::array<skew_type, skew_type_count> types = {{
    {1, p::ddr3_skew_freq_mhz, p::ddr3_ca0_skew, d3_ca_map, 31},
    {10, p::ddr4_skew_freq_mhz, p::ddr4_ca0_skew, d4_ca_map, 32},
    {19, p::lp3_skew_freq_mhz, p::lp3_ca0_skew, lp3_ca_map, 22},
}};

bool supported(const tq6951_skew_info& rec, std::FILE* out) {
  if (rec.sub_version() == 1) return true;
  if (out) std::fprintf(out, msg::skew_sub_version_fmt, rec.sub_version());
  return false;
}

}  // namespace

const std::array<skew_type, skew_type_count>& skew_types() { return types; }

int tq6951_ca_skew_read_out(base_info& info, const tq6951_skew_info& vexdram_skew, std::FILE* out) {
  if (!supported(vexdram_skew, out)) return -1;
  for (const skew_type& t : types)
    for (std::size_t r = 0; r < t.row_count; ++r) {
      const ca_map_row row = t.rows[r];
      info[t.first_ca + row.param_offset] =
          (vexdram_skew.w[lane_word(t, row.lane)] >> lane_shift(row.lane)) & 0xFFu;
    }
  return 0;
}

int tq6951_mdf_ca_skew(const base_info& info, tq6951_skew_info& vexdram_skew,
                       std::size_t written_words, std::FILE* out) {
  if (!supported(vexdram_skew, out)) return -1;
  for (const skew_type& t : types)
    for (std::size_t r = 0; r < t.row_count; ++r) {
      const ca_map_row row = t.rows[r];
      const param prm = static_cast<param>(t.first_ca + row.param_offset);
      const std::uint32_t value = info[prm];
      // 0 means: keep the lane as the file has it.
      if (value == 0) continue;
      const std::size_t word = lane_word(t, row.lane);
      const unsigned shift = lane_shift(row.lane);
      if (word < written_words) warn_if_truncated(out, prm, value, 8);
      vexdram_skew.w[word] =
          (vexdram_skew.w[word] & ~(0xFFu << shift)) | ((value & 0xFFu) << shift);
    }
  return 0;
}

}  // namespace vexdram
