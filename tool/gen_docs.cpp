// Writes the user guide, the parameter template, the JSON catalogue and the manual pages from the
// catalogue, the layout tables, the skew maps and the message texts of the programs, so that the
// documents cannot drift from the programs. What the guide and a manual page both say (ways to
// run, options, parameter-file rules, messages, exit statuses) stands once below and is rendered
// for each.
//   gen_docs WHAT PATH [WHAT PATH ...]    (WHAT: one of the names in `documents` below)
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.hpp"
#include "command_text.h"
#include "layout.h"
#include "messages.h"
#include "messages.hpp"
#include "places.h"
#include "report.h"
#include "run.h"
#include "tq6951_dram.h"

namespace {

using namespace vexdram;

std::string trim_nl(const char* s) {
  std::string t = s;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  while (!t.empty() && t.front() == '\n') t.erase(t.begin());
  return t;
}

// `text` filled into lines of at most `width` characters; the first starts with `first`, the
// others with `rest`. A quoted text (a message) is never broken.
std::string wrap(const std::string& text, std::size_t width, const std::string& first,
                 const std::string& rest) {
  std::string out, line = first;
  bool empty = true;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i;
    for (bool quoted = false; end < text.size() && (quoted || text[end] != ' '); ++end)
      if (text[end] == '"') quoted = !quoted;
    const std::string word = text.substr(i, end - i);
    i = end + 1;
    if (word.empty()) continue;
    if (!empty && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line = rest;
      empty = true;
    }
    line += (empty ? "" : " ") + word;
    empty = false;
  }
  return out + line + "\n";
}

std::string bits(unsigned lo, unsigned width) {
  const std::string w = " (" + std::to_string(width) + (width == 1 ? " bit)" : " bits)");
  if (width == 1) return "bit " + std::to_string(lo) + w;
  return "bits " + std::to_string(lo) + "-" + std::to_string(lo + width - 1) + w;
}

std::string older_names() {
  std::string older;
  for (std::size_t i = 0; i < older_family_names.size(); ++i)
    older += std::string(i == 0 ? "" : i + 1 == older_family_names.size() ? " or " : ", ") +
             older_family_names[i];
  return older;
}

// ---------------------------------------------------------------------------------------------
// What the user guide and the manual page of vexdram_tool both say.

const char* const tool_summary =
    "vexdram_tool reads and edits the parameter block of a DDR binary: the run of 32-bit "
    "little-endian words, found by its start tag 0x12345678, that holds the DRAM frequencies, the "
    "debug UART, idle timers, drive strengths, ODT, slew rates, vrefs, byte/DQ maps, address hash "
    "masks and CA skews, as 484 named parameters. It changes exactly the bits it is asked to "
    "change, never anything outside the block's sections, and never the length of the file.";

// The supported chip names, separated by spaces.
std::string chip_list() {
  std::string chips;
  for (const char* c : chip_names) chips += std::string(chips.empty() ? "" : " ") + c;
  return chips;
}

// What the chip name and the binary's file name change.
std::string chip_role() {
  return "CHIP is checked and echoed; besides that it matters only for the skew section, which the "
         "tool understands for the chip tq6951 alone (skew sub-version 1). For a version 0 or 1 "
         "block the file name of DDR_BINARY matters too: when it contains " + older_names() +
         " the short form of the version-1 record is written.";
}

struct invocation {
  const char* args;
  const char* what;
};
const invocation invocations[] = {
    {"", "prints the help text"},
    {"CHIP -g REPORT DDR_BINARY", "report mode"},
    {"CHIP PARAM_FILE DDR_BINARY", "modify mode (changes DDR_BINARY in place)"},
};

struct option_text {
  const char* name;
  const char* value;  // nullptr: a flag
  const char* meaning;
};
const option_text tool_options[] = {
    {"-g", "REPORT",
     "report mode: writes every parameter of DDR_BINARY to REPORT. Options are read only when there "
     "are four arguments, and -g must stand between CHIP and DDR_BINARY."},
    {"-h", nullptr,
     "prints the help text and ends with exit status 1; so does any other option, and four "
     "arguments without -g."},
};

const char* const param_file_intro =
    "A text file of name=value lines; vexdram_param.txt (shipped in examples/) names every "
    "parameter with a blank value, after the line \"start tag=0x12345678\".";

