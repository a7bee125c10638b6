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

}  // namespace vexdram
