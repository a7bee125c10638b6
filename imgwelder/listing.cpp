// The unpack listing that loader hosts parse, and whether a host can read it.
#include "imgwelder/container.h"

#include "imgwelder/messages.h"
#include "imgwelder/text.h"

namespace imgwelder {

std::vector<std::string> listing(const container& c) {
  const auto& t471 = c.tables[0];
  const auto& t472 = c.tables[1];
  const auto& loaders = c.tables[2];
  std::vector<std::string> lines;

  const std::string family =
      c.chip_family == 'Q' || c.chip_family == 'N' ? std::string(1, c.chip_family) : "?";
  std::string chip;
  for (char ch : c.chip_code) chip += is_alnum(ch) ? ch : '?';
  const auto& rt = c.release_time;
  lines.push_back("imgwelder unpack");
  lines.push_back(
      format("header tag=%s version=%u.%u merge=0x%x chip=T%s%s "
             "release=%04u-%02u-%02u %02u:%02u:%02u sign=%u rc4=%u 471rc4off=%u crcoff=%u align=%u",
             c.ldr_tag ? "LDR" : "BOOT", c.version[1], c.version[0], c.merge_version,
             family.c_str(), chip.c_str(), rt[0] | rt[1] << 8, rt[2], rt[3], rt[4], rt[5], rt[6],
             c.sign_flag, c.rc4_flag, c.rc4_off_471, c.crc_off, c.alignment));
  lines.push_back(format("entries 471=%u 472=%u loader=%u", static_cast<unsigned>(t471.size()),
                         static_cast<unsigned>(t472.size()),
                         static_cast<unsigned>(loaders.size())));

  auto line = [&](const char* slot, std::size_t t, std::size_t i) {
    if (i >= c.tables[t].size()) {
      lines.push_back(format("%-6s (no image)", slot));
      return;
    }
    const image& img = c.tables[t][i];
    lines.push_back(format("%-6s %s #%u delay=%u size=%u file=%s", slot, table_label[t],
                           static_cast<unsigned>(i), img.delay,
                           static_cast<unsigned>(img.data.size()), img.name.c_str()));
  };

  if (t471.size() == 1 && t472.size() == 1 && loaders.size() == 2) {
    // the short listing, exactly 8 lines
    line("471", 0, 0);
    line("472", 1, 0);
    line("473_1", 2, 0);
    line("473_2", 2, 1);
  } else {
    // the long listing: fixed slots on lines 3 to 8, at least 10 lines in all
    const std::size_t last471 = t471.empty() ? 0 : t471.size() - 1;
    line("471_0", 0, 0);
    line("471", 0, last471);
    line("472", 1, 0);
    line("473_0", 2, 0);
    line("473_1", 2, 1);
    line("473_2", 2, 2);
    const bool extra471 = t471.size() > 2;
    const bool extra472 = t472.size() > 1;
    const bool more = loaders.size() > 3 || extra471 || extra472;
    // line 9 is read as the fourth loader image whenever the listing has more than 10 lines
    if (more) line("473_3", 2, 3);
    for (std::size_t i = 1; extra471 && i < last471; ++i) line("extra", 0, i);
    for (std::size_t i = 1; i < t472.size(); ++i) line("extra", 1, i);
    for (std::size_t i = 4; i < loaders.size(); ++i) line("extra", 2, i);
  }
  lines.push_back(format("unpacked %u images",
                         static_cast<unsigned>(t471.size() + t472.size() + loaders.size())));
  return lines;
}

bool listing_readable(const container& c, std::string& error) {
  const std::vector<std::string> lines = listing(c);
  const std::size_t last = lines.size() == 8 ? 6 : lines.size() > 10 ? 9 : 8;
  for (std::size_t i = 3; i <= last; ++i) {
    if (lines[i].find("file=") != std::string::npos) continue;
    const std::string slot = lines[i].substr(0, lines[i].find(' '));
    error = format(msg::empty_listing_slot, slot.c_str(), static_cast<unsigned>(c.tables[0].size()),
                   static_cast<unsigned>(c.tables[1].size()),
                   static_cast<unsigned>(c.tables[2].size()));
    return false;
  }
  return true;
}

}  // namespace imgwelder