const char* const param_rules[] = {
    "\"start tag=0x12345678\" must be there: the tool finds the block by that value. A file "
    "without it is refused (\"no start tag in param file\").",
    "A blank value keeps the binary's value: nothing after the '=' but spaces, tabs and the "
    "line end, whether the file has LF or CR LF line ends and also on a last line without a "
    "line feed. A \"/*\" comment ends the value, so \"KEY= /* keep */\" is blank too.",
    "A parameter that the file does not name at all is written as 0. Start from the template or "
    "from a report, and leave blank what you keep.",
    "Numbers: decimal (933), hexadecimal with 0x (0x3a5), octal with a leading 0 (017). "
    "Negative numbers are taken modulo 2^32 (-1 is 0xffffffff). Conversion stops at the first "
    "character that does not fit (0800 is 0); no digits at all gives 0. A value that is not a "
    "whole number in this sense (\"12abc\", \"1.5\", \"0800\", \"abc\") is read that way, and the tool "
    "prints \"warning: KEY=VALUE is not a whole number, read as N\" while it reads the file.",
    "A value wider than its bit field is stored by its low bits, and the tool prints "
    "\"warning: KEY=VALUE does not fit its N-bit field, stored as STORED\" (for example a "
    "frequency of 4100 in a 12-bit field is stored as 4).",
    "\"/*\" starts a comment to the end of the line; \"*/\" has no meaning. \"//\" is not a comment.",
    "A line belongs to the first parameter, in the order of the parameter reference, whose key "
    "occurs anywhere in the line; the value is what follows the line's first '='. Keys are "
    "case-sensitive. A line naming a key without any '=' prints \"KEY have no '=' value!!!\".",
    "Lines naming no parameter (blank lines, \"end\", other names) are ignored; a later line for "
    "the same parameter wins. Lines are read 1023 characters at a time.",
    "The skew lanes (CA skew parameters) differ: 0 keeps the lane's value in the binary.",
};

const char* const report_as_param_file =
    "A report (report mode) is a valid parameter file: it writes every parameter with the value "
    "shown. Reporting a binary and writing the report back leaves the binary unchanged, except bit "
    "30 of word 5 of the LPDDR4, LPDDR4X and LPDDR5 sections, which the tool does not carry and "
    "writes as 0. The same holds for the blank template.";

const char* const report_format =
    "485 lines, each ending in a line feed: \"start tag=0x12345678\", then \"KEY=VALUE\" for "
    "parameters 1 to 483 in the order of the parameter reference, then \"end\". Keys containing \"_map\", "
    "\"pstore\" or \"_mask\" and the CA skew keys (containing \"_skew\" but not \"skew_freq_mhz\") "
    "are written in hexadecimal (\"0x\" and lower-case digits); all others in signed 32-bit "
    "decimal (4294967295 is written -1). Parameters whose section the binary does not have are "
    "written as 0.";

