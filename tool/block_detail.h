// What the block's steps share inside the core: version classes, where a section lies in the file
// and in the image, how many skew words are read and written, and one message to the run's output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "tool/run.h"

namespace vexdram::block_detail {

inline void say(const run_context& ctx, const char* text) {
  if (ctx.out) std::fputs(text, ctx.out);
}

inline block_outcome failed(outcome what, std::optional<step> in = std::nullopt) {
  return {what, in};
}

inline bool v1_layout(std::uint32_t version) { return version <= 1; }
inline bool has_index(std::uint32_t version) { return version >= 2 && version <= 5; }

// File position of a section: offsets count in words from the version word, which is offset 1.
inline std::uint64_t section_pos(std::uint64_t bin_skew_offset, std::uint8_t offset) {
  return bin_skew_offset + (static_cast<std::uint64_t>(offset) - 1u) * 4u;
}

inline std::uint32_t* record(block_image& img, const section_desc& d, std::uint32_t version) {
  return img.data() + section_image_pos(d, version);
}
inline const std::uint32_t* record(const block_image& img, const section_desc& d,
                                   std::uint32_t version) {
  return img.data() + section_image_pos(d, version);
}

inline std::size_t skew_words(const sdram_head_info_index_v2& index) {
  const std::size_t size = index[skew_index].size;
  return size < tq6951_skew_words ? size : tq6951_skew_words;
}

// The lines of the sections not written whole, in the order of writing; with "not support ddr5"
// at its place when the index has a DDR5 entry.
void say_unwritten(const run_context& ctx, const block_outcome& o);

}  // namespace vexdram::block_detail
