// The checks behind the fuzz targets, shared with the regression replay in the normal test
// suite. Each takes arbitrary bytes and returns an empty string when every invariant held, or a
// one-line description of the first one that did not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexdram::fuzz {

// Input of fuzz_tool_run: one flags byte, a u16 (little-endian) text length, the parameter
// text, then the DDR binary (the rest).
//   flags bit 0: modify mode (else report mode)
//   flags bit 1: the binary's path names an older-family chip
//   flags bits 2-3: the chip, an index into tool_chips
//   flags bit 4 (report mode): then twice merge the binary's own report back into it; the
//     second time must change nothing
inline constexpr const char* tool_chips[4] = {"tq6951", "tq6583", "tq6420", "tq637yg"};
inline constexpr std::uint8_t flag_modify = 1;
inline constexpr std::uint8_t flag_older_family = 2;
inline constexpr std::uint8_t flag_round_trip = 16;
std::uint8_t chip_flags(std::size_t chip);
std::vector<std::uint8_t> tool_input(std::uint8_t flags, const std::string& text,
                                     const std::vector<std::uint8_t>& bin);

// A whole tool run on an in-memory binary: the length never changes, report mode never writes,
// modify mode writes only inside the spans the binary's own index allows, and merging a report
// back is idempotent.
std::string check_tool_run(const std::uint8_t* data, std::size_t size);

// The parameter text reader alone: states only 1 or 2 where touched, blank values with state 2,
// no more accepted lines than reads; vexdram's strict reader, when it refuses nothing, takes
// exactly the values it gives; the same values and states from a copy of the text with CR LF
// line ends, blanks before them and no final line feed.
std::string check_param_text(const std::uint8_t* data, std::size_t size);

// The container reader and unpack. A container that asks for a CRC gets a correct one, so the
// mutations reach past the CRC check. Unpacks into a fresh directory inside parent and checks
// that nothing else appears in parent, that a failed unpack leaves nothing and a successful one
// exactly the images; cleans up. Also read(write(read(x))) == read(x), and the repack plan a
// host derives packs again into a container with the same header.
std::string check_imgwelder_unpack(const std::uint8_t* data, std::size_t size,
                                   const std::string& parent);

// Input of fuzz_cli_equivalence: one flags byte (bit 1 an older-family file name, bits 2-3 the
// chip of tool_chips), the number of edits (at most 8 are used), then per edit the parameter
// number (u16, modulo 484), the value (u32) and its form (bits 0-2 how it is written: decimal,
// hex, upper-case hex, signed, a leading 0, blanks around, a letter after, a minus; bits 3-4
// narrow it to 12, 8 or 1 bits), then the DDR binary.
struct cli_edit {
  std::uint16_t n;
  std::uint32_t value;
  std::uint8_t form;
};
std::vector<std::uint8_t> cli_input(std::uint8_t flags, const std::vector<cli_edit>& edits,
                                    const std::vector<std::uint8_t>& bin);
// vexdram's set (checks, the core's edit, the all-or-nothing writer and its read-back check,
// into scratch) against vexdram_tool's modify mode in memory with the template holding the
// same values: the same bytes, or refused with nothing written.
std::string check_cli_equivalence(const std::uint8_t* data, std::size_t size,
                                  const std::string& scratch);

// A fresh scratch directory for check_imgwelder_unpack (tmpfs when there is one: unpack syncs
// every file). Empty on failure.
std::string make_scratch_parent();
void remove_tree(const std::string& dir);

}  // namespace vexdram::fuzz
