#include "tool/places.h"

#include <cstdio>
#include <string_view>

#include "tool/layout.h"
#include "tool/report.h"
#include "tool/run.h"
#include "tool/tq6951_dram.h"

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
      w[f.parameter].push_back(
          {place::in::versions_0_to_1, v1_record, f.word, f.lo, f.width, f.decoded});
    for (const skew_type& t : skew_types()) {
      w[t.freq].push_back({place::in::versions_2_to_5, skew_section,
                           static_cast<unsigned>(t.record_word), 0, skew_freq_bits, true, -1,
                           true});
      for (std::size_t r = 0; r < t.row_count; ++r) {
        const ca_map_row row = t.rows[r];
        w[t.first_ca + row.param_offset].push_back({place::in::versions_2_to_5, skew_section,
                                                    static_cast<unsigned>(lane_word(t, row.lane)),
                                                    lane_shift(row.lane), 8, true,
                                                    static_cast<int>(row.lane), true});
      }
    }
    return w;
  }();
  return where;
}

namespace {
constexpr const char* skew_group = "tq6951 skew";
constexpr const char* unstored_group = "not stored";

std::string json_str(std::string_view s) {
  std::string t = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') t += '\\';
    t += c;
  }
  return t + "\"";
}

// A place as the JSON catalogue writes it.
std::string json_place(const place& p) {
  const char* versions = p.versions == place::in::version_5         ? "[5]"
                         : p.versions == place::in::versions_0_to_1 ? "[0,1]"
                                                                    : "[2,3,4,5]";
  std::string t = std::string("{\"versions\":") + versions + ",\"section\":" +
                  json_str(p.section == v1_record ? "version 0-1 record" : p.section) +
                  ",\"word\":" + std::to_string(p.word) + ",\"lo\":" + std::to_string(p.lo) +
                  ",\"width\":" + std::to_string(p.width);
  if (!p.decoded) t += ",\"reads_as_zero\":true";
  if (p.tq6951) t += ",\"chip\":\"tq6951\"";
  if (p.lane >= 0) t += ",\"lane\":" + std::to_string(p.lane) + ",\"zero_keeps\":true";
  return t + "}";
}
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
  for (std::size_t s = 0; s < section_count; ++s)
    groups.push_back(section_info(static_cast<section>(s)).name);
  groups.push_back(skew_group);
  groups.push_back(unstored_group);
  return groups;
}

std::string catalogue_json() {
  const auto& where = parameter_places();
  std::string j = "{\n\"chips\":[";
  for (std::size_t i = 0; i < chip_names.size(); ++i) j += (i ? "," : "") + json_str(chip_names[i]);
  j += "],\n\"groups\":[";
  const std::vector<std::string> groups = parameter_groups();
  for (std::size_t i = 0; i < groups.size(); ++i) j += (i ? "," : "") + json_str(groups[i]);
  char tag[16];
  std::snprintf(tag, sizeof tag, "0x%x", start_tag_value);
  j += std::string("],\n\"start_tag\":\"") + tag + "\",\n\"parameters\":[\n";
  for (std::size_t n = 0; n < base_info_tag_size; ++n) {
    std::string list;
    for (const place& p : where[n]) list += (list.empty() ? "" : ",") + json_place(p);
    j += "{\"n\":" + std::to_string(n) + ",\"key\":" + json_str(base_info_tag[n]) +
         ",\"format\":\"" + (report_in_hex(n) ? "hex" : "decimal") +
         "\",\"group\":" + json_str(parameter_group(n)) + ",\"places\":[" + list + "]}" +
         (n + 1 < base_info_tag_size ? "," : "") + "\n";
  }
  return j + "]\n}\n";
}

}  // namespace vexdram