// Every text the tool prints, with when. A row without a "when" shares the one of the next row
// that has it.
struct message {
  const char* text;
  const char* when;
};
const message tool_messages[] = {
    {msg::banner, "always, first"},
    {msg::chip_fmt, "the chip name is supported (%s: the name)"},
    {msg::chip_name_error, "the chip name is not supported; then the help text; exit status 1"},
    {msg::open_failed_fmt, "a file cannot be opened (%s: the path as given)"},
    {msg::report_is_binary_fmt, "report mode: the report path names the DDR binary itself"},
    {msg::read_param_fail, "modify mode: the parameter file names no parameter"},
    {msg::no_start_tag, "modify mode: the parameter file gives no start tag"},
    {msg::get_version_fail, "no start tag in the binary, or nothing after it"},
    {msg::version_fmt, "the block's version"},
    {msg::version_not_support, "a version other than 0 to 5"},
    {msg::readout_index_fail, "the index runs past the end of the file"},
    {msg::read_bin_fail, "version 0/1: the record runs past the end of the file"},
    {msg::read_global_fail, ""}, {msg::read_ddr2_fail, ""}, {msg::read_ddr3_fail, ""},
    {msg::read_ddr4_fail, ""}, {msg::read_lp2_fail, ""}, {msg::read_lp3_fail, ""},
    {msg::read_lp4_fail, ""}, {msg::read_lp5_fail, ""}, {msg::read_dq_map_fail, ""},
    {msg::read_lp4x_fail, ""}, {msg::read_hash_fail, ""}, {msg::read_skew_version_fail, ""},
    {msg::read_tq6951_skew_fail, "a section runs past the end of the file (or has size 0)"},
    {msg::not_support_ddr5, "the block has a DDR5 section: refused, nothing written"},
    {msg::skew_sub_version_fmt, "chip tq6951: the skew section's sub-version is not 1 (0 when not loaded)"},
    {msg::skew_read_out_error, "follows the line above; the skew parameters stay 0"},
    {msg::generate_ok, "report mode: the report is written"},
    {msg::generate_fail, "report mode: the report could not be written whole"},
    {msg::no_value_fmt, "modify mode: a line names a key but has no '='"},
    {msg::not_whole_fmt, "modify mode, while the file is read: a value that is not a whole number (N: the value read)"},
    {msg::new_config, "modify mode: the merged configuration follows"},
    {msg::warning_fmt, "modify mode: a value does not fit its bit field"},
    {msg::write_global_fail, ""}, {msg::write_ddr2_fail, ""}, {msg::write_ddr3_fail, ""},
    {msg::write_ddr4_fail, ""}, {msg::write_lp2_fail, ""}, {msg::write_lp3_fail, ""},
    {msg::write_lp4_fail, ""}, {msg::write_lp4x_fail, ""}, {msg::write_lp5_fail, ""},
    {msg::write_skew_fail, ""},
    {msg::write_hash_fail, "a section could not be written; the sections after it are not written"},
    {msg::write_dq_map_fail, "the DQ map could not be written; the sections after it are still written"},
    {msg::write_bin_fail, "version 0/1: the record could not be written; any version: the binary could "
                          "not be flushed to the disk (printed in place of \"modify end\")"},
    {msg::modify_end, "modify mode: the end of a modify run, the binary flushed to the disk"},
};

struct status_text {
  int status;
  const char* when;
};
const status_text tool_statuses[] = {
    {0, "every other ending, success or not: judge a run by its messages"},
    {1, "after \"chip name error\", and after a wrong option (-h included, or four arguments "
        "without -g)"},
};

// ---------------------------------------------------------------------------------------------
// The user guide.

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

const char* const block = R"(
4. The block
------------

The tool reads the file word by word from its start and stops at the first word, at a
position that is a multiple of 4, equal to the start tag. The next word is the version:
versions 2 to 5 have a 28-byte index of 14 (offset, size) pairs giving each section's position
(in words from the version word, which is offset 1) and length in words; offset 0 means absent.
Versions 0 and 1 have a fixed record instead, from the fourth block word: seven words are read,
ten written (the last three as 0); the short form, for file names with the older-family names,
writes only the record's words 3 to 9. Nothing is written past the end of the file.

A section longer than its record (global 8 words, DDR2/DDR3/DDR4/LPDDR2/LPDDR3 9, or 11 in
version 5, LPDDR4/LPDDR4X/LPDDR5 13, DQ map 8, hash 8, skew 28) is read and written only up to
the record's length. LPDDR4X and hash sections of more than 226 words count as absent. A DDR5
section is refused ("not support ddr5"). Bits that no parameter uses are kept as they are.

5. Messages and exit status
---------------------------

Everything is printed on standard output. Exit status:

)";

