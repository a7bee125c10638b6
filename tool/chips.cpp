// The chip names vexdram_tool accepts, and the older family's names that select the version-1
// short record.
#include "tool/run.h"

#include <cstring>

namespace vexdram {

// clang-format off
const std::array<const char*, 35> chip_names = {
    "tq615y", "tq6152", "tw4uf", "tq6154", "tq637y", "tq6154g", "tq6371m", "tq6371n", "tq6373",
    "tq6805", "tw2", "tq637yg", "tq6371g", "tq6471", "tq6490", "tw41", "tq6490u", "tw41u",
    "tq6912", "tq6730", "tq5203", "tn2470", "tn2463", "tq6420", "tn2462", "tq6583", "tq6585",
    "tq658y", "tq6934", "tq6947", "tn2460", "tn2457", "tq6951", "tq6574", "tq5041",
};
// clang-format on
const std::array<const char*, 3> older_family_names = {"tq637yg", "tq6471", "tq6470"};

bool chip_supported(const char* name) {
  for (const char* c : chip_names)
    if (std::strcmp(c, name) == 0) return true;
  return false;
}

bool path_names_older_family(const char* path) {
  for (const char* c : older_family_names)
    if (std::strstr(path, c)) return true;
  return false;
}

}  // namespace vexdram
