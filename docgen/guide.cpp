// The user guide, docs/vexdram_tool_user_guide.txt: the tool's own texts (tool/command_text.h),
// then a reference of every parameter's places from the layout tables.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "docgen/documents.h"
#include "docgen/render.h"
#include "tool/command_text.h"
#include "tool/places.h"
#include "tool/report.h"
#include "tool/run.h"

namespace vexdram::docgen {
namespace {

constexpr std::size_t guide_width = 95;

// A place as the guide's reference writes it.
std::string guide_place(const place& p) {
  const char* versions = p.versions == place::in::version_5         ? "version 5"
                         : p.versions == place::in::versions_0_to_1 ? "versions 0-1"
                                                                    : "versions 2-5";
  std::string t = std::string(versions) + (p.tq6951 ? ", chip tq6951" : "") + ": " + p.section +
                  (p.section == v1_record ? "" : " section") + " word " + std::to_string(p.word) +
                  ", " + bits(p.lo, p.width);
  if (p.lane >= 0) t += " (lane " + std::to_string(p.lane) + "; 0 keeps the lane)";
  if (!p.decoded) t += ", written only (reads as 0)";
  return t;
}

const char* const intro = R"(vexdram_tool user guide
=======================

@SUMMARY@

1. Running it
-------------

)";

const char* const modes = R"(
Report mode (-g) writes every parameter of the DDR binary to REPORT:

    ./vexdram_tool tq6583 -g gen_param.txt tq6583_ddr.bin

The DDR binary is opened read-only, so a write-protected binary can be reported. REPORT is
created (or emptied) before the binary is examined. REPORT must not be the DDR binary itself.

Modify mode merges PARAM_FILE into the DDR binary, in place. Work on a copy:

    cp tq6583_ddr.bin tq6583_ddr_new.bin
    ./vexdram_tool tq6583 vexdram_param.txt tq6583_ddr_new.bin

It prints the merged configuration ("new bin config:", one line for every parameter that the
file gives a value: "key: value", in hexadecimal for keys with "_skew"), writes each section
present in the binary back at its own position, flushes the binary to the disk, and ends with
"modify end": when it prints that, the data is on the disk.

2. The parameter file
---------------------

)";

// Chapter 4, its figures taken from the core's tables.
std::string block() {
  // Sections of one length, in table order: "global, DQ map and hash 8 words", ...
  std::vector<std::pair<std::string, std::pair<int, int>>> groups;
  for (std::size_t i = 0; i < section_count; ++i) {
    const section_desc& d = section_info(static_cast<section>(i));
    const std::pair<int, int> room{d.room_v2, d.room_v5};
    auto g = std::find_if(groups.begin(), groups.end(), [&](auto& x) { return x.second == room; });
    if (g == groups.end()) groups.push_back({d.name, room});
    else g->first += std::string("/") + d.name;
  }
  std::string rooms;
  for (const auto& [names, room] : groups)
    rooms +=
        names + " " + std::to_string(room.first) +
        (room.second != room.first ? ", or " + std::to_string(room.second) + " in version 5" : "") +
        ", ";
  const std::string n = std::to_string(index_entry_count), b = std::to_string(index_bytes);
  return "\n4. The block\n------------\n\n" +
         wrap(
             "The tool reads the file word by word from its start and stops at the first word, at "
             "a position that is a multiple of 4, equal to the start tag. The next word is the "
             "version: versions 2 to 5 have a " +
                 b + "-byte index of " + n +
                 " (offset, size) pairs giving each section's position (in words from the "
                 "version word, which is offset 1) and length in words; offset 0 means absent. "
                 "Versions 0 and 1 have a fixed record instead, from the fourth block word: " +
                 std::to_string(v1_decoded_words) + " words are read, " +
                 std::to_string(v1_record_words) + " written (the last " +
                 std::to_string(v1_record_words - v1_decoded_words) +
                 " as 0); the short form, for file names with the older-family names, writes "
                 "only the record's words 3 to " +
                 std::to_string(v1_record_words - 1) +
                 ". Nothing is written past the end of the file.",
             guide_width, "", "") +
         "\n" +
         wrap("A section longer than its record (" + rooms + "skew " +
                  std::to_string(tq6951_skew_words) +
                  ") is read and written only up to the record's length. LPDDR4X and hash "
                  "sections of more than " +
                  std::to_string(max_bounded_size) +
                  " words count as absent. A DDR5 section is refused (\"" +
                  trim_nl(msg::not_support_ddr5) +
                  "\"). Bits that no parameter uses are kept as they are.",
              guide_width, "", "") +
         "\n5. Messages and exit status\n---------------------------\n\nEverything is printed on "
         "standard output. Exit status:\n\n";
}

}  // namespace