void write_guide(std::FILE* g) {
  std::string head = intro;
  head.replace(head.find("@SUMMARY@\n"), 10,
               wrap(std::string(tool_summary) + " The parameter reference (section 6) lists all of them.", guide_width, "", ""));
  std::fputs(head.c_str(), g);
  for (const invocation& i : invocations) {
    const std::string line = std::string("    vexdram_tool ") + i.args;
    std::fprintf(g, "%-53s%s\n", line.c_str(), i.what);
  }
  std::fputs("\nOptions:\n\n", g);
  for (const option_text& o : tool_options) {
    const std::string name = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
    std::fprintf(g, "    %s\n", name.c_str());
    std::fputs(wrap(o.meaning, guide_width, "        ", "        ").c_str(), g);
  }
  std::fputs("\nCHIP is one of the supported chip names, exactly as written (lower case):\n", g);
  std::fputs(wrap(chip_list(), guide_width, "    ", "    ").c_str(), g);
  std::fputs("\n", g);
  std::fputs(wrap(chip_role(), guide_width, "", "").c_str(), g);
  std::fputs(modes, g);

  std::fputs(wrap(std::string(param_file_intro) + " The rules:", guide_width, "", "").c_str(), g);
  std::fputs("\n", g);
  for (const char* rule : param_rules) std::fputs(wrap(rule, guide_width, "  * ", "    ").c_str(), g);
  std::fputs("\n", g);
  std::fputs(wrap(report_as_param_file, guide_width, "", "").c_str(), g);
  std::fputs("\n3. The report\n-------------\n\n", g);
  std::fputs(wrap(report_format, guide_width, "", "").c_str(), g);
  std::fputs(block, g);
  for (const status_text& s : tool_statuses)
    std::fputs(wrap(s.when, guide_width, "    " + std::to_string(s.status) + "   ", "        ").c_str(), g);
  std::fputs("\n", g);

  for (const message& m : tool_messages) {
    std::fprintf(g, "  \"%s\"\n", trim_nl(m.text).c_str());
    if (*m.when) std::fputs(wrap(m.when, guide_width, "        ", "        ").c_str(), g);
  }

  std::fputs("\n6. Parameter reference\n-----------------------\n\n"
             "Number, key, report format, and where the parameter is stored: the section, its word\n"
             "(counted from 0 in the section), the bits, and the block versions that carry it. A\n"
             "parameter with no place in a version reads as 0 there and is never written.\n\n", g);
  const auto& where = parameter_places();
  for (std::size_t n = 0; n < base_info_tag_size; ++n) {
    const std::string key(base_info_tag[n]);
    if (n == 0) {
      std::fprintf(g, "%3zu  %s  (hex)\n       the block's start pattern, 0x12345678; not a stored field\n",
                   n, key.c_str());
      continue;
    }
    std::fprintf(g, "%3zu  %s  (%s)\n", n, key.c_str(), report_in_hex(n) ? "hex" : "decimal");
    if (where[n].empty()) std::fputs("       not stored in any block form the tool reads or writes\n", g);
    for (const place& p : where[n]) std::fprintf(g, "       %s\n", guide_place(p).c_str());
  }
}

// The catalogue as JSON, for host applications: every parameter's key, report format, the group
// a host shows it in (its section) and every place that stores it: block versions, section, word
// (counted from 0 in the section or record), lowest bit and width; skew lanes name their chip.
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

void write_catalogue(std::FILE* j) {
  const auto& where = parameter_places();
  std::fputs("{\n\"chips\":[", j);
  for (std::size_t i = 0; i < chip_names.size(); ++i)
    std::fprintf(j, "%s%s", i ? "," : "", json_str(chip_names[i]).c_str());
  std::fputs("],\n\"groups\":[", j);
  const std::vector<std::string> groups = parameter_groups();
  for (std::size_t i = 0; i < groups.size(); ++i)
    std::fprintf(j, "%s%s", i ? "," : "", json_str(groups[i]).c_str());
  std::fprintf(j, "],\n\"start_tag\":\"0x%x\",\n\"parameters\":[\n", start_tag_value);
  for (std::size_t n = 0; n < base_info_tag_size; ++n) {
    std::string list;
    for (const place& p : where[n]) list += (list.empty() ? "" : ",") + json_place(p);
    // The start tag's line reads 0x12345678 although it is no stored field.
    const bool hex = n == p::start_tag || report_in_hex(n);
    std::fprintf(j, "{\"n\":%zu,\"key\":%s,\"format\":\"%s\",\"group\":%s,\"places\":[%s]}%s\n", n,
                 json_str(base_info_tag[n]).c_str(), hex ? "hex" : "decimal",
                 json_str(parameter_group(n)).c_str(), list.c_str(),
                 n + 1 < base_info_tag_size ? "," : "");
  }
  std::fputs("]\n}\n", j);
}

// ---------------------------------------------------------------------------------------------
// Manual pages (man(7) macros).

// Text as roff reads it literally: backslashes and minus signs escaped, and a line that would
// start with a control character guarded.
std::string roff(const std::string& text) {
  std::string out;
  bool line_start = true;
  for (const char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
    line_start = c == '\n';
  }
  return out;
}
std::string bold(const std::string& text) { return "\\fB" + roff(text) + "\\fR"; }
std::string italic(const std::string& text) { return "\\fI" + roff(text) + "\\fR"; }

