// Builds synthetic DDR binaries: any version, any set of sections with any offsets and sizes, a
// tq6951 skew record, any bytes around the block. Everything not given is filled from a seeded
// random generator, so reserved bits and neighbouring bytes are never conveniently zero.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "tool/layout.h"
#include "tool/tq6951_dram.h"

namespace vexdram::synth {

struct ddr_spec {
  std::uint32_t version = 5;
  std::size_t lead = 64;  // bytes before the start tag (not a multiple of 4: the tag is hidden)
  std::size_t tail = 32;  // bytes after the last block word
  std::uint64_t seed = 1;
  sdram_head_info_index_v2 index{};  // offsets in block words, sizes in words
  std::map<index_entry, std::vector<std::uint32_t>> words;  // section contents, by entry
  int skew_sub_version = -1;             // >= 0: bits 0-7 of the skew section's first word
  std::vector<std::uint32_t> v1_record;  // version 0/1: record words from block word 3
};

// Block word count the spec needs (the furthest section end, at least the index).
std::size_t block_words(const ddr_spec& spec);
std::vector<std::uint8_t> build(const ddr_spec& spec);
// Position of the start tag in what build() returns.
inline std::uint64_t tag_pos(const ddr_spec& spec) { return spec.lead; }

// Lays the given sections out one after another, starting right after the index, each with its
// record's full size for the version (the skew section: 28 words).
ddr_spec plan(std::uint32_t version, const std::vector<index_entry>& entries,
              std::uint64_t seed = 1);
// Every section but DDR5.
std::vector<index_entry> all_sections();
// The record size of an index entry for a version (skew: 28).
std::uint8_t record_words(index_entry e, std::uint32_t version);

}  // namespace vexdram::synth
