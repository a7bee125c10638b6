// Every place that stores each parameter, walked once through the layout tables, the version-0/1
// record and the tq6951 skew maps: what the documents and `vexdram keys` tell about a parameter.
#pragma once

#include <string>
#include <vector>

#include "tool/catalogue.h"

namespace vexdram {

// One place, as the tables give it: the block versions that have it, the section (or the
// version-0/1 record), the word counted from 0 in it, the lowest bit and the width.
struct place {
  enum class in { versions_2_to_5, version_5, versions_0_to_1 } versions;
  const char* section;  // a section's name; v1_record for the version-0/1 record
  unsigned word, lo, width;
  bool decoded = true;  // false: written only, reads as 0
  int lane = -1;        // a tq6951 skew lane (0 keeps the lane); -1 for other places
  bool tq6951 = false;  // the skew section, understood for the chip tq6951 alone
  bool holds(std::uint32_t version) const {
    return versions == in::versions_0_to_1 ? version <= 1
           : versions == in::version_5     ? version == 5
                                           : version >= 2 && version <= 5;
  }
};
inline constexpr char v1_record[] = "record";  // one object: places compare its address
inline constexpr char skew_section[] = "skew";

// Indexed by parameter number; a parameter no block form stores has no place.
const std::vector<std::vector<place>>& parameter_places();

// The group a host shows a parameter in: its section's name, "tq6951 skew", or "not stored"
// (the start tag stands with the global section).
std::string parameter_group(std::size_t n);
// Every group, in the order of the block.
std::vector<std::string> parameter_groups();

// The catalogue as JSON, for hosts (the studio's vexdram_catalogue.json, `vexdram keys --json`):
// the chips, the groups, the start tag and every parameter's number, key, report format, group
// and places (block versions, section, word counted from 0 in the section or record, lowest bit,
// width; a skew lane names its chip and that 0 keeps it). One parameter a line.
std::string catalogue_json();

}  // namespace vexdram
