// One run of the tool, after its files are open: block scan, version, index, reading, decoding,
// then the report, or the merge, encoding and writing back. All of one run's state lives in its
// run_context, so the core can run twice in one process with nothing left over.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "catalogue.h"
#include "codec.h"
#include "ddr_file.h"
#include "layout.h"
#include "param_text.h"
#include "tq6951_dram.h"

namespace vexdram {

struct run_context {
  std::FILE* out = stdout;     // every message goes here
  std::string chip_info;       // the chip argument, after the chip check
  bool gen_txt_from_bin = false;
  std::uint32_t version = 0;
  state_table updata_availd{};
  reserved_store reserved{};
  tq6951_skew_info skew{};     // loaded only for chip tq6951 with skew sub-version 1
  bool tq637y_en = false;      // the binary's path names an older-family chip
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

// Scan, version word, index. False when the run ends here (its message printed on ctx.out).
bool locate_block(run_context& ctx, ddr_file& bin, std::uint32_t pattern, block_location& at);
// Scan, version, index, reading and decoding into info (all zero before). False when the run ends
// before decoding (its message printed).
bool read_block(run_context& ctx, ddr_file& bin, std::uint32_t pattern, block_location& at,
                base_info& info);
// The second half of modify mode, once info_from_txt and ctx.updata_availd hold the parameter
// text: scan, read, decode, merge, encode, write back, sync. True when every present section was
// written and the binary synced ("modify end").
bool modify_block(run_context& ctx, base_info& info_from_txt, ddr_file& bin);

// Why a binary does not store a parameter (or that it does).
enum class storage : std::uint8_t {
  stored,
  no_section,       // its section is absent from the index (or counts as absent)
  version_lacks,    // the block's version has no place for it
  section_short,    // its section is shorter than the word that holds it
  skew_not_read,    // a tq6951 skew parameter: the skew section is not read for this binary
  reads_as_zero,    // the version-1 record writes it, but it always reads back as 0
  short_form,       // the version-1 short form (older-family file name) leaves its word alone
};
struct stored_field {
  storage why = storage::version_lacks;
  std::uint8_t width = 0;           // bits, when stored
  const section_desc* in = nullptr; // the section that holds it (versions 2 to 5), if any
  bool zero_keeps = false;          // a tq6951 skew lane: 0 keeps the lane as it is
};
// Where each parameter lives in the block that read_block found, as encoding and writing back
// would treat it: the same presence, size and skew rules.
std::array<stored_field, base_info_tag_size> stored_fields(const run_context& ctx,
                                                            const block_location& at);

// Two sections that writing back would write over each other, named ("DDR2 and LPDDR2"; the
// start tag, version word and index are "index"); "" when every section that is written has
// words of its own.
std::string overlapping_sections(const run_context& ctx, const block_location& at);

// Reading and decoding (versions 0 to 5). bin_skew_offset is the position of the version word.
int bin_data_readout(run_context& ctx, ddr_file& filebin, const sdram_head_info_index_v2& index,
                     block_image& read_out, std::uint64_t bin_skew_offset);
int bin_data_2_info(run_context& ctx, base_info& info, const block_image& in,
                    const sdram_head_info_index_v2& index);

// Merging, encoding and writing back.
int txt_data_2_bin_data(run_context& ctx, base_info& info, const base_info& in_info,
                        const sdram_head_info_index_v2& index, block_image& out);
int modefy_2_bin_data(run_context& ctx, const base_info& info, block_image& out,
                      const sdram_head_info_index_v2& index);
int write_in_bin_data_v2(run_context& ctx, ddr_file& filebin, std::uint64_t bin_skew_offset,
                         const block_image& write_in, const sdram_head_info_index_v2& index);

// Report mode from the block scan on; report is open for writing.
void run_report(run_context& ctx, ddr_file& bin, std::FILE* report);
// Modify mode from reading the parameter text on.
void run_modify(run_context& ctx, text_source& params, ddr_file& bin);

}  // namespace vexdram
