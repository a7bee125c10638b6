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

int gen_info_from_bin(std::FILE* report, const base_info& info_from_bin) {
  std::rewind(report);
  std::fprintf(report, "%s=%s\n", base_info_tag[0].data(), start_tag_text);
  char value[16];
  for (std::size_t n = 1; n < base_info_tag_size; ++n)
    std::fprintf(report, "%s=%s\n", base_info_tag[n].data(),
                 report_value(n, info_from_bin[n], value));
  std::fputs("end\n", report);
  return (std::fflush(report) == 0 && !std::ferror(report)) ? 0 : -1;
}

void write_template(std::FILE* out) {
  std::fprintf(out, "%s=%s\n", base_info_tag[0].data(), start_tag_text);
  for (std::size_t n = 1; n < base_info_tag_size; ++n)
    std::fprintf(out, "%s=\n", base_info_tag[n].data());
  std::fputs("end\n", out);
}

}  // namespace vexdram
