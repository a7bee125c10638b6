#include "places.h"

#include "layout.h"
#include "tq6951_dram.h"

namespace vexdram {

const std::vector<std::vector<place>>& parameter_places() {
  static const std::vector<std::vector<place>> where = [] {
    std::vector<std::vector<place>> w(base_info_tag_size);
    for (std::size_t s = 0; s < section_count; ++s) {
      const section_desc& d = section_info(static_cast<section>(s));
      for (const field& f : d.fields) {
        const bool v5_only = d.room_v2 < d.room_v5 && f.word >= d.room_v2;
        w[f.parameter].push_back({v5_only ? place::in::version_5 : place::in::versions_2_to_5,
                                  d.name, f.word, f.lo, f.width});
      }
    }
    for (const field& f : v1_fields())
      w[f.parameter].push_back({place::in::versions_0_to_1, v1_record, f.word, f.lo, f.width, f.decoded});
    for (const skew_type& t : skew_types()) {
      w[t.freq].push_back({place::in::versions_2_to_5, skew_section,
                           static_cast<unsigned>(t.record_word), 0, skew_freq_bits, true, -1, true});
      for (std::size_t r = 0; r < t.row_count; ++r) {
        const ca_map_row row = t.rows[r];
        w[t.first_ca + row.param_offset].push_back(
            {place::in::versions_2_to_5, skew_section, static_cast<unsigned>(lane_word(t, row.lane)),
             lane_shift(row.lane), 8, true, static_cast<int>(row.lane), true});
      }
    }
    return w;
  }();
  return where;
}

namespace {
constexpr const char* skew_group = "tq6951 skew";
constexpr const char* unstored_group = "not stored";
}  // namespace

std::string parameter_group(std::size_t n) {
  if (n == p::start_tag) return section_info(section::global).name;
  std::string group = unstored_group;
  // (the version-0/1 record aside: a parameter stands with its section)
  for (const place& pl : parameter_places()[n])
    if (pl.section != v1_record) group = pl.tq6951 ? skew_group : pl.section;
  return group;
}

std::vector<std::string> parameter_groups() {
  std::vector<std::string> groups;
  for (std::size_t s = 0; s < section_count; ++s) groups.push_back(section_info(static_cast<section>(s)).name);
  groups.push_back(skew_group);
  groups.push_back(unstored_group);
  return groups;
}

}  // namespace vexdram
