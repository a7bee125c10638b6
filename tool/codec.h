// Decoding and encoding of section records: one loop over a layout table, and the same loop
// backwards. No I/O and no allocation here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tool/catalogue.h"
#include "tool/layout.h"
#include "tool/tq6951_dram.h"

namespace vexdram {

// The reserved store: every reserved bit range captured by decoding, put back by encoding in the
// same run. Kept in place (not shifted), one entry per section word and per skew type.
struct reserved_store {
  std::array<word_masks, section_count> section{};
  std::array<std::uint32_t, skew_type_count> skew_freq{};  // bits 12-31 of the skew_freq words
};

// words: the section's record (room words, zero past what was read).
void decode_section(const section_desc& d, const std::uint32_t* words, std::size_t room,
                    base_info& info, word_masks& reserved);
void encode_section(const section_desc& d, const base_info& info, const word_masks& reserved,
                    std::uint32_t* words, std::size_t room);

// The version-1 record: decode 7 words, encode 10 (words 7 to 9 stay 0).
void decode_v1(const std::uint32_t* words, base_info& info);
void encode_v1(const base_info& info, std::uint32_t* words);

// The skew_freq words of the tq6951 skew record.
void decode_skew_freqs(const tq6951_skew_info& rec, base_info& info, reserved_store& reserved);
void encode_skew_freqs(const base_info& info, const reserved_store& reserved,
                       tq6951_skew_info& rec);

// Calls fn(field) for every field of fields that lies in words [first, end).
template <typename Fn>
void for_each_field_in(field_span fields, std::size_t first, std::size_t end, Fn&& fn) {
  for (const field& f : fields)
    if (f.word >= first && f.word < end) fn(f);
}

}  // namespace vexdram
