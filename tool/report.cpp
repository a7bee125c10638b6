#include "tool/report.h"

#include "tool/layout.h"

namespace vexdram {
namespace {
constexpr bool has(std::size_t n, std::string_view part) {
  return base_info_tag[n].find(part) != std::string_view::npos;
}
// Decided once, by the compiler, for every key: the report and the echo ask for each line.
template <typename Rule>
constexpr std::array<bool, base_info_tag_size> for_every_key(Rule rule) {
  std::array<bool, base_info_tag_size> t{};
  for (std::size_t n = 0; n < base_info_tag_size; ++n) t[n] = rule(n);
  return t;
}
constexpr auto hex_in_report = for_every_key([](std::size_t n) {
  return n == p::start_tag || has(n, "_map") || has(n, "pstore") || has(n, "_mask") ||
         (has(n, "_skew") && !has(n, "skew_freq_mhz"));
});
constexpr auto hex_in_echo = for_every_key([](std::size_t n) { return has(n, "_skew"); });
}  // namespace

bool report_in_hex(std::size_t n) { return hex_in_report[n]; }

bool echo_in_hex(std::size_t n) { return hex_in_echo[n]; }

const char* report_value(std::size_t n, std::uint32_t value, char (&buf)[16]) {
  if (report_in_hex(n)) std::snprintf(buf, sizeof buf, "0x%x", value);
  else std::snprintf(buf, sizeof buf, "%d", static_cast<std::int32_t>(value));
  return buf;
}

std::string report_text(const base_info& info_from_bin) {
  std::string text = std::string(base_info_tag[0]) + "=" + start_tag_text + "\n";
  text.reserve(16 * 1024);
  char value[16];
  for (std::size_t n = 1; n < base_info_tag_size; ++n)
    text.append(base_info_tag[n])
        .append("=")
        .append(report_value(n, info_from_bin[n], value))
        .append("\n");
  return text.append("end\n");
}

int gen_info_from_bin(std::FILE* report, const base_info& info_from_bin) {
  std::rewind(report);
  const std::string text = report_text(info_from_bin);
  const bool whole = std::fwrite(text.data(), 1, text.size(), report) == text.size();
  return (whole && std::fflush(report) == 0 && !std::ferror(report)) ? 0 : -1;
}

std::string blank_template() {
  std::string text = std::string(base_info_tag[0]) + "=" + start_tag_text + "\n";
  for (std::size_t n = 1; n < base_info_tag_size; ++n) text.append(base_info_tag[n]).append("=\n");
  return text.append("end\n");
}

void write_template(std::FILE* out) { std::fputs(blank_template().c_str(), out); }

}  // namespace vexdram
