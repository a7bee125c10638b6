// The parameter block format as data: the index, every section's words with their fields, the
// bits no field claims, and where each section sits in the in-memory block image.
//
// Decoding and encoding are the two directions of these tables (codec.h); nobody writes a shift
// for a parameter by hand. Block words are little-endian u32; a field is (word, lowest bit,
// width, parameter); the bits of a word that no field claims are reserved (captured on decoding,
// put back on encoding) unless they are marked as not carried (written as 0).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tool/catalogue.h"

namespace vexdram {

// Block image: 136 words laid out as sdram_head_info_v2 (versions 2-4) or sdram_head_info_v5.
inline constexpr std::size_t block_image_words = 136;
using block_image = std::array<std::uint32_t, block_image_words>;

inline constexpr std::uint32_t start_tag_value = 0x12345678u;
// The start tag as the texts show it. A macro, so that fixed texts (messages, help, documents)
// are joined with it where they are written.
#define VEXDRAM_START_TAG "0x12345678"
inline constexpr char start_tag_text[] = VEXDRAM_START_TAG;
static_assert([] {
  std::uint32_t v = 0;
  for (const char* c = start_tag_text + 2; *c; ++c) v = v * 16 + std::uint32_t(*c - '0');
  return v == start_tag_value;  // (its digits are all decimal ones)
}());

// The section index, block words 2 to 8: 14 pairs of u8 offset (block word number, 0 = absent)
// and u8 size (words).
// clang-format off
enum index_entry : std::uint8_t {
  cpu_gen_index, global_index, ddr2_index, ddr3_index, ddr4_index, ddr5_index, lp2_index,
  lp3_index, lp4_index, lp5_index, skew_index, dq_map_index, lp4x_index, hash_index,
  index_entry_count
};
// clang-format on
struct index_info {
  std::uint8_t offset = 0;
  std::uint8_t size = 0;
};
struct sdram_head_info_index_v2 {
  std::array<index_info, index_entry_count> entry{};
  const index_info& operator[](index_entry e) const { return entry[e]; }
};
inline constexpr std::size_t index_bytes = 28;

// The LPDDR4X and hash entries count as absent when their size is above this bound.
inline constexpr std::uint8_t max_bounded_size = 226;

struct field {
  std::uint8_t word;
  std::uint8_t lo;
  std::uint8_t width;
  param parameter;
  bool decoded = true;  // false: written only (the version-1 record's dis_train_print and
                        // res_space_remap_portion decode as 0)
};
// The largest value a field of this width holds.
constexpr std::uint32_t width_max(unsigned width) {
  return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u);
}
constexpr std::uint32_t field_max(const field& f) { return width_max(f.width); }
constexpr std::uint32_t field_mask(const field& f) { return field_max(f) << f.lo; }
constexpr std::uint32_t field_get(const field& f, std::uint32_t word) {
  return (word >> f.lo) & field_max(f);
}
constexpr std::uint32_t field_prep(const field& f, std::uint32_t value) {
  return (value & field_max(f)) << f.lo;
}
// Whether a value fits a field of this width as it is: the one check behind the tool's warning
// and vexdram's refusal of a value too wide for its field.
constexpr bool field_fits(unsigned width, std::uint32_t value) { return value <= width_max(width); }

struct field_span {
  const field* first = nullptr;
  std::size_t count = 0;
  const field* begin() const { return first; }
  const field* end() const { return first + count; }
};

inline constexpr std::size_t max_section_words = 13;
using word_masks = std::array<std::uint32_t, max_section_words>;

// The sections that live in the block image, in the order the block image lays them out.
// clang-format off
enum class section : std::uint8_t {
  global, ddr2, ddr3, ddr4, lp2, lp3, lp4, dq_map, lp4x, lp5, hash, count
};
// clang-format on
inline constexpr std::size_t section_count = static_cast<std::size_t>(section::count);

struct section_desc {
  section id;
  index_entry entry;
  const char* name;  // as the documents name it: "global", "DDR3", "DQ map", ...
  field_span fields;
  std::uint8_t room_v2;   // words of its record in versions 2-4
  std::uint8_t room_v5;   // and in version 5
  std::uint8_t image_v2;  // first word of its record in the block image, versions 2-4
  std::uint8_t image_v5;  // and in version 5
  word_masks not_carried;
  bool size_bound;  // absent when its size is above max_bounded_size
  const char* read_fail;
  const char* write_fail;
};

const section_desc& section_info(section s);

inline bool is_v5(std::uint32_t version) { return version == 5; }
inline std::uint8_t section_room(const section_desc& d, std::uint32_t version) {
  return is_v5(version) ? d.room_v5 : d.room_v2;
}
inline std::uint8_t section_image_pos(const section_desc& d, std::uint32_t version) {
  return is_v5(version) ? d.image_v5 : d.image_v2;
}

// A section takes part in reading, decoding, encoding and writing when its offset is non-zero
// (and, for LPDDR4X and hash, its size is within the bound).
bool section_present(const section_desc& d, const sdram_head_info_index_v2& index);
// The words read from and written to the file: the index size, clamped to the record's room so
// that nothing beyond the record is ever read or written.
std::uint8_t section_words(const section_desc& d, const sdram_head_info_index_v2& index,
                           std::uint32_t version);

// Bits of word w that no field of the section claims and that are carried: the reserved bits.
std::uint32_t reserved_mask(const section_desc& d, std::size_t w);
// Bits of word w that some field claims.
std::uint32_t claimed_mask(field_span fields, std::size_t w);

// The version-1 record (versions 0 and 1): seven words decoded, ten written, no reserved bits
// (every unclaimed bit is written as 0). It starts at block word 3.
inline constexpr std::size_t v1_decoded_words = 7;
inline constexpr std::size_t v1_record_words = 10;
field_span v1_fields();

// Step orders of the run: each step is a section, or the DDR5 entry or the skew section.
enum class step : std::uint8_t {
  global,
  ddr2,
  ddr3,
  ddr4,
  lp2,
  lp3,
  lp4,
  dq_map,
  lp4x,
  lp5,
  hash,
  ddr5,
  skew
};
inline section step_section(step s) { return static_cast<section>(s); }
inline constexpr std::array<step, 13> read_order = {
    step::global, step::ddr2, step::ddr3, step::ddr4,   step::ddr5, step::lp2, step::lp3,
    step::lp4,    step::lp5,  step::skew, step::dq_map, step::lp4x, step::hash};
inline constexpr std::array<step, 12> decode_order = {
    step::global, step::ddr2,   step::ddr3, step::ddr4, step::lp2,  step::lp3,
    step::lp4,    step::dq_map, step::lp4x, step::lp5,  step::skew, step::hash};
inline constexpr std::array<step, 13> write_order = {
    step::global, step::ddr2,   step::ddr3, step::ddr4, step::ddr5, step::lp2, step::lp3,
    step::lp4,    step::dq_map, step::lp4x, step::lp5,  step::skew, step::hash};

}  // namespace vexdram
