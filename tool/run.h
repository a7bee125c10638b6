// One run of the tool, after its files are open: block scan, version, index, reading, decoding,
// then the report, or the merge, encoding and writing back. All of one run's state lives in its
// run_context, so the core can run twice in one process with nothing left over.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "tool/catalogue.h"
#include "tool/codec.h"
#include "tool/ddr_file.h"
#include "tool/layout.h"
#include "tool/param_text.h"
#include "tool/tq6951_dram.h"

namespace vexdram {

// What read_block found of the tq6951 skew section.
enum class skew_found : std::uint8_t {
  not_read,           // none in the index, or the chip is not tq6951
  sub_version_1,      // read whole: its parameters are decoded, encoded and written back
  other_sub_version,  // its parameters read as 0 and are not written back
};

struct run_context {
  std::FILE* out = stdout;  // every message goes here; nullptr: none is printed
  std::string chip_info;    // the chip argument, after the chip check
  bool gen_txt_from_bin = false;
  std::uint32_t version = 0;
  state_table updata_availd{};
  reserved_store reserved{};
  tq6951_skew_info skew{};  // loaded only for chip tq6951 with skew sub-version 1
  skew_found skew_state = skew_found::not_read;
  bool tq637y_en = false;  // the binary's path names an older-family chip
  bool is_tq6951() const { return chip_info == "tq6951"; }
};

// The supported chip names, in the order they are checked; the check is exact and case-sensitive.
extern const std::array<const char*, 35> chip_names;
bool chip_supported(const char* name);
// Names that, found anywhere in a version-1 binary's path, select the record's short form.
extern const std::array<const char*, 3> older_family_names;
// True when the DDR binary's path names a chip of the older family (version-1 short record).
bool path_names_older_family(const char* path);

// Where the block of a binary lies: the position of the version word (P + 4, from which section
// offsets count) and, for versions 2 to 5, the section index. The version is in the run_context.
struct block_location {
  std::uint64_t bin_skew_offset = 0;
  sdram_head_info_index_v2 index;
};

// What reading or writing a block came to. The core returns it and prints no word about it: the
// classic run flow prints the tool's message for it (tool_message), vexdram its own words.
enum class outcome : std::uint8_t {
  done,
  no_block,             // no start tag with a version word after it
  unsupported_version,  // a version above 5 (ctx.version)
  index_cut,            // the index runs past the end of the file
  record_cut,           // versions 0 and 1: the record runs past the end of the file
  section_cut,          // a present section (in) is empty or runs past the end of the file
  skew_version_cut,     // the skew section's first word lies past the end of the file
  skew_cut,             // the tq6951 skew record (sub-version 1) is empty or runs past the end
  ddr5_present,         // the index has a DDR5 section: no version supports it
  unwritten,            // writing back: a section (in), or the version-1 record (no in), was
                        // not written whole
};
struct block_outcome {
  outcome what = outcome::done;
  std::optional<step> in;       // the section concerned; for unwritten the first one
  std::uint16_t unwritten = 0;  // writing back: each step (bit 1 << step) not written whole; a
                                // DQ map that is not stops nothing, the others stop the writing
  bool synced = true;           // writing back: the binary was put on stable storage after it
  bool ok() const { return what == outcome::done && synced; }
};

// Scan, version word, index. Prints only the version line.
block_outcome locate_block(run_context& ctx, ddr_file& bin, std::uint32_t pattern,
                           block_location& at);
// Scan, version, index, reading and decoding into info (all zero before). Prints the version
// line and the skew sub-version note (ctx.skew_state records it).
block_outcome read_block(run_context& ctx, ddr_file& bin, std::uint32_t pattern, block_location& at,
                         base_info& info);
// The second half of modify mode, once info_from_txt and ctx.updata_availd hold the parameter
// text: scan, read, decode, merge, encode, write back, sync. Prints what read_block prints, then
// the new configuration and the warnings of values that do not fit.
block_outcome modify_block(run_context& ctx, base_info& info_from_txt, ddr_file& bin);
// The tool's own message for an outcome of reading (the last line of a run that ends there).
const char* tool_message(const block_outcome& o);

// Why a binary does not store a parameter (or that it does).
enum class storage : std::uint8_t {
  stored,
  no_section,     // its section is absent from the index (or counts as absent)
  version_lacks,  // the block's version has no place for it
  section_short,  // its section is shorter than the word that holds it
  skew_not_read,  // a tq6951 skew parameter: the skew section is not read for this binary
  reads_as_zero,  // the version-1 record writes it, but it always reads back as 0
  short_form,     // the version-1 short form (older-family file name) leaves its word alone
};
struct stored_field {
  storage why = storage::version_lacks;
  std::uint8_t width = 0;            // bits, when stored
  const section_desc* in = nullptr;  // the section that holds it (versions 2 to 5), if any
  bool zero_keeps = false;           // a tq6951 skew lane: 0 keeps the lane as it is
};
// Where each parameter lives in the block that read_block found, as encoding and writing back
// would treat it: the same presence, size and skew rules.
std::array<stored_field, base_info_tag_size> stored_fields(const run_context& ctx,
                                                           const block_location& at);

// Two sections that writing back would write over each other, named ("DDR2 and LPDDR2"; the
// start tag, version word and index are "index"); "" when every section that is written has
// words of its own. A tq6951 skew section of another sub-version counts by its first word.
std::string overlapping_sections(const run_context& ctx, const block_location& at);

// Reading and decoding (versions 0 to 5). bin_skew_offset is the position of the version word.
block_outcome bin_data_readout(run_context& ctx, ddr_file& filebin,
                               const sdram_head_info_index_v2& index, block_image& read_out,
                               std::uint64_t bin_skew_offset);
void bin_data_2_info(run_context& ctx, base_info& info, const block_image& in,
                     const sdram_head_info_index_v2& index);

// Merging, encoding and writing back.
void txt_data_2_bin_data(run_context& ctx, base_info& info, const base_info& in_info,
                         const sdram_head_info_index_v2& index, block_image& out);
void modefy_2_bin_data(run_context& ctx, const base_info& info, block_image& out,
                       const sdram_head_info_index_v2& index);
// Writing back (versions 2 to 5): every present section in the tool's order, and the skew record
// when it was read. Prints nothing.
block_outcome write_sections(run_context& ctx, ddr_file& filebin, std::uint64_t bin_skew_offset,
                             const block_image& write_in, const sdram_head_info_index_v2& index);
// Report mode from the block scan on; report is open for writing.
void run_report(run_context& ctx, ddr_file& bin, std::FILE* report);
// Modify mode from reading the parameter text on.
void run_modify(run_context& ctx, text_source& params, ddr_file& bin);

}  // namespace vexdram
