// What vexdram_tool says about itself, once: the user guide and the manual page vexdram_tool(1)
// (written by gen_docs) both come from these rows; the help text the program prints is msg::help.
#pragma once

#include "tool/layout.h"
#include "tool/messages.h"

namespace vexdram::text {

inline constexpr const char* summary =
    "vexdram_tool reads and edits the parameter block of a DDR binary: the run of 32-bit "
    "little-endian words, found by its start tag " VEXDRAM_START_TAG ", that holds the DRAM frequencies, the "
    "debug UART, idle timers, drive strengths, ODT, slew rates, vrefs, byte/DQ maps, address hash "
    "masks and CA skews, as 484 named parameters. It changes exactly the bits it is asked to "
    "change, never anything outside the block's sections, and never the length of the file.";

// What the chip name and the binary's file name change: the older family's names (run.h) stand
// between the two parts.
inline constexpr const char* chip_role_head =
    "CHIP is checked and echoed; besides that it matters only for the skew section, which the "
    "tool understands for the chip tq6951 alone (skew sub-version 1). For a version 0 or 1 "
    "block the file name of DDR_BINARY matters too: when it contains ";
inline constexpr const char* chip_role_tail = " the short form of the version-1 record is written.";

struct invocation {
  const char* args;
  const char* what;
};
inline constexpr invocation invocations[] = {
    {"", "prints the help text"},
    {"CHIP -g REPORT DDR_BINARY", "report mode"},
    {"CHIP PARAM_FILE DDR_BINARY", "modify mode (changes DDR_BINARY in place)"},
};

struct option_text {
  const char* name;
  const char* value;  // nullptr: a flag
  const char* meaning;
};
inline constexpr option_text options[] = {
    {"-g", "REPORT",
     "report mode: writes every parameter of DDR_BINARY to REPORT. Options are read only when there "
     "are four arguments, and -g must stand between CHIP and DDR_BINARY."},
    {"-h", nullptr,
     "prints the help text and ends with exit status 1; so does any other option, and four "
     "arguments without -g."},
};

inline constexpr const char* param_file_intro =
    "A text file of name=value lines; vexdram_param.txt (shipped in examples/) names every "
    "parameter with a blank value, after the line \"start tag=" VEXDRAM_START_TAG "\".";

inline constexpr const char* param_rules[] = {
    "\"start tag=" VEXDRAM_START_TAG "\" must be there: the tool finds the block by that value. A file "
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

inline constexpr const char* report_as_param_file =
    "A report (report mode) is a valid parameter file: it writes every parameter with the value "
    "shown. Reporting a binary and writing the report back leaves the binary unchanged, except bit "
    "30 of word 5 of the LPDDR4, LPDDR4X and LPDDR5 sections, which the tool does not carry and "
    "writes as 0. The same holds for the blank template.";

inline constexpr const char* report_format =
    "485 lines, each ending in a line feed: \"start tag=" VEXDRAM_START_TAG "\", then \"KEY=VALUE\" for "
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
inline constexpr message messages[] = {
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
    {msg::read_global_fail, ""},
    {msg::read_ddr2_fail, ""},
    {msg::read_ddr3_fail, ""},
    {msg::read_ddr4_fail, ""},
    {msg::read_lp2_fail, ""},
    {msg::read_lp3_fail, ""},
    {msg::read_lp4_fail, ""},
    {msg::read_lp5_fail, ""},
    {msg::read_dq_map_fail, ""},
    {msg::read_lp4x_fail, ""},
    {msg::read_hash_fail, ""},
    {msg::read_skew_version_fail, ""},
    {msg::read_tq6951_skew_fail, "a section runs past the end of the file (or has size 0)"},
    {msg::not_support_ddr5, "the block has a DDR5 section: refused, nothing written"},
    {msg::skew_sub_version_fmt,
     "chip tq6951: the skew section's sub-version is not 1 (0 when not loaded)"},
    {msg::skew_read_out_error, "follows the line above; the skew parameters stay 0"},
    {msg::generate_ok, "report mode: the report is written"},
    {msg::generate_fail, "report mode: the report could not be written whole"},
    {msg::no_value_fmt, "modify mode: a line names a key but has no '='"},
    {msg::not_whole_fmt,
     "modify mode, while the file is read: a value that is not a whole number (N: the value read)"},
    {msg::new_config, "modify mode: the merged configuration follows"},
    {msg::warning_fmt, "modify mode: a value does not fit its bit field"},
    {msg::write_global_fail, ""},
    {msg::write_ddr2_fail, ""},
    {msg::write_ddr3_fail, ""},
    {msg::write_ddr4_fail, ""},
    {msg::write_lp2_fail, ""},
    {msg::write_lp3_fail, ""},
    {msg::write_lp4_fail, ""},
    {msg::write_lp4x_fail, ""},
    {msg::write_lp5_fail, ""},
    {msg::write_skew_fail, ""},
    {msg::write_hash_fail, "a section could not be written; the sections after it are not written"},
    {msg::write_dq_map_fail,
     "the DQ map could not be written; the sections after it are still written"},
    {msg::write_bin_fail,
     "version 0/1: the record could not be written; any version: the binary could "
     "not be flushed to the disk (printed in place of \"modify end\")"},
    {msg::modify_end, "modify mode: the end of a modify run, the binary flushed to the disk"},
};

struct status_text {
  int status;
  const char* when;
};
inline constexpr status_text statuses[] = {
    {0, "every other ending, success or not: judge a run by its messages"},
    {1,
     "after \"chip name error\", and after a wrong option (-h included, or four arguments "
     "without -g)"},
};

// What the manual page says of the two modes, and its examples.
inline constexpr const char* description =
    "Without arguments it prints the help text. Report mode opens DDR_BINARY read-only and writes every parameter to REPORT, "
    "which is created (or emptied) first and must not be DDR_BINARY itself. Modify "
    "mode reads PARAM_FILE, merges it with the values decoded from DDR_BINARY, "
    "prints the merged configuration, writes each section present in the binary "
    "back at its own position and flushes the binary to the disk before it prints "
    "\"modify end\": work on a copy.";

inline constexpr const char* examples =
    "vexdram_tool tq6583 -g report.txt tq6583_ddr.bin\n"
    "cp tq6583_ddr.bin tq6583_ddr_new.bin\n"
    "vexdram_tool tq6583 vexdram_param.txt tq6583_ddr_new.bin\n";

}  // namespace vexdram::text
