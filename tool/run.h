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