void man_header(std::FILE* f, const char* title, const char* name, const char* summary) {
  std::fprintf(f, ".\\\" Written by gen_docs from the program's own tables; regenerate, do not edit.\n");
  std::fprintf(f, ".TH %s 1 \"\" \"vexdram %s\" \"User Commands\"\n", title, VEXDRAM_VERSION);
  std::fputs(".nh\n.ad l\n", f);  // paths and key names read badly hyphenated
  std::fprintf(f, ".SH NAME\n%s \\- %s\n", name, roff(summary).c_str());
}

void man_tagged(std::FILE* f, const std::string& tag, const std::string& body) {
  std::fprintf(f, ".TP\n%s\n%s\n", tag.c_str(), roff(body).c_str());
}

// The messages of a program: one tagged paragraph per "when", tagged with all its texts.
template <typename Row>
void man_messages(std::FILE* f, const Row* rows, std::size_t count) {
  bool grouped = false;
  for (std::size_t i = 0; i < count; ++i) {
    std::fprintf(f, "%s\n%s\n", grouped ? ".TQ" : ".TP", bold(trim_nl(rows[i].text)).c_str());
    grouped = !*rows[i].when;
    if (!grouped) std::fprintf(f, "%s\n", roff(rows[i].when).c_str());
  }
}

void write_man_tool(std::FILE* f) {
  man_header(f, "VEXDRAM_TOOL", "vexdram_tool", "report and edit the parameter block of a DDR binary");
  std::fputs(".SH SYNOPSIS\n", f);
  for (const invocation& i : invocations) {
    std::fputs(&i == invocations ? "\\fBvexdram_tool\\fR" : ".br\n\\fBvexdram_tool\\fR", f);
    std::string args = i.args;
    for (std::size_t p = 0; p < args.size();) {
      const std::size_t end = std::min(args.find(' ', p), args.size());
      const std::string word = args.substr(p, end - p);
      std::fprintf(f, " %s", (word[0] == '-' ? bold(word) : italic(word)).c_str());
      p = end + 1;
    }
    std::fputs("\n", f);
  }
  std::fputs(".SH DESCRIPTION\n", f);
  std::fputs(roff(tool_summary).c_str(), f);
  std::fputs("\n.PP\n", f);
  std::fputs(roff("Without arguments it prints the help text. Report mode opens DDR_BINARY read-only and writes every parameter to REPORT, "
                  "which is created (or emptied) first and must not be DDR_BINARY itself. Modify "
                  "mode reads PARAM_FILE, merges it with the values decoded from DDR_BINARY, "
                  "prints the merged configuration, writes each section present in the binary "
                  "back at its own position and flushes the binary to the disk before it prints "
                  "\"modify end\": work on a copy.").c_str(), f);
  std::fputs("\n.PP\n", f);
  std::fputs(roff("CHIP is one of these names, exactly as written: " + chip_list() + ". " + chip_role()).c_str(), f);
  std::fputs("\n.SH OPTIONS\n", f);
  for (const option_text& o : tool_options)
    man_tagged(f, bold(o.name) + (o.value ? " " + italic(o.value) : ""), o.meaning);
  std::fputs(".SH \"PARAMETER FILE\"\n", f);
  std::fprintf(f, "%s\n", roff(param_file_intro).c_str());
  for (const char* rule : param_rules) std::fprintf(f, ".IP \\(bu 2\n%s\n", roff(rule).c_str());
  std::fprintf(f, ".PP\n%s\n", roff(report_as_param_file).c_str());
  std::fprintf(f, ".SH REPORT\n%s\n", roff(report_format).c_str());
  std::fputs(".SH \"EXIT STATUS\"\nEverything is printed on standard output.\n", f);
  for (const status_text& s : tool_statuses) man_tagged(f, bold(std::to_string(s.status)), s.when);
  std::fputs(".SH DIAGNOSTICS\n", f);
  man_messages(f, tool_messages, sizeof tool_messages / sizeof *tool_messages);
  std::fputs(".SH EXAMPLES\n.nf\n", f);
  std::fputs(roff("vexdram_tool tq6583 -g report.txt tq6583_ddr.bin\n"
                  "cp tq6583_ddr.bin tq6583_ddr_new.bin\n"
                  "vexdram_tool tq6583 vexdram_param.txt tq6583_ddr_new.bin\n").c_str(), f);
  std::fputs(".fi\n.SH \"SEE ALSO\"\n\\fBimgwelder\\fR(1); ", f);
  std::fputs(roff("the user guide docs/vexdram_tool_user_guide.txt and the parameter template "
                  "examples/vexdram_param.txt in the install directory (/opt/vexdram with the "
                  "package), with a reference of every parameter's bits.\n").c_str(), f);
}

