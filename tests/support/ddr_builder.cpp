#include "tests/support/ddr_builder.h"

#include <algorithm>

#include "tool/ddr_file.h"

namespace vexdram::synth {

std::uint8_t record_words(index_entry e, std::uint32_t version) {
  switch (e) {
    case global_index:
    case dq_map_index:
    case hash_index: return 8;
    case ddr2_index:
    case ddr3_index:
    case ddr4_index:
    case ddr5_index:
    case lp2_index:
    case lp3_index: return version == 5 ? 11 : 9;
    case lp4_index:
    case lp4x_index:
    case lp5_index: return 13;
    case skew_index: return static_cast<std::uint8_t>(tq6951_skew_words);
    default: return 4;
  }
}

std::vector<index_entry> all_sections() {
  return {global_index, ddr2_index, ddr3_index, ddr4_index,   lp2_index,  lp3_index,
          lp4_index,    lp5_index,  skew_index, dq_map_index, lp4x_index, hash_index};
}

ddr_spec plan(std::uint32_t version, const std::vector<index_entry>& entries, std::uint64_t seed) {
  ddr_spec s;
  s.version = version;
  s.seed = seed;
  std::size_t next = 9;  // block words 0-8: tag, version, index
  for (index_entry e : entries) {
    const std::uint8_t size = record_words(e, version);
    s.index.entry[e] = {static_cast<std::uint8_t>(next), size};
    next += size;
  }
  return s;
}

std::size_t block_words(const ddr_spec& spec) {
  std::size_t end = spec.version <= 1 ? 3 + std::max<std::size_t>(10, spec.v1_record.size()) : 9;
  if (spec.version > 1)
    for (const index_info& e : spec.index.entry)
      if (e.offset != 0) end = std::max<std::size_t>(end, std::size_t{e.offset} + e.size);
  return end;
}

std::vector<std::uint8_t> build(const ddr_spec& spec) {
  std::mt19937_64 rng(spec.seed);
  const std::size_t words = block_words(spec);
  std::vector<std::uint8_t> out(spec.lead + 4 * words + spec.tail);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  // Keep the tag unique: no stray copy of it in the random bytes before the block.
  for (std::size_t i = 0; i + 4 <= spec.lead; ++i)
    if (load_le32(out.data() + i) == start_tag_value) out[i] ^= 0xFF;
  std::uint8_t* block = out.data() + spec.lead;
  auto put = [&](std::size_t word, std::uint32_t v) {
    if (word < words) store_le32(block + 4 * word, v);
  };
  put(0, start_tag_value);
  put(1, spec.version);
  if (spec.version <= 1) {
    for (std::size_t i = 0; i < spec.v1_record.size(); ++i) put(3 + i, spec.v1_record[i]);
    return out;
  }
  for (std::size_t e = 0; e < index_entry_count; ++e) {
    block[8 + 2 * e] = spec.index.entry[e].offset;
    block[8 + 2 * e + 1] = spec.index.entry[e].size;
  }
  for (const auto& [entry, content] : spec.words) {
    const index_info& e = spec.index.entry[entry];
    if (e.offset == 0) continue;
    for (std::size_t i = 0; i < content.size(); ++i) put(std::size_t{e.offset} + i, content[i]);
  }
  const index_info& skew = spec.index.entry[skew_index];
  if (spec.skew_sub_version >= 0 && skew.offset != 0 && skew.offset < words) {
    block[4 * skew.offset] = static_cast<std::uint8_t>(spec.skew_sub_version);
  }
  return out;
}

}  // namespace vexdram::synth