void write_guide(std::FILE* g) {
  std::string head = intro;
  head.replace(
      head.find("@SUMMARY@\n"), 10,
      wrap(std::string(text::summary) + " The parameter reference (section 6) lists all of them.",
           guide_width, "", ""));
  std::fputs(head.c_str(), g);
  for (const text::invocation& i : text::invocations) {
    const std::string line = std::string("    vexdram_tool ") + i.args;
    std::fprintf(g, "%-53s%s\n", line.c_str(), i.what);
  }
  std::fputs("\nOptions:\n\n", g);
  for (const text::option_text& o : text::options) {
    const std::string name = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
    std::fprintf(g, "    %s\n", name.c_str());
    std::fputs(wrap(o.meaning, guide_width, "        ", "        ").c_str(), g);
  }
  std::fputs("\nCHIP is one of the supported chip names, exactly as written (lower case):\n", g);
  std::fputs(wrap(chip_list(), guide_width, "    ", "    ").c_str(), g);
  std::fputs("\n", g);
  std::fputs(wrap(text::chip_role_head + older_names() + text::chip_role_tail, guide_width, "", "")
                 .c_str(),
             g);
  std::fputs(modes, g);

  std::fputs(wrap(std::string(text::param_file_intro) + " The rules:", guide_width, "", "").c_str(),
             g);
  std::fputs("\n", g);
  for (const char* rule : text::param_rules)
    std::fputs(wrap(rule, guide_width, "  * ", "    ").c_str(), g);
  std::fputs("\n", g);
  std::fputs(wrap(text::report_as_param_file, guide_width, "", "").c_str(), g);
  std::fputs("\n3. The report\n-------------\n\n", g);
  std::fputs(wrap(text::report_format, guide_width, "", "").c_str(), g);
  std::fputs(block().c_str(), g);
  for (const text::status_text& s : text::statuses)
    std::fputs(
        wrap(s.when, guide_width, "    " + std::to_string(s.status) + "   ", "        ").c_str(),
        g);
  std::fputs("\n", g);

  for (const text::message& m : text::messages) {
    std::fprintf(g, "  \"%s\"\n", trim_nl(m.text).c_str());
    if (*m.when) std::fputs(wrap(m.when, guide_width, "        ", "        ").c_str(), g);
  }

  std::fputs(
      "\n6. Parameter reference\n-----------------------\n\n"
      "Number, key, report format, and where the parameter is stored: the section, its word\n"
      "(counted from 0 in the section), the bits, and the block versions that carry it. A\n"
      "parameter with no place in a version reads as 0 there and is never written.\n\n",
      g);
  const auto& where = parameter_places();
  for (std::size_t n = 0; n < base_info_tag_size; ++n) {
    const std::string key(base_info_tag[n]);
    if (n == 0) {
      std::fprintf(g,
                   "%3zu  %s  (hex)\n       the block's start pattern, " VEXDRAM_START_TAG
                   "; not a stored field\n",
                   n, key.c_str());
      continue;
    }
    std::fprintf(g, "%3zu  %s  (%s)\n", n, key.c_str(), report_in_hex(n) ? "hex" : "decimal");
    if (where[n].empty())
      std::fputs("       not stored in any block form the tool reads or writes\n", g);
    for (const place& p : where[n]) std::fprintf(g, "       %s\n", guide_place(p).c_str());
  }
}

}  // namespace vexdram::docgen