void write_man_imgwelder(std::FILE* f) {
  namespace iw = imgwelder;
  man_header(f, "IMGWELDER", "imgwelder", "take loader containers apart and build them");
  std::fputs(".SH SYNOPSIS\n.nf\n", f);
  // the usage text less its "usage: " column
  const std::string usage = iw::usage();
  const std::size_t column = usage.find("imgwelder");
  for (std::size_t p = 0; p < usage.size();) {
    const std::size_t end = usage.find('\n', p);
    std::fprintf(f, "%s\n", roff(usage.substr(p + column, end - p - column)).c_str());
    p = end + 1;
  }
  std::fputs(".fi\n.SH DESCRIPTION\n", f);
  std::fputs(roff("imgwelder packs and unpacks boot-loader containers: a 102-byte header, three "
                  "entry tables (471, 472 and loader) of 57-byte records, then the images. It is "
                  "the packing tool that the dramforge module runs from resource/tools/. The "
                  "container format is told in docs/imgwelder_container_format.md in the install "
                  "directory. Everything, failures included, is printed on standard output.").c_str(), f);
  std::fputs("\n", f);
  for (const iw::command_desc& c : iw::commands) man_tagged(f, bold(c.name), c.meaning);
  std::fputs(".SH OPTIONS\n", f);
  std::fputs(roff("Every option is a word of its own; its value is the next word, even when that "
                  "begins with '-'.").c_str(), f);
  std::fputs("\n", f);
  const char* command = "";
  for (const iw::option_desc& o : iw::options) {
    if (std::string(command) != o.command) {
      command = o.command;
      std::fprintf(f, ".SS %s\n", command);
    }
    man_tagged(f, bold(o.name) + (o.value ? " " + italic(o.value) : ""),
               std::string(o.meaning) + (o.times == iw::use::required     ? " (required)."
                                         : o.times == iw::use::repeatable ? "; may be given more than once."
                                                                          : "."));
  }
  std::fputs(".SH OUTPUT\n", f);
  std::fputs(roff("unpack prints a listing: \"imgwelder unpack\", a header line, a line counting "
                  "the entries of each table, one line per image slot that ends in \"file=\" and "
                  "the image's name (a slot without an image says \"(no image)\"), and the number "
                  "of images unpacked. A container of one 471, one 472 and two loader images gives "
                  "8 lines; every other container at least 10. Hosts read lines 3 to 6 of the "
                  "8-line listing, lines 3 to 8 of any other (and 9 when it has more than 10 "
                  "lines) as image paths, so pack refuses a container that would leave one of "
                  "those slots without an image. An image name is 1 to 40 letters, "
                  "digits, '.', '_' or '-', does not begin with '.' or '-', holds no \"..\" and not "
                  "the word \"Error\".").c_str(), f);
  std::fputs("\n.SH \"EXIT STATUS\"\n", f);
  for (const iw::status_desc& s : iw::exit_statuses) man_tagged(f, bold(std::to_string(s.status)), s.meaning);
  std::fputs(".SH DIAGNOSTICS\n", f);
  man_messages(f, iw::msg::messages, sizeof iw::msg::messages / sizeof *iw::msg::messages);
  std::fputs(".SH ENVIRONMENT\n.TP\n.B SOURCE_DATE_EPOCH\n", f);
  std::fputs(roff("seconds since 1970 (UTC) to record as the release time of a packed container "
                  "instead of the clock's, for reproducible containers.").c_str(), f);
  std::fputs("\n.SH \"SEE ALSO\"\n\\fBvexdram_tool\\fR(1)\n", f);
}

