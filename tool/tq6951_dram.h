// The skew section of the chip tq6951 (skew sub-version 1): per type (DDR3, DDR4, LPDDR3) one
// skew frequency word and 32 one-byte CA lanes, tied to the catalogue's skew parameters by three
// constant maps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tool/catalogue.h"

namespace vexdram {

inline constexpr std::size_t tq6951_skew_words = 28;

// The whole skew section as stored: word 0 the sub-version (bits 0-7), then d3, d4 and lp3, each
// a tq6951_ca_skew of 9 words (skew_freq, then ca_skew[8]).
struct tq6951_skew_info {
  std::array<std::uint32_t, tq6951_skew_words> w{};
  std::uint32_t sub_version() const { return w[0] & 0xFFu; }
};

struct ca_map_row {
  std::uint8_t lane;          // 0-31: ca_skew word lane / 4, bits 24 - 8 * (lane % 4) up
  std::uint8_t param_offset;  // counted from the type's first CA skew parameter
};

struct skew_type {          // d3, d4 and lp3 in the record
  std::size_t record_word;  // its skew_freq word in the record (1, 10, 19)
  param freq;               // ddr3_skew_freq_mhz, ...
  param first_ca;           // ddr3_ca0_skew, ...
  const ca_map_row* rows;
  std::size_t row_count;
};
inline constexpr std::size_t skew_type_count = 3;
const std::array<skew_type, skew_type_count>& skew_types();

inline constexpr unsigned skew_freq_bits = 12;  // bits 0-11; bits 12-31 are reserved
inline constexpr std::uint32_t skew_freq_mask = (1u << skew_freq_bits) - 1u;

// The record word and bit position of a lane of a type.
inline std::size_t lane_word(const skew_type& t, std::size_t lane) {
  return t.record_word + 1 + lane / 4;
}
inline unsigned lane_shift(std::size_t lane) { return 24u - 8u * static_cast<unsigned>(lane % 4); }

// Lanes to parameters. Returns -1 (with its message on out) for a sub-version other than 1.
int tq6951_ca_skew_read_out(base_info& info, const tq6951_skew_info& vexdram_skew, std::FILE* out);

// Parameters to lanes: a lane whose parameter is 0 keeps the record's byte; otherwise the byte
// becomes the parameter's low 8 bits. written_words is how many record words reach the file, for
// the warnings of values that do not fit (printed on out when it is not null).
int tq6951_mdf_ca_skew(const base_info& info, tq6951_skew_info& vexdram_skew,
                       std::size_t written_words, std::FILE* out);

}  // namespace vexdram
