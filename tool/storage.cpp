// Where each parameter lives in a block, as encoding and writing back treat it, and the sections
// that writing back would write over each other.
#include "tool/run.h"

#include <vector>

#include "tool/block_detail.h"

namespace vexdram {
using namespace block_detail;

std::array<stored_field, base_info_tag_size> stored_fields(const run_context& ctx,
                                                           const block_location& at) {
  std::array<stored_field, base_info_tag_size> where{};
  if (v1_layout(ctx.version)) {
    // The short form writes record words 3 to 9 only.
    const std::size_t first = ctx.tq637y_en ? 3 : 0;
    for (const field& f : v1_fields())
      where[f.parameter] = {!f.decoded       ? storage::reads_as_zero
                            : f.word < first ? storage::short_form
                                             : storage::stored,
                            f.width};
    return where;
  }
  if (!has_index(ctx.version)) return where;
  for (std::size_t s = 0; s < section_count; ++s) {
    const section_desc& d = section_info(static_cast<section>(s));
    const std::uint8_t words = section_words(d, at.index, ctx.version);
    for (const field& f : d.fields) {
      const storage why = f.word >= section_room(d, ctx.version) ? storage::version_lacks
                          : !section_present(d, at.index)        ? storage::no_section
                          : f.word >= words                      ? storage::section_short
                                                                 : storage::stored;
      where[f.parameter] = {why, f.width, &d};
    }
  }
  // The skew record is encoded and written only when it was read: chip tq6951, sub-version 1.
  const bool skew_read = ctx.skew_state == skew_found::sub_version_1;
  const std::size_t written = skew_words(at.index);
  auto skew = [&](param prm, std::size_t word, unsigned width, bool zero_keeps) {
    where[prm] = {!skew_read       ? storage::skew_not_read
                  : word < written ? storage::stored
                                   : storage::section_short,
                  static_cast<std::uint8_t>(width), nullptr, zero_keeps};
  };
  for (const skew_type& t : skew_types()) {
    skew(t.freq, t.record_word, skew_freq_bits, false);
    for (std::size_t r = 0; r < t.row_count; ++r)
      skew(static_cast<param>(t.first_ca + t.rows[r].param_offset), lane_word(t, t.rows[r].lane), 8,
           true);
  }
  return where;
}

std::string overlapping_sections(const run_context& ctx, const block_location& at) {
  if (!has_index(ctx.version)) return "";
  struct span {
    const char* name;
    std::uint32_t from, to;  // block words
  };
  // The start tag, the version word and the index come first: block words 0 to 8.
  std::vector<span> spans{{"index", 0, 9}};
  for (std::size_t s = 0; s < section_count; ++s) {
    const section_desc& d = section_info(static_cast<section>(s));
    if (section_present(d, at.index)) {
      const std::uint32_t from = at.index[d.entry].offset;
      spans.push_back({d.name, from, from + section_words(d, at.index, ctx.version)});
    }
  }
  // The skew section of chip tq6951 is written back when it is of sub-version 1. Of another
  // sub-version it is not, but its first word still decides how it reads: a section written over
  // that word could make it sub-version 1, and its parameters read otherwise than before.
  const std::uint32_t skew_from = at.index[skew_index].offset;
  if (ctx.skew_state == skew_found::sub_version_1)
    spans.push_back(
        {"skew", skew_from, static_cast<std::uint32_t>(skew_from + skew_words(at.index))});
  else if (ctx.skew_state == skew_found::other_sub_version)
    spans.push_back({"skew", skew_from, skew_from + 1});
  for (std::size_t i = 0; i < spans.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (spans[i].from < spans[j].to && spans[j].from < spans[i].to)
        return std::string(spans[j].name) + " and " + spans[i].name;
  return "";
}

}  // namespace vexdram