void write_man_vexdram(std::FILE* f) {
  namespace t = vexdram::cli::text;
  man_header(f, "VEXDRAM", "vexdram", t::summary);
  std::fputs(".SH SYNOPSIS\n.nf\n", f);
  for (const t::command& c : t::commands)
    std::fprintf(f, "\\fBvexdram %s\\fR %s\n", c.name, roff(c.synopsis).c_str());
  std::fputs("\\fBvexdram\\fR [\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR]\n.fi\n", f);
  std::fprintf(f, ".SH DESCRIPTION\n%s\n", roff(t::description).c_str());
  std::fprintf(f, ".PP\n%s\n",
               roff("FILE is a DDR binary or a loader container: a file that begins with \"BOOT\" or "
                    "\"LDR \" and the header length 0x66 is a container. The chip (--chip, or the longest "
                    "chip name in FILE's name) matters, as for vexdram_tool, for the skew section, which is "
                    "read for the chip tq6951 alone; and for a version 0 or 1 block FILE's path does too: "
                    "when it contains " + older_names() + " the short form of the version-1 record is "
                    "written.").c_str());
  std::fputs(".SH COMMANDS\n", f);
  for (const t::command& c : t::commands) man_tagged(f, bold(c.name), c.details);
  std::fputs(".SH OPTIONS\n", f);
  for (const t::option& o : t::options) {
    std::string names = o.names;
    for (std::size_t comma = names.find(','); comma != std::string::npos; comma = names.find(',', comma + 2))
      names.replace(comma, 1, ", ");
    man_tagged(f, bold(names) + (o.value ? " " + italic(o.value) : ""),
               std::string(o.help) + " (" + o.commands + ").");
  }
  man_tagged(f, bold("--help"), "prints the usage, at every level: vexdram --help, vexdram set --help.");
  man_tagged(f, bold("--version"), "prints the version.");
  std::fprintf(f, ".SH VALUES\n%s\n", roff(t::value_rule).c_str());
  std::fprintf(f, ".SH WRITING\n%s\n", roff(t::writing).c_str());
  std::fputs(".SH \"EXIT STATUS\"\n", f);
  for (const t::status& st : t::statuses) man_tagged(f, bold(std::to_string(st.code)), st.meaning);
  std::fputs(".SH EXAMPLES\n.nf\n", f);
  for (const char* e : t::examples) std::fprintf(f, "%s\n", roff(e).c_str());
  std::fputs(".fi\n.SH ENVIRONMENT\n.TP\n.B SOURCE_DATE_EPOCH\n", f);
  std::fputs(roff("the release time recorded in a loader container that vexdram writes, as for imgwelder.").c_str(), f);
  std::fputs("\n.SH \"SEE ALSO\"\n\\fBvexdram_tool\\fR(1), \\fBimgwelder\\fR(1)\n", f);
}

// ---------------------------------------------------------------------------------------------
// Every document gen_docs writes, by the name given on its command line.
struct document {
  const char* what;
  void (*write)(std::FILE*);
};
const document documents[] = {
    {"guide", write_guide},
    {"template", write_template},
    {"catalogue", write_catalogue},
    {"man-tool", write_man_tool},
    {"man-imgwelder", write_man_imgwelder},
    {"man-vexdram", write_man_vexdram},
};

}  // namespace

int main(int argc, char** argv) {
  auto usage = [] {
    std::fputs("usage: gen_docs WHAT PATH [WHAT PATH ...]\n  WHAT:", stderr);
    for (const document& d : documents) std::fprintf(stderr, " %s", d.what);
    std::fputs("\n", stderr);
    return 2;
  };
  if (argc < 3 || argc % 2 == 0) return usage();
  for (int i = 1; i < argc; i += 2) {
    const document* doc = nullptr;
    for (const document& d : documents)
      if (std::string(argv[i]) == d.what) doc = &d;
    if (!doc) return usage();
    std::FILE* f = std::fopen(argv[i + 1], "w");
    if (!f) {
      std::fprintf(stderr, "gen_docs: cannot write %s\n", argv[i + 1]);
      return 1;
    }
    doc->write(f);
    if (std::fclose(f) != 0) {
      std::fprintf(stderr, "gen_docs: cannot write %s\n", argv[i + 1]);
      return 1;
    }
  }
  return 0;
}
